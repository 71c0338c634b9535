// libFuzzer target: any bytes as an input file to morvel_optimize and
// morvel_check. Neither may crash, leak or read out of bounds; a success
// must produce a file that passes the check.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "morvel.h"

static std::string scratch_path(const char* name) {
    static std::string dir = [] {
        char tmpl[] = "/tmp/morvel-fuzz-XXXXXX";
        if (!mkdtemp(tmpl)) abort();
        return std::string(tmpl);
    }();
    return dir + "/" + name;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in = scratch_path("in.pdf"), out = scratch_path("out.pdf");
    FILE* f = fopen(in.c_str(), "wb");
    if (!f) abort();
    fwrite(data, 1, size, f);
    fclose(f);
    morvel_check(in.c_str());
    unlink(out.c_str());
    if (morvel_optimize(in.c_str(), out.c_str()) && !morvel_check(out.c_str())) abort();
    return 0;
}
