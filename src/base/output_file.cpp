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
 * Nothing here allocates once the file exists.
 */
#include "base/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "base/output_target.h"

namespace {

constexpr int TEMP_ATTEMPTS = 100;

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

// Writes every piece, resuming after short writes and interruptions; 0, or
// the errno of the write that failed.
int write_all(int fd, const std::vector<iovec>& pieces) {
    size_t i = 0;
    size_t done_in_piece = 0;
    while (i < pieces.size()) {
        iovec batch[IOV_MAX];
        int count = 0;
        for (size_t j = i; j < pieces.size() && count < IOV_MAX; j++, count++) {
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
        while (i < pieces.size() && left >= pieces[i].iov_len - done_in_piece) {
            left -= pieces[i].iov_len - done_in_piece;
            done_in_piece = 0;
            i++;
        }
        done_in_piece += left;
    }
    return 0;
}

// A terminal, a device or a FIFO: opened without blocking (a FIFO without
// a reader fails at once), then written as usual.
status write_direct(const std::string& path, const std::vector<iovec>& pieces) {
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    int flags = fcntl(fd, F_GETFL);
    int err = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 ? errno : write_all(fd, pieces);
    if (close(fd) != 0 && err == 0) err = errno;
    if (err) return failure(problem::output_unwritable, 0, err);
    return {};
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
outcome write_unnamed(const output_target& t, const std::vector<iovec>& pieces, status& result) {
    int fd = open(t.dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return outcome::unnamed_unavailable;
        result = failure(problem::output_unopenable, 0, errno);
        return outcome::failed;
    }
    int err = write_all(fd, pieces);
    if (err == 0) carry_over(fd, t);
    if (err == 0 && t.exists && fsync(fd) != 0) err = errno;
    if (err) {
        close(fd);
        result = failure(problem::output_unwritable, 0, err);
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
status write_named(const output_target& t, const std::vector<iovec>& pieces) {
    temp_guard guard;
    int fd = -1;
    for (int attempt = 0; attempt < TEMP_ATTEMPTS && fd < 0; attempt++) {
        std::string name = temp_name(t.dir);
        fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) guard.path = name;
        else if (errno != EEXIST) break;
    }
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    int err = write_all(fd, pieces);
    if (err == 0) carry_over(fd, t);
    if (err == 0 && t.exists && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && rename(guard.path.c_str(), t.path.c_str()) != 0) err = errno;
    if (err) return failure(problem::output_unwritable, 0, err);
    guard.path.clear();
    if (t.exists) sync_directory(t.dir);
    return {};
}

}  // namespace

status write_output_file(const char* output_path, const std::vector<iovec>& pieces) {
    output_target t;
    if (status s = find_output_target(output_path, t); !s.ok()) return s;
    if (t.exists && !S_ISREG(t.st.st_mode)) return write_direct(t.path, pieces);
    status result;
    if (write_unnamed(t, pieces, result) != outcome::unnamed_unavailable) return result;
    return write_named(t, pieces);
}
