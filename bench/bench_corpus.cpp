/*
 * In-process time of one optimize call per file, as a host that loads the
 * library sees it (no process start): every file given, in both forms,
 * each timed over several rounds; prints the median of each file and the
 * median and total over the files.
 *
 *   bench_corpus [-n ROUNDS] FILE...
 *
 * Outputs go to a scratch folder (new files, not synced) and are removed.
 */
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "morvel.h"

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The median milliseconds of one file's calls, or -1 when the call fails.
double time_file(const char* in, const std::string& out, unsigned flags, int rounds) {
    std::vector<double> ms;
    for (int r = 0; r < rounds; r++) {
        unlink(out.c_str());
        auto t0 = std::chrono::steady_clock::now();
        int ok = morvel_optimize_ex(in, out.c_str(), flags);
        auto t1 = std::chrono::steady_clock::now();
        if (!ok) return -1;
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    unlink(out.c_str());
    return median(ms);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5, first = 1;
    if (argc > 2 && strcmp(argv[1], "-n") == 0) rounds = std::max(1, atoi(argv[2])), first = 3;
    char dir[] = "/tmp/bench_corpus.XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string out = std::string(dir) + "/out.pdf";
    for (unsigned flags : {0u, unsigned{MORVEL_OBJECT_STREAMS}}) {
        std::vector<double> medians;
        double total = 0;
        for (int i = first; i < argc; i++) {
            double ms = time_file(argv[i], out, flags, rounds);
            if (ms < 0) continue;
            printf("%-60s %s %9.3f ms\n", argv[i], flags ? "compact" : "default", ms);
            medians.push_back(ms);
            total += ms;
        }
        printf("%s form: %zu files, median %.3f ms, total %.1f ms\n", flags ? "compact" : "default", medians.size(),
               median(medians), total);
    }
    rmdir(dir);
    return 0;
}
