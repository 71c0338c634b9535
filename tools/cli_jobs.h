/*
 * One file's work for the command line, and a batch of them on several
 * threads with results handed back in argument order.
 */
#ifndef MORVEL_TOOLS_CLI_JOBS_H
#define MORVEL_TOOLS_CLI_JOBS_H

#include <cstdint>
#include <functional>
#include <string>

// How a file ended, in the order in which exit statuses rank them.
enum class outcome { ok = 0, failed = 1, unreadable = 3 };

struct file_result {
    std::string path;
    outcome how = outcome::ok;
    std::string reason;       // the library's message; empty on success
    int sys_errno = 0;        // of the system call that failed, if one did
    int64_t input_bytes = -1;  // -1: unknown
    int64_t output_bytes = -1;
    int64_t pages = -1;       // the linearized file's /N
    double ms = 0;
};

// `check` of one file ("-": standard input).
file_result check_file(const std::string& path);

// `optimize` of one file to out ("-" as either: standard input, output).
file_result optimize_file(const std::string& in, const std::string& out, unsigned flags);

// Runs work(i) for i < count on up to jobs threads; report(i) is called on
// the calling thread for each i in increasing order, as soon as it and all
// before it are done.
void run_in_order(size_t count, int jobs, const std::function<void(size_t)>& work,
                  const std::function<void(size_t)>& report);

#endif
