/*
 * Items handed out through one atomic counter; the first exception stops
 * the hand-out and is kept for the calling thread.
 */
#include "base/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

size_t thread_limit = 4;

size_t threads_for(size_t units, size_t per_thread) {
    size_t cores = std::max<size_t>(1, std::thread::hardware_concurrency());
    size_t wanted = per_thread > 0 ? units / per_thread : 1;
    return std::clamp<size_t>(wanted, 1, std::max<size_t>(1, std::min(cores, thread_limit)));
}

void for_each_item(size_t count, size_t threads, size_t batch, const std::function<void(size_t, size_t)>& item) {
    batch = std::max<size_t>(batch, 1);
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::exception_ptr error;
    std::mutex error_lock;
    auto work = [&](size_t worker) {
        try {
            for (size_t from; !stop && (from = next.fetch_add(batch)) < count;)
                for (size_t i = from; i < std::min(from + batch, count); i++) item(i, worker);
        } catch (...) {
            std::lock_guard<std::mutex> hold(error_lock);
            if (!error) error = std::current_exception();
            stop = true;
        }
    };
    {
        std::vector<std::jthread> helpers;
        helpers.reserve(threads);
        try {
            for (size_t t = 1; t < threads && t * batch < count; t++) helpers.emplace_back(work, t);
        } catch (const std::system_error&) {
            // No more threads to be had: those started and this one share the work.
        }
        work(0);
    }
    if (error) std::rethrow_exception(error);
}
