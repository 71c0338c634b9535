/*
 * Reading the input: one open, one allocation, one read.
 *
 * Only a regular file is read. A pipe, a FIFO or a device has no size to
 * allocate for and could block forever; the open itself never blocks (a
 * FIFO without a writer would), and the file is judged by what was opened,
 * not by a second look at the path.
 */
#include "base/input_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

file_identity identity_of(const struct stat& st) {
    file_identity id;
    id.dev = static_cast<uint64_t>(st.st_dev);
    id.ino = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<int64_t>(st.st_size);
    id.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.ctime_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

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

// Reads exactly size bytes at the start of fd; 0, or an errno (0 when the
// file simply ended early, as attribute files that claim a page do).
int read_exactly(int fd, char* dst, size_t size, bool& complete) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, dst + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    complete = done == size;
    return 0;
}

unique_fd::~unique_fd() {
    if (fd >= 0) close(fd);
}

void unique_fd::reset(int new_fd) {
    if (fd >= 0) close(fd);
    fd = new_fd;
}

bool input_unchanged(const input_file& input) {
    struct stat st;
    return input.file.fd >= 0 && fstat(input.file.fd, &st) == 0 && identity_of(st) == input.identity;
}

status read_input_file(const char* path, input_file& input) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failure(problem::input_unopenable, 0, errno);
    input.file.reset(fd);
    struct stat st;
    if (fstat(fd, &st) != 0) return failure(problem::input_unopenable, 0, errno);
    // A directory is named by the errno a read of it would give.
    if (!S_ISREG(st.st_mode)) return failure(problem::input_not_regular, 0, S_ISDIR(st.st_mode) ? EISDIR : 0);
    if (st.st_size >= INPUT_LIMIT) return failure(problem::input_too_large, st.st_size);

    size_t size = static_cast<size_t>(st.st_size);
    input.data.reset(static_cast<char*>(malloc(size + 1)));
    if (!input.data) return failure(problem::input_no_memory, 0, ENOMEM);
    ask_for_huge_pages(input.data.get(), size + 1);
    bool complete = false;
    int err = read_exactly(fd, input.data.get(), size, complete);
    if (err || !complete) {
        input.data.reset();
        return failure(problem::input_short_read, 0, err);
    }
    input.data[size] = '\0';
    input.len = static_cast<int32_t>(size);
    input.identity = identity_of(st);
    return {};
}

status copy_input(const void* data, size_t len, input_file& input) {
    if (len >= static_cast<size_t>(INPUT_LIMIT)) return failure(problem::input_too_large, static_cast<int64_t>(len));
    input.data.reset(static_cast<char*>(malloc(len + 1)));
    if (!input.data) return failure(problem::input_no_memory, 0, ENOMEM);
    if (len) memcpy(input.data.get(), data, len);
    input.data[len] = '\0';
    input.len = static_cast<int32_t>(len);
    return {};
}
