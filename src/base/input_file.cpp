/*
 * Reading the input: one allocation, one read.
 */
#include "base/input_file.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace {

struct file_closer {
    void operator()(FILE* f) const { fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// Reading a large file faults in every page of its buffer; with huge pages
// that is a few hundred faults instead of tens of thousands. Only a hint.
void ask_for_huge_pages(char* p, size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t HUGE_PAGE = uintptr_t{1} << 21;
    uintptr_t lo = (reinterpret_cast<uintptr_t>(p) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + size) & ~(HUGE_PAGE - 1);
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
#else
    (void)p;
    (void)size;
#endif
}

}  // namespace

status read_input_file(const char* path, input_file& input) {
    // Refuse before allocating anything; when stat fails, opening the file
    // reports the problem.
    struct stat st;
    if (stat(path, &st) == 0 && st.st_size >= INPUT_LIMIT) return failure(problem::input_too_large, st.st_size);

    file_ptr f(fopen(path, "rb"));
    if (!f) return failure(problem::input_unopenable, 0, errno);
    if (fseek(f.get(), 0, SEEK_END) != 0) return failure(problem::input_unseekable, 0, errno);
    long n = ftell(f.get());
    if (n < 0) return failure(problem::input_length_unknown, 0, errno);
    if (n >= INPUT_LIMIT) return failure(problem::input_too_large, n);
    if (fseek(f.get(), 0, SEEK_SET) != 0) return failure(problem::input_length_unknown, 0, errno);

    size_t size = static_cast<size_t>(n);
    input.data.reset(static_cast<char*>(malloc(size + 1)));
    if (!input.data) return failure(problem::input_no_memory, 0, ENOMEM);
    ask_for_huge_pages(input.data.get(), size + 1);
    if (size > 0 && fread(input.data.get(), 1, size, f.get()) != size) {
        int err = ferror(f.get()) ? errno : 0;
        input.data.reset();
        return failure(problem::input_short_read, 0, err);
    }
    input.data[size] = '\0';
    input.len = static_cast<int32_t>(n);
    return {};
}
