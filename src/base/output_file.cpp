/*
 * Writing the finished output to disk without ever leaving a partial file.
 *
 * The bytes go to a new file beside the output, which is renamed over the
 * output only once every write and the close have succeeded; any failure
 * removes it. So a failed call leaves an existing output (which may be the
 * input itself) as it was. A symbolic link is followed, so that its target
 * is replaced and the link stays. An existing output that is not a regular
 * file (a pipe, a terminal, a device) cannot be replaced by renaming and is
 * written directly.
 *
 * Nothing here allocates once the temporary file exists.
 */
#include "base/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

constexpr int MAX_LINK_HOPS = 40;
constexpr int TEMP_ATTEMPTS = 100;

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows a chain of links that ends at a name that does not exist yet.
std::string dangling_link_target(const std::string& path) {
    std::string at = path;
    for (int hop = 0; hop < MAX_LINK_HOPS; hop++) {
        struct stat st;
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string target(static_cast<size_t>(PATH_MAX) + 1, '\0');
        ssize_t n = readlink(at.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return at;
        target.resize(static_cast<size_t>(n));
        at = target[0] == '/' ? target : directory_of(at) + "/" + target;
    }
    return at;
}

// The file that the output path finally names.
std::string final_target(const char* output_path) {
    char* real = realpath(output_path, nullptr);
    if (real) {
        std::string path(real);
        free(real);
        return path;
    }
    return dangling_link_target(output_path);
}

// A new file in dir, created exclusively with the usual creation mode so
// that the process's umask applies as it would to the output itself.
int create_temp(const std::string& dir, std::string& temp_path) {
    static unsigned counter = 0;
    unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u ^
                    static_cast<unsigned>(time(nullptr));
    for (int attempt = 0; attempt < TEMP_ATTEMPTS; attempt++) {
        unsigned tag = seed + 40503u * ++counter;
        char name[48];
        snprintf(name, sizeof name, "/.morvel-%08x.tmp", tag);
        temp_path = dir + name;
        int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
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

status write_direct(const char* output_path, const std::vector<iovec>& pieces) {
    int fd = open(output_path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    int err = write_all(fd, pieces);
    if (close(fd) != 0 && err == 0) err = errno;
    if (err) return failure(problem::output_unwritable, 0, err);
    return {};
}

// Removes the temporary file unless it has been renamed into place.
struct temp_guard {
    const std::string& path;
    bool keep = false;
    ~temp_guard() {
        if (!keep) unlink(path.c_str());
    }
};

}  // namespace

status write_output_file(const char* output_path, const std::vector<iovec>& pieces) {
    struct stat st;
    bool exists = stat(output_path, &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return write_direct(output_path, pieces);

    std::string target = final_target(output_path);
    std::string temp;
    int fd = create_temp(directory_of(target), temp);
    if (fd < 0) return failure(problem::output_unopenable, 0, errno);
    temp_guard guard{temp};
    if (exists) fchmod(fd, st.st_mode & 07777);
    int err = write_all(fd, pieces);
    if (close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) return failure(problem::output_unwritable, 0, err);
    guard.keep = true;
    return {};
}
