// The floor for a rewrite that reads its input into memory and writes it
// back: read the whole file into one buffer, write the buffer to a new
// file. usage: read_write INPUT OUTPUT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    int in = open(argv[1], O_RDONLY);
    struct stat st;
    if (in < 0 || fstat(in, &st) != 0) return 1;
    size_t size = static_cast<size_t>(st.st_size), done = 0;
    char* buf = static_cast<char*>(malloc(size ? size : 1));
    while (buf && done < size) {
        ssize_t n = read(in, buf + done, size - done);
        if (n <= 0) return 1;
        done += static_cast<size_t>(n);
    }
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (size_t at = 0; out >= 0 && at < size;) {
        ssize_t n = write(out, buf + at, size - at);
        if (n <= 0) return 1;
        at += static_cast<size_t>(n);
    }
    return out >= 0 && close(out) == 0 ? 0 : 1;
}
