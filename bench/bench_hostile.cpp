/*
 * Scaling benchmark: optimize time and peak memory over series of
 * generated inputs whose size grows by 10 (or ~3), so that a step whose
 * cost grows faster than its input shows as a rising time per item. Times
 * are the best of three runs.
 *
 *   bench_hostile [SERIES...]     (default: all)
 *
 * Series: tiny (objects), flat (pages under one node), prev (incremental
 * cross-reference stream sections), shared (n pages x n shared objects;
 * the time per item is per pair). Each run is the command-line tool in a
 * process of its own, so the peak resident size is that run's.
 */
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "hostile_pdfs.h"

namespace {

struct series {
    const char* name;
    const char* unit;
    std::vector<long> sizes;
    std::function<std::string(long)> make;
    std::function<double(long)> items;  // what the time per item divides by
};

struct run_result {
    bool ok;
    double seconds;
    long peak_kib;
};

// The command-line tool in a process of its own, timed here. Its peak comes
// from /usr/bin/time, which starts it from a small process: a child forked
// from this one would count the pages it shares with us at the fork (the
// kernel keeps the larger of the two high-water marks across exec).
run_result optimize_in_child(const std::string& in, const std::string& out, const std::string& peak_file) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        execl("/usr/bin/time", "time", "-f", "%M", "-o", peak_file.c_str(), MORVEL_CLI, "optimize", in.c_str(),
              out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int st = 0;
    waitpid(child, &st, 0);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    long peak = 0;
    std::ifstream(peak_file) >> peak;
    return {WIFEXITED(st) && WEXITSTATUS(st) == 0, s, peak};
}

}  // namespace

int main(int argc, char** argv) {
    auto same = [](long n) { return static_cast<double>(n); };
    const std::vector<series> all = {
        {"tiny", "objects", {10000, 100000, 1000000}, hostile::tiny_objects, same},
        {"flat", "pages", {10000, 100000, 1000000}, hostile::flat_tree, same},
        {"prev", "sections", {10000, 100000, 1000000}, hostile::prev_chain, same},
        // n pages x n shared objects: an item is one (page, object) pair.
        {"shared", "pages", {1000, 3000, 10000}, [](long n) { return hostile::pages_shared(n, n); },
         [](long n) { return static_cast<double>(n) * static_cast<double>(n); }},
    };
    char dir[] = "/tmp/morvel-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string in = std::string(dir) + "/in.pdf", out = std::string(dir) + "/out.pdf";
    std::string peak_file = std::string(dir) + "/peak";
    printf("%-7s %9s %-9s %10s %10s %9s %12s\n", "series", "size", "unit", "input MB", "seconds", "peak MB",
           "ns per item");
    for (const series& s : all) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; i++) wanted |= strcmp(argv[i], s.name) == 0;
        if (!wanted) continue;
        for (long n : s.sizes) {
            std::string pdf = s.make(n);
            std::ofstream(in, std::ios::binary).write(pdf.data(), static_cast<std::streamsize>(pdf.size()));
            // Best time of three runs; the peak of the largest.
            run_result r = optimize_in_child(in, out, peak_file);
            for (int k = 0; k < 2 && r.ok; k++) {
                run_result again = optimize_in_child(in, out, peak_file);
                r.seconds = std::min(r.seconds, again.seconds);
                r.peak_kib = std::max(r.peak_kib, again.peak_kib);
            }
            printf("%-7s %9ld %-9s %10.1f %10.3f %9.1f %12.1f%s\n", s.name, n, s.unit, static_cast<double>(pdf.size()) / 1e6, r.seconds,
                   static_cast<double>(r.peak_kib) / 1024.0, r.seconds * 1e9 / s.items(n), r.ok ? "" : "  (failed)");
            fflush(stdout);
        }
    }
    unlink(in.c_str());
    unlink(out.c_str());
    unlink(peak_file.c_str());
    rmdir(dir);
    return 0;
}
