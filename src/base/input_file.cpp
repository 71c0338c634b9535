/*
 * Reading the input: one open, one allocation, one read (of a few parts
 * at once when the file is large).
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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "base/parallel.h"

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

// Inputs this large get a mapping of their own, aligned so that the kernel
// can back it with huge pages: faulting in a 200 MB buffer 4 KiB at a time
// costs more than reading it. Only a hint; smaller inputs use malloc.
//
// Under some virtual machines a fresh huge page is the slowest memory there
// is: free memory the guest handed back to its host is slow to take again,
// and clearing a huge page of it costs ten times a warm one and more than
// small pages would. A part whose huge pages arrive that slowly reads the
// rest of its range into small pages.
constexpr size_t MAPPED_MIN = size_t{4} << 20;
constexpr size_t HUGE_PAGE = size_t{2} << 20;

size_t round_up(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// bytes of fresh memory for the input, or null; *mapped says how it is to
// be released.
char* allocate_input(size_t bytes, size_t* mapped) {
    *mapped = 0;
    if (bytes < MAPPED_MIN) return static_cast<char*>(malloc(bytes));
    size_t len = round_up(bytes, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
    size_t span = len + HUGE_PAGE;
    void* m = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    auto* base = static_cast<char*>(m);
    char* start = reinterpret_cast<char*>(round_up(reinterpret_cast<uintptr_t>(base), HUGE_PAGE));
    size_t head = static_cast<size_t>(start - base);
    if (head) munmap(base, head);
    if (span - head > len) munmap(start + len, span - head - len);
#ifdef MADV_HUGEPAGE
    madvise(start, len, MADV_HUGEPAGE);
#endif
    *mapped = len;
    return start;
}

// The kernel clears and fills the fresh pages of each part of a large
// input in the thread that reads it, so parts read at once arrive sooner.
constexpr size_t READ_PART = size_t{8} << 20;

// A warm huge page is cleared and filled in about a quarter of a
// millisecond, a host-cold one in several; small pages take about 1.2 ms
// for the same two megabytes. A part goes on with huge pages while they
// have cost less than small pages would have, give or take one cold page:
// warm memory has a few among many.
constexpr auto COLD_PAGES_FORGIVEN = std::chrono::milliseconds(5);

// Reads exactly size bytes from offset from of fd into dst + from (from a
// huge page boundary when huge); 0, or an errno (0 when the file simply
// ended early, as attribute files that claim a page do).
int read_range(int fd, char* dst, size_t from, size_t size, bool huge, bool& complete) {
    size_t done = 0;
    std::chrono::steady_clock::duration spent{};
    int64_t huge_pages = 0;
    while (done < size) {
        size_t want = huge ? std::min(size - done, HUGE_PAGE) : size - done;
        auto started = std::chrono::steady_clock::now();
        ssize_t n = pread(fd, dst + from + done, want, static_cast<off_t>(from + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        done += static_cast<size_t>(n);
        if (!huge) continue;
        spent += std::chrono::steady_clock::now() - started;
        if (spent > ++huge_pages * small_pages_per_huge_page + COLD_PAGES_FORGIVEN) {
            huge = false;
#ifdef MADV_NOHUGEPAGE
            size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
            size_t at = round_up(from + done, page), end = round_up(from + size, page);
            if (end > at) madvise(dst + at, end - at, MADV_NOHUGEPAGE);
#endif
        }
    }
    complete = done == size;
    return 0;
}

int read_exactly(int fd, char* dst, size_t size, bool huge, bool& complete) {
    size_t parts = size < 2 * READ_PART ? 1 : threads_for(size, READ_PART);
    if (parts == 1) return read_range(fd, dst, 0, size, huge, complete);
    size_t part = round_up((size + parts - 1) / parts, HUGE_PAGE);
    std::vector<int> errs(parts, 0);
    std::vector<char> whole(parts, 1);
    for_each_item(parts, parts, 1, [&](size_t i, size_t) {
        size_t from = std::min(i * part, size);
        bool got = false;
        errs[i] = read_range(fd, dst, from, std::min(part, size - from), huge, got);
        whole[i] = got;
    });
    complete = std::all_of(whole.begin(), whole.end(), [](char c) { return c != 0; });
    for (int e : errs)
        if (e) return e;
    return 0;
}

}  // namespace

std::chrono::microseconds small_pages_per_huge_page{1200};

void input_release::operator()(char* p) const {
    if (mapped) munmap(p, mapped);
    else free(p);
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
    size_t mapped = 0;
    char* bytes = allocate_input(size + 1, &mapped);
    if (!bytes) return failure(problem::input_no_memory, 0, ENOMEM);
    input.data = std::unique_ptr<char[], input_release>(bytes, input_release{mapped});
    bool complete = false;
    int err = read_exactly(fd, input.data.get(), size, mapped != 0, complete);
    if (err || !complete) {
        input.data.reset();
        return failure(problem::input_short_read, 0, err);
    }
    input.data[size] = '\0';
    input.len = static_cast<int32_t>(size);
    input.identity = identity_of(st);
    return {};
}

void release_input_range(input_file& input, const char* from, size_t len) {
    if (input.file.fd < 0 || input.data.get_deleter().mapped == 0) return;
    const char* base = input.data.get();
    if (from < base || from + len > base + input.len) return;
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    uintptr_t lo = round_up(reinterpret_cast<uintptr_t>(from), page);
    uintptr_t hi = (reinterpret_cast<uintptr_t>(from) + len) / page * page;
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_DONTNEED);
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
