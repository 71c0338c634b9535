/*
 * Loading benchmark: reading, object scan, object-stream expansion and
 * duplicate resolution of each file given, timed over several rounds.
 *
 *   bench_load [-n ROUNDS] FILE...
 *
 * Each file is loaded in a child process of its own, so that the peak
 * resident size reported is that of loading this one file. The budget
 * column is twice the file size plus 200 bytes per object.
 */
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "load/loader.h"

namespace {

struct round_result {
    double ms;
    size_t objects;
    int32_t len;
};

bool load_once(const char* path, round_result& r) {
    auto t0 = std::chrono::steady_clock::now();
    document doc;
    if (!read_input_file(path, doc.input).ok() || !load_document(doc).ok()) return false;
    auto t1 = std::chrono::steady_clock::now();
    r.ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
    r.objects = doc.objects.items.size();
    r.len = doc.input.len;
    return true;
}

// Runs in the child: prints one line and exits 0, or 1 on failure.
int bench_file(const char* path, int rounds) {
    std::vector<double> times;
    round_result r{};
    for (int i = 0; i < rounds; i++) {
        if (!load_once(path, r)) {
            fprintf(stderr, "%s: load failed\n", path);
            return 1;
        }
        times.push_back(r.ms);
    }
    std::sort(times.begin(), times.end());
    printf("%-44s %12d %8zu %9.1f %9.1f", path, r.len, r.objects, times.front(), times[times.size() / 2]);
    double budget = (2.0 * r.len + 200.0 * static_cast<double>(r.objects)) / 1048576.0;
    printf(" %10.1f", budget);
    fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "-n") == 0) {
        rounds = std::max(1, atoi(argv[2]));
        first = 3;
    }
    if (first >= argc) {
        fprintf(stderr, "usage: bench_load [-n ROUNDS] FILE...\n");
        return 2;
    }
    printf("%-44s %12s %8s %9s %9s %10s %10s\n", "file", "bytes", "objects", "best ms", "median ms",
           "budget MB", "peak MB");
    int status = 0;
    for (int i = first; i < argc; i++) {
        fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) _exit(bench_file(argv[i], rounds));
        int st = 0;
        struct rusage ru {};
        if (pid < 0 || wait4(pid, &st, 0, &ru) < 0 || !WIFEXITED(st) || WEXITSTATUS(st) != 0) {
            status = 1;
            printf("\n");
            continue;
        }
        printf(" %10.1f\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
    }
    return status;
}
