// libFuzzer target: any bytes through the whole rewrite in both output
// forms, in memory. Nothing may crash, leak or read out of bounds; a
// success must give bytes that pass the linearization check, and the check
// must cope with any input.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "api/check.h"
#include "api/pipeline.h"
#include "base/input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_bytes(reinterpret_cast<const char*>(data), size, "<memory>");
    for (bool compact : {false, true}) {
        document doc;
        if (!copy_input(data, size, doc.input).ok()) return 0;
        try {
            output_options options;
            options.object_streams = compact;
            linearized_file out;
            if (!linearize(doc, options, out).ok()) return 0;
            std::string bytes = out.bytes();
            if (bytes.size() != out.image.total || !check_bytes(bytes.data(), bytes.size(), "<memory>")) abort();
        } catch (const std::bad_alloc&) {
            // A claim too large for the fuzzer's memory limit: reported, not a fault.
        }
    }
    return 0;
}
