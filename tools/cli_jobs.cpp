/*
 * The command line's per-file work over the library's public calls.
 * Files go through the file calls (the library reads the input and
 * replaces the output safely); standard input and output go through the
 * in-memory calls, whose "<memory>" in messages becomes the name the user
 * gave.
 */
#include "cli_jobs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "morvel.h"

namespace {

constexpr size_t HEAD_BYTES = 1023;
constexpr size_t READ_LIMIT = (size_t(1) << 31) + 1;  // enough for the library to refuse

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// /N of a linearization dictionary in the first bytes of a file, or -1.
int64_t pages_in_head(const char* p, size_t n) {
    std::string head(p, n < HEAD_BYTES ? n : HEAD_BYTES);
    size_t lin = head.find("/Linearized");
    if (lin == std::string::npos) return -1;
    for (size_t at = head.find("/N", lin); at != std::string::npos; at = head.find("/N", at + 2)) {
        size_t v = at + 2;
        if (v < head.size() && (isalnum(static_cast<unsigned char>(head[v])) || head[v] == '#')) continue;
        while (v < head.size() && isspace(static_cast<unsigned char>(head[v]))) v++;
        char* end = nullptr;
        long long pages = strtoll(head.c_str() + v, &end, 10);
        return end != head.c_str() + v ? pages : -1;
    }
    return -1;
}

int64_t pages_in_file(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return -1;
    char buf[HEAD_BYTES];
    size_t n = fread(buf, 1, sizeof buf, f);
    fclose(f);
    return pages_in_head(buf, n);
}

int64_t size_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// The library's last failure, "<memory>" replaced by the user's name.
void take_failure(file_result& r, const std::string& name) {
    r.reason = morvel_last_error();
    r.sys_errno = morvel_last_errno();
    const std::string memory = "'<memory>'";
    for (size_t at; (at = r.reason.find(memory)) != std::string::npos;) r.reason.replace(at, memory.size(), "'" + name + "'");
}

void fail_with(file_result& r, outcome how, const std::string& reason, int err) {
    r.how = how;
    r.reason = reason;
    r.sys_errno = err;
}

// The whole input, from standard input or a regular file, into data.
bool read_all(const std::string& path, std::string& data, file_result& r) {
    int fd = 0;
    if (path != "-") {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return fail_with(r, outcome::unreadable, "cannot open file '" + path + "'", errno), false;
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            int err = S_ISDIR(st.st_mode) ? EISDIR : 0;
            close(fd);
            return fail_with(r, outcome::unreadable, "'" + path + "' is not a regular file", err), false;
        }
    }
    char buf[1 << 16];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            if (fd) close(fd);
            return fail_with(r, outcome::unreadable, "read error on '" + path + "'", err), false;
        }
        if (n == 0 || data.size() >= READ_LIMIT) break;
        data.append(buf, static_cast<size_t>(n));
    }
    if (fd) close(fd);
    r.input_bytes = static_cast<int64_t>(data.size());
    return true;
}

bool write_fd(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// The mode bits a new file loses (reading the mask means setting it; only
// a single file's run writes this way, never a batch on threads).
mode_t process_umask() {
    mode_t m = umask(0);
    umask(m);
    return m;
}

// Replaces path with bytes through a temporary file beside it.
bool write_replacing(const std::string& path, const char* p, size_t n, file_result& r) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string tmp = dir + "/.morvel-cli-XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return fail_with(r, outcome::failed, "cannot open '" + path + "' for writing", errno), false;
    bool ok = write_fd(fd, p, n) && fchmod(fd, 0666 & ~process_umask()) == 0;
    int err = ok ? 0 : errno;
    if (close(fd) != 0 && ok) ok = false, err = errno;
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false, err = errno;
    if (!ok) {
        unlink(tmp.c_str());
        return fail_with(r, outcome::failed, "cannot write '" + path + "'", err), false;
    }
    return true;
}

bool unreadable_input(const std::string& reason, const std::string& in) {
    return reason == "cannot open file '" + in + "'" || reason == "'" + in + "' is not a regular file" ||
           reason == "read error on '" + in + "'";
}

}  // namespace

file_result check_file(const std::string& path) {
    auto start = std::chrono::steady_clock::now();
    file_result r;
    r.path = path;
    if (path == "-") {
        std::string data;
        if (read_all(path, data, r)) {
            if (morvel_check_mem(data.data(), data.size()))
                r.pages = pages_in_head(data.data(), data.size());
            else
                r.how = outcome::failed, take_failure(r, path);
        }
    } else {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            fail_with(r, outcome::unreadable, "cannot stat '" + path + "'", errno);
        } else if (!S_ISREG(st.st_mode)) {
            fail_with(r, outcome::unreadable, "'" + path + "' is not a regular file", S_ISDIR(st.st_mode) ? EISDIR : 0);
        } else {
            r.input_bytes = static_cast<int64_t>(st.st_size);
            if (morvel_check(path.c_str())) {
                r.pages = pages_in_file(path);
            } else {
                take_failure(r, path);
                r.how = r.sys_errno ? outcome::unreadable : outcome::failed;
            }
        }
    }
    r.ms = ms_since(start);
    return r;
}

file_result optimize_file(const std::string& in, const std::string& out, unsigned flags) {
    auto start = std::chrono::steady_clock::now();
    file_result r;
    r.path = in;
    if (in != "-" && out != "-") {
        r.input_bytes = size_of(in);
        if (morvel_optimize_ex(in.c_str(), out.c_str(), flags)) {
            r.output_bytes = size_of(out);
            r.pages = pages_in_file(out);
        } else {
            take_failure(r, in);
            r.how = unreadable_input(r.reason, in) ? outcome::unreadable : outcome::failed;
        }
        r.ms = ms_since(start);
        return r;
    }
    std::string data;
    if (read_all(in, data, r)) {
        void* bytes = nullptr;
        size_t len = 0;
        if (!morvel_optimize_mem(data.data(), data.size(), &bytes, &len, flags)) {
            r.how = outcome::failed;
            take_failure(r, in);
        } else {
            const char* p = static_cast<const char*>(bytes);
            r.output_bytes = static_cast<int64_t>(len);
            r.pages = pages_in_head(p, len);
            if (out == "-") {
                if (!write_fd(1, p, len)) fail_with(r, outcome::failed, "cannot write standard output", errno);
            } else {
                write_replacing(out, p, len, r);
            }
            morvel_free(bytes);
        }
    }
    r.ms = ms_since(start);
    return r;
}

void run_in_order(size_t count, int jobs, const std::function<void(size_t)>& work,
                  const std::function<void(size_t)>& report) {
    size_t threads = jobs > 1 ? std::min(static_cast<size_t>(jobs), count) : 1;
    if (threads <= 1) {
        for (size_t i = 0; i < count; i++) work(i), report(i);
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    std::vector<char> done(count, 0);
    std::atomic<size_t> next{0};
    std::vector<std::thread> pool;
    for (size_t t = 0; t < threads; t++) {
        pool.emplace_back([&] {
            for (size_t i; (i = next.fetch_add(1)) < count;) {
                work(i);
                std::lock_guard<std::mutex> lock(m);
                done[i] = 1;
                cv.notify_all();
            }
        });
    }
    for (size_t i = 0; i < count; i++) {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return done[i] != 0; });
        lock.unlock();
        report(i);
    }
    for (std::thread& t : pool) t.join();
}
