/*
 * Writing the finished output to disk without ever leaving a partial file.
 *
 * The bytes go to a new file in the target's directory, created unnamed
 * (O_TMPFILE) where the file system allows it: killed at any moment, the
 * process leaves nothing behind. Only once every byte is written does the
 * file get a temporary name and is renamed over the target, so the window
 * in which a name exists is those two calls. Where unnamed files are not
 * available a named one (".morvel-XXXXXXXXXXXXXXXX.tmp") takes its place;
 * any failure removes it. Either way a failed call leaves an existing
 * output (which may be the input itself) as it was.
 *
 * Replacing an existing file, the new data is synced before the rename and
 * the directory after it, so a crash cannot leave the old file gone and the
 * new one empty; a new output is not synced, as cp does not. The replaced
 * file's permission bits (never set-user-ID or set-group-ID), owner and
 * group are carried over where the process may set them. An existing output
 * that is not a regular file (a terminal, a device, a FIFO with a reader)
 * cannot be replaced by renaming and is written directly.
 *
 * Most output bytes are the input's stream data, unchanged: long runs of
 * them are copied from the still-open input file, inside the kernel where
 * it allows (copy_file_range, else sendfile), else through a small buffer;
 * the rest is written from memory. The input buffer's copies of those long
 * runs are never used, so the caller may have released them. Since the
 * file is read again, it must not have changed since it was first read:
 * its identity (device, inode, size, modification and change times) is
 * compared after the last copy, before the output gets its name.
 *
 * Nothing here allocates once the file exists.
 */
#include "base/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "base/output_target.h"

ssize_t (*copy_range_call)(int, off_t*, int, off_t*, size_t, unsigned) = copy_file_range;
ssize_t (*send_file_call)(int, int, off_t*, size_t) = sendfile;

namespace {

constexpr int TEMP_ATTEMPTS = 100;
// The buffer that carries the input's bytes where the kernel copies none.
constexpr size_t COPY_BUFFER = size_t{1} << 20;

// A name no other call picks: random bits, not a shared counter.
std::string temp_name(const std::string& dir) {
    unsigned long long tag = 0;
    if (getrandom(&tag, sizeof tag, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof tag)) {
        thread_local unsigned long long fallback = 0;
        tag = (static_cast<unsigned long long>(gettid()) << 32) ^ reinterpret_cast<uintptr_t>(&tag) ^ ++fallback;
    }
    char name[40];
    snprintf(name, sizeof name, "/.morvel-%016llx.tmp", tag);
    return dir + name;
}

// Writes pieces [i, end), resuming after short writes and interruptions;
// 0, or the errno of the write that failed.
int write_memory(int fd, const std::vector<iovec>& pieces, size_t i, size_t end) {
    size_t done_in_piece = 0;
    while (i < end) {
        iovec batch[IOV_MAX];
        int count = 0;
        for (size_t j = i; j < end && count < IOV_MAX; j++, count++) {
            batch[count] = pieces[j];
            if (j == i) {
                batch[count].iov_base = static_cast<char*>(batch[count].iov_base) + done_in_piece;
                batch[count].iov_len -= done_in_piece;
            }
        }
        ssize_t n = writev(fd, batch, count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        size_t left = static_cast<size_t>(n);
        while (i < end && left >= pieces[i].iov_len - done_in_piece) {
            left -= pieces[i].iov_len - done_in_piece;
            done_in_piece = 0;
            i++;
        }
        done_in_piece += left;
    }
    return 0;
}

// Writes n bytes at p, resuming after short writes; 0 or an errno.
int write_bytes(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return errno;
        if (w == 0) return EIO;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

// How long runs of the input reach the output: inside the kernel while it
// allows (copy_file_range, then sendfile, which also writes to a pipe),
// else read from the file into a small buffer and written from there. Never
// from the input buffer: its copies of those runs may have been released.
enum class copy_way { copy_range, send_file, read_write };

bool kernel_refused(int err) {
    return err == EXDEV || err == ENOSYS || err == EINVAL || err == EOPNOTSUPP || err == EBADF;
}

struct input_copier {
    const input_file& src;
    copy_way way = copy_way::copy_range;
    std::unique_ptr<char[]> buffer;  // had only when needed, without throwing

    // Copies a piece of the input to fd: 0 or an errno. A file that ends
    // early has changed: ESTALE.
    int copy(int fd, const iovec& piece) {
        off_t at = static_cast<const char*>(piece.iov_base) - src.data.get();
        size_t left = piece.iov_len;
        while (left > 0) {
            ssize_t n = step(fd, at, left);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && kernel_refused(errno) && way != copy_way::read_write) {
                way = way == copy_way::copy_range ? copy_way::send_file : copy_way::read_write;
                continue;
            }
            if (n < 0) return errno;
            if (n == 0) return ESTALE;
            left -= static_cast<size_t>(n);
        }
        return 0;
    }

    // One call of the current way; advances at by what it moved.
    ssize_t step(int fd, off_t& at, size_t left) {
        switch (way) {
            case copy_way::copy_range:
                return copy_range_call(src.file.fd, &at, fd, nullptr, left, 0);
            case copy_way::send_file:
                return send_file_call(fd, src.file.fd, &at, left);
            case copy_way::read_write:
                break;
        }
        if (!buffer) buffer.reset(new (std::nothrow) char[COPY_BUFFER]);
        if (!buffer) {
            errno = ENOMEM;
            return -1;
        }
        ssize_t got = pread(src.file.fd, buffer.get(), std::min(left, COPY_BUFFER), at);
        if (got <= 0) return got;
        if (int err = write_bytes(fd, buffer.get(), static_cast<size_t>(got))) {
            errno = err;
            return -1;
        }
        at += got;
        return got;
    }
};

bool from_input(const input_file* src, const iovec& piece) {
    if (!src || src->file.fd < 0 || piece.iov_len < KERNEL_COPY_MIN) return false;
    const char* p = static_cast<const char*>(piece.iov_base);
    return p >= src->data.get() && p + piece.iov_len <= src->data.get() + src->len;
}

// Writes every piece: runs of generated bytes from memory, long runs of
// the input's bytes from the input file. Same bytes either way.
int write_all(int fd, const std::vector<iovec>& pieces, const input_file* src) {
    std::optional<input_copier> copier;
    size_t from = 0;
    for (size_t i = 0; i < pieces.size(); i++) {
        if (!from_input(src, pieces[i])) continue;
        if (int err = write_memory(fd, pieces, from, i)) return err;
        if (!copier) copier.emplace(input_copier{*src, copy_way::copy_range, {}});
        if (int err = copier->copy(fd, pieces[i])) return err;
        from = i + 1;
    }
    return write_memory(fd, pieces, from, pieces.size());
}

// The result of a finished write: the input's change, found after its last
// copy, outranks anything else.
status written(int err, const input_file* src) {
    if (src && src->file.fd >= 0 && !input_unchanged(*src)) return failure(problem::input_changed);
    if (err) return failure(problem::output_unwritable, 0, err);
    return {};
}

// A terminal, a device or a FIFO: opened without blocking (a FIFO without
// a reader fails at once), then written as usual.
status write_direct(const std::string& path, const std::vector<iovec>& pieces, const input_file* src) {
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    int flags = fcntl(fd, F_GETFL);
    int err = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 ? errno : write_all(fd, pieces, src);
    if (close(fd) != 0 && err == 0) err = errno;
    return written(err, src);
}

// The replaced file's owner, group and permission bits. Changing the owner
// first: a change of owner may clear mode bits.
void carry_over(int fd, const output_target& t) {
    if (!t.exists) return;
    if (fchown(fd, t.st.st_uid, t.st.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), t.st.st_gid) != 0) {
        // Kept by whoever runs us: an unprivileged process cannot give files away.
    }
    fchmod(fd, t.st.st_mode & 0777);
}

void sync_directory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Removes a named temporary file unless it has been renamed into place.
struct temp_guard {
    std::string path;
    ~temp_guard() {
        if (!path.empty()) unlink(path.c_str());
    }
};

enum class outcome { done, failed, unnamed_unavailable };

// Writes into an unnamed file and names it only when complete.
outcome write_unnamed(const output_target& t, const std::vector<iovec>& pieces, const input_file* src,
                      status& result) {
    int fd = open(t.dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return outcome::unnamed_unavailable;
        result = failure(problem::output_unopenable, 0, errno);
        return outcome::failed;
    }
    int err = write_all(fd, pieces, src);
    if (err == 0) carry_over(fd, t);
    if (err == 0 && t.exists && fsync(fd) != 0) err = errno;
    if (status s = written(err, src); !s.ok()) {
        close(fd);
        result = s;
        return outcome::failed;
    }
    char proc_path[64];
    snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
    std::string name;
    for (int attempt = 0; attempt < TEMP_ATTEMPTS && name.empty(); attempt++) {
        std::string candidate = temp_name(t.dir);
        if (linkat(AT_FDCWD, proc_path, AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            name = candidate;
        } else if (errno != EEXIST) {
            close(fd);
            return outcome::unnamed_unavailable;  // no /proc, or a file system that refuses
        }
    }
    if (name.empty()) err = EEXIST;
    else if (rename(name.c_str(), t.path.c_str()) != 0) err = errno, unlink(name.c_str());
    // A new output that fails to close may not hold its bytes: it goes. A
    // replacing one was synced, so its close cannot lose data.
    if (close(fd) != 0 && err == 0 && !t.exists) err = errno, unlink(t.path.c_str());
    if (err) {
        result = failure(problem::output_unwritable, 0, err);
        return outcome::failed;
    }
    if (t.exists) sync_directory(t.dir);
    result = {};
    return outcome::done;
}

// The fallback: a named temporary file, removed on any failure.
status write_named(const output_target& t, const std::vector<iovec>& pieces, const input_file* src) {
    temp_guard guard;
    int fd = -1;
    for (int attempt = 0; attempt < TEMP_ATTEMPTS && fd < 0; attempt++) {
        std::string name = temp_name(t.dir);
        fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) guard.path = name;
        else if (errno != EEXIST) break;
    }
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    int err = write_all(fd, pieces, src);
    if (err == 0) carry_over(fd, t);
    if (err == 0 && t.exists && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && err == 0) err = errno;
    if (status s = written(err, src); !s.ok()) return s;
    if (rename(guard.path.c_str(), t.path.c_str()) != 0) return failure(problem::output_unwritable, 0, errno);
    guard.path.clear();
    if (t.exists) sync_directory(t.dir);
    return {};
}

}  // namespace

status write_output_file(const char* output_path, const std::vector<iovec>& pieces, const input_file* source) {
    output_target t;
    if (status s = find_output_target(output_path, t); !s.ok()) return s;
    if (t.exists && !S_ISREG(t.st.st_mode)) return write_direct(t.path, pieces, source);
    status result;
    if (write_unnamed(t, pieces, source, result) != outcome::unnamed_unavailable) return result;
    return write_named(t, pieces, source);
}
