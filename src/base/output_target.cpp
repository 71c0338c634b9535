/*
 * Resolving the output path.
 */
#include "base/output_target.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int MAX_LINK_HOPS = 40;

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The kernel's rule for following a link (fs.protected_symlinks): in a
// sticky, world-writable directory only links owned by the follower or by
// the directory's owner are followed. Applied whatever the setting, as the
// safe side of it.
bool may_follow(const std::string& link, const struct stat& link_st) {
    struct stat dir;
    if (stat(directory_of(link).c_str(), &dir) != 0) return false;
    bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    return !shared || link_st.st_uid == geteuid() || link_st.st_uid == dir.st_uid;
}

// Whether an existing regular file could be opened for writing as it is:
// the same test as opening it would be, permissions, ACLs, read-only mounts
// and immutable files included. Never blocks and changes nothing.
int open_for_writing_errno(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno;
    close(fd);
    return 0;
}

}  // namespace

status find_output_target(const char* output_path, output_target& target) {
    std::string at = output_path;
    for (int hop = 0;; hop++) {
        struct stat st;
        if (lstat(at.c_str(), &st) != 0) {
            if (errno != ENOENT) return failure(problem::output_unopenable, 0, errno);
            target.exists = false;
            break;
        }
        if (!S_ISLNK(st.st_mode)) {
            target.exists = true;
            target.st = st;
            break;
        }
        if (hop == MAX_LINK_HOPS) return failure(problem::output_unopenable, 0, ELOOP);
        if (!may_follow(at, st)) return failure(problem::output_unopenable, 0, EACCES);
        std::string link(static_cast<size_t>(PATH_MAX) + 1, '\0');
        ssize_t n = readlink(at.c_str(), link.data(), link.size());
        if (n < 0) return failure(problem::output_unopenable, 0, errno);
        if (n == 0 || static_cast<size_t>(n) >= link.size()) return failure(problem::output_unopenable, 0, ENAMETOOLONG);
        link.resize(static_cast<size_t>(n));
        at = link[0] == '/' ? link : directory_of(at) + "/" + link;
    }
    target.path = at;
    target.dir = directory_of(at);
    if (target.exists && S_ISREG(target.st.st_mode))
        if (int err = open_for_writing_errno(at)) return failure(problem::output_unopenable, 0, err);
    return {};
}
