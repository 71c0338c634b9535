// Runs a fuzz target's entry point over every file of the given
// directories, so that the seed corpus is replayed by ordinary builds (and
// their sanitizers) without libFuzzer. Fails when a directory is empty.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream f(entry.path(), std::ios::binary);
            std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            files++;
        }
        if (files == 0) {
            fprintf(stderr, "no seeds in %s\n", argv[i]);
            return 1;
        }
        printf("%s: %zu inputs\n", argv[i], files);
    }
    return 0;
}
