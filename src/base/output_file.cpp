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
 * Most output bytes are the input's stream data, unchanged: runs of them
 * from FROM_FILE_MIN bytes on are read again from the still-open input
 * file (see piece_writer), so the caller may have released the input
 * buffer's copies of them. Since the file is read again, it must not have
 * changed since it was first read: its identity (device, inode, size,
 * modification and change times) is compared after the last copy, before
 * the output gets its name.
 *
 * Nothing here allocates once the file exists (a helper thread that cannot
 * be had is done without).
 */
#include "base/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "base/output_target.h"
#include "base/piece_writer.h"

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

// What a call writes: the pieces, the input they may lie in, and the
// memory that carries the input's runs (taken before any file is made).
struct payload {
    const std::vector<iovec>& pieces;
    const input_file* src;
    staging_area* staging;
};

int write_all(int fd, const payload& out) { return write_pieces(fd, out.pieces, out.src, out.staging); }

// A large output's blocks are reserved before it is written: ext4 then
// finds each page's block in place instead of reserving one for every page
// it dirties (200 MB is written in three quarters of the time). Only a
// hint, with the file's size left to what is written: a file system that
// cannot reserve, or has no room, is written as before and fails there.
constexpr uint64_t RESERVE_MIN = uint64_t{1} << 20;

void reserve_blocks(int fd, const std::vector<iovec>& pieces) {
    uint64_t total = 0;
    for (const iovec& p : pieces) total += p.iov_len;
    if (total >= RESERVE_MIN) fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(total));
}

// The result of a finished write: the input's change, found after its last
// copy, outranks anything else.
status written(int err, const payload& out) {
    if (out.src && out.src->file.fd >= 0 && !input_unchanged(*out.src)) return failure(problem::input_changed);
    if (err) return failure(problem::output_unwritable, 0, err);
    return {};
}

// A terminal, a device or a FIFO: opened without blocking (a FIFO without
// a reader fails at once), then written as usual.
status write_direct(const std::string& path, const payload& out) {
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    int flags = fcntl(fd, F_GETFL);
    int err = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 ? errno : write_all(fd, out);
    if (close(fd) != 0 && err == 0) err = errno;
    return written(err, out);
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
outcome write_unnamed(const output_target& t, const payload& out, status& result) {
    int fd = open(t.dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return outcome::unnamed_unavailable;
        result = failure(problem::output_unopenable, 0, errno);
        return outcome::failed;
    }
    reserve_blocks(fd, out.pieces);
    int err = write_all(fd, out);
    if (err == 0) carry_over(fd, t);
    if (err == 0 && t.exists && fsync(fd) != 0) err = errno;
    if (status s = written(err, out); !s.ok()) {
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
status write_named(const output_target& t, const payload& out) {
    temp_guard guard;
    int fd = -1;
    for (int attempt = 0; attempt < TEMP_ATTEMPTS && fd < 0; attempt++) {
        std::string name = temp_name(t.dir);
        fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) guard.path = name;
        else if (errno != EEXIST) break;
    }
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    reserve_blocks(fd, out.pieces);
    int err = write_all(fd, out);
    if (err == 0) carry_over(fd, t);
    if (err == 0 && t.exists && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && err == 0) err = errno;
    if (status s = written(err, out); !s.ok()) return s;
    if (rename(guard.path.c_str(), t.path.c_str()) != 0) return failure(problem::output_unwritable, 0, errno);
    guard.path.clear();
    if (t.exists) sync_directory(t.dir);
    return {};
}

}  // namespace

status write_output_file(const char* output_path, const std::vector<iovec>& pieces, const input_file* source) {
    output_target t;
    if (status s = find_output_target(output_path, t); !s.ok()) return s;
    staging_memory staging;
    if (needs_staging(pieces, source)) {
        staging = new_staging_memory(static_cast<size_t>(source->len));
        if (!staging) return failure(problem::output_unwritable, 0, ENOMEM);
    }
    const payload out{pieces, source, staging.get()};
    if (t.exists && !S_ISREG(t.st.st_mode)) return write_direct(t.path, out);
    status result;
    if (write_unnamed(t, out, result) != outcome::unnamed_unavailable) return result;
    return write_named(t, out);
}
