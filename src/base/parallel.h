/*
 * A few threads for the stages whose work splits into independent items:
 * reading a large input, reading every object's references, serialising
 * objects, compressing object streams.
 *
 * The calling thread always takes part, so a machine (or a process limit)
 * that gives no thread still finishes the work, only slower. An exception
 * thrown by an item (std::bad_alloc) ends the work on every thread and is
 * thrown again on the calling thread.
 */
#ifndef MORVEL_BASE_PARALLEL_H
#define MORVEL_BASE_PARALLEL_H

#include <cstddef>
#include <functional>

// How many threads work worth `units` of some measure should use, given
// that `per_thread` units pay for one thread: from 1 to the cores there
// are, at most 4 (at most thread_limit, which tests lower to compare the
// work done on one thread with the work spread).
size_t threads_for(size_t units, size_t per_thread);
extern size_t thread_limit;

// Calls item(i, worker) once for every i in [0, count), on `threads`
// threads (the calling one among them); items are handed out in order,
// `batch` at a time. worker, below threads, names the thread, for state of
// its own.
void for_each_item(size_t count, size_t threads, size_t batch, const std::function<void(size_t, size_t)>& item);

#endif
