// The base layer: the error text, the output buffers, reading the input
// (and how its failures read through the API) and writing the output file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/buffer.h"
#include "base/error.h"
#include "base/input_file.h"
#include "base/output_file.h"
#include "fixtures.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::scratch_dir;
using testutil::write_file;

std::string hex(const std::vector<uint8_t>& b, size_t from, size_t to) {
    std::string s;
    char t[3];
    for (size_t i = from; i < to && i < b.size(); i++) {
        snprintf(t, sizeof t, "%02X", b[i]);
        s += t;
    }
    return s;
}

struct optimize_result {
    int rc;
    std::string message;
    bool output_untouched;
};

// Runs morvel_optimize with an existing output file that must survive.
optimize_result optimize_with_sentinel(const scratch_dir& dir, const std::string& in) {
    std::string out = dir.file("out.pdf");
    write_file(out, "sentinel");
    int rc = morvel_optimize(in.c_str(), out.c_str());
    return {rc, morvel_last_error(), testutil::read_file(out) == "sentinel"};
}

// The output file: replaced only after every byte is written.
std::vector<iovec> pieces_of(const std::vector<std::string>& parts) {
    std::vector<iovec> v;
    for (const std::string& p : parts) v.push_back({const_cast<char*>(p.data()), p.size()});
    return v;
}

TEST(ErrorText, LongMessageIsCutAt1023Bytes) {
    std::string path(2000, 'p');
    set_error("cannot open file '%s'", path.c_str());
    EXPECT_EQ(strlen(morvel_last_error()), 1023u);
    EXPECT_EQ(std::string(morvel_last_error(), 18), "cannot open file '");
    morvel_cleanup();
}

TEST(ErrorText, PercentAndNegativeNumbers) {
    set_error("file does not start with %%PDF-");
    EXPECT_STREQ(morvel_last_error(), "file does not start with %PDF-");
    set_error("/E value invalid (%ld)", -1L);
    EXPECT_STREQ(morvel_last_error(), "/E value invalid (-1)");
}

TEST(Buffer, OutBufAppends) {
    out_buf b;
    buf_bytes(b, "", 0);
    EXPECT_EQ(b.len(), 0u);
    buf_printf(b, "%010ld 00000 n \n", 271L);
    EXPECT_EQ(b.data, "0000000271 00000 n \n");
    buf_bytes(b, "a\0b", 3);
    EXPECT_EQ(b.len(), 23u);
    EXPECT_EQ(b.data.c_str()[b.len()], '\0');
}

TEST(Buffer, BitWriterPacksMostSignificantFirst) {
    struct step {
        uint32_t value;
        int32_t bits;
    };
    struct {
        std::vector<step> steps;
        bool flush;
        std::string want;
    } cases[] = {
        {{{5, 3}, {1, 13}}, false, "A001"},
        {{{6, 3}}, true, "C0"},
        {{{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}, true, "FF"},
        {{{7, 0}}, true, ""},
        {{{0x1ABCD, 16}}, false, "ABCD"},
        {{{0xDEADBEEF, 32}}, false, "DEADBEEF"},
        {{{1, 1}, {0xDEADBEEF, 32}}, true, "EF56DF7780"},
        {{{0xFD, 3}, {0x12345678, 32}}, true, "A2468ACF00"},
    };
    for (auto& c : cases) {
        bit_buf b;
        for (const step& s : c.steps) bit_write(b, s.value, s.bits);
        if (c.flush) bit_flush(b);
        EXPECT_EQ(hex(b.data, 0, b.data.size()), c.want);
        EXPECT_EQ(b.nbits, 0);
    }
}

TEST(InputFile, MissingFile) {
    scratch_dir dir;
    std::string in = dir.file("missing.pdf");
    auto r = optimize_with_sentinel(dir, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "cannot open file '" + in + "'");
    EXPECT_TRUE(r.output_untouched);
}

TEST(InputFile, TwoGibibytesIsTooLarge) {
    scratch_dir dir;
    std::string in = dir.file("huge.pdf");
    write_file(in, "");
    if (truncate(in.c_str(), 0x80000000LL) != 0) GTEST_SKIP() << "no sparse file here";
    auto r = optimize_with_sentinel(dir, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "file '" + in + "' is too large (2147483648 bytes)");
    EXPECT_TRUE(r.output_untouched);
}

TEST(InputFile, OnlyRegularFilesAreRead) {
    // Refused at once, without blocking: a FIFO without a writer would
    // block an open for reading forever.
    scratch_dir dir;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "1 0 obj", 7), 7);
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& in : {"/proc/self/fd/" + std::to_string(fds[0]), fifo, dir.path().string(),
                                  std::string("/dev/null")}) {
        auto r = optimize_with_sentinel(dir, in);
        EXPECT_EQ(r.rc, 0) << in;
        EXPECT_EQ(r.message, "'" + in + "' is not a regular file");
        EXPECT_TRUE(r.output_untouched) << in;
    }
    close(fds[0]);
    close(fds[1]);
}

TEST(InputFile, ShortRead) {
    // Attribute files claim a whole page but hold a few bytes.
    std::string in;
    for (const char* p : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/kernel/uevent_seqnum",
                          "/sys/kernel/profiling"})
        if (testutil::file_exists(p) && !testutil::read_file(p).empty()) in = p;
    if (in.empty()) GTEST_SKIP() << "no attribute file to read";
    scratch_dir dir;
    auto r = optimize_with_sentinel(dir, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "read error on '" + in + "'");
    EXPECT_TRUE(r.output_untouched);
}

#ifndef MORVEL_SANITIZED
TEST(InputFileDeathTest, NoMemoryForTheInput) {
    scratch_dir dir;
    std::string in = dir.file("big.pdf");
    write_file(in, "");
    ASSERT_EQ(truncate(in.c_str(), 512LL << 20), 0);
    std::string out = dir.file("out.pdf");
    write_file(out, "sentinel");
    std::string want = "out of memory reading '" + in + "'";
    auto run = [&] {
        struct rlimit lim = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &lim);
        int rc = morvel_optimize(in.c_str(), out.c_str());
        _exit(rc == 0 && want == morvel_last_error() ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
    EXPECT_EQ(testutil::read_file(out), "sentinel");
}
#endif

TEST(InputFile, ReadsWholeFileWithNul) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    std::string bytes("ab\0cd", 5);
    write_file(in, bytes);
    input_file input;
    ASSERT_TRUE(read_input_file(in.c_str(), input).ok());
    ASSERT_EQ(input.len, 5);
    EXPECT_EQ(std::string(input.data.get(), 6), bytes + '\0');

    write_file(in, "");
    input_file empty;
    ASSERT_TRUE(read_input_file(in.c_str(), empty).ok());
    EXPECT_EQ(empty.len, 0);
    EXPECT_EQ(empty.data[0], '\0');
}

TEST(OutputFile, WritesReplacesAndFollowsLinks) {
    scratch_dir dir;
    std::vector<std::string> parts = {"abc", std::string(100000, 'x'), "", "end"};
    std::string want = "abc" + std::string(100000, 'x') + "end";
    std::string out = dir.file("out.pdf");
    testutil::write_file(out, "old contents");
    chmod(out.c_str(), 0640);
    ASSERT_TRUE(write_output_file(out.c_str(), pieces_of(parts)).ok());
    EXPECT_EQ(testutil::read_file(out), want);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's mode is kept

    std::string link = dir.file("link.pdf");
    ASSERT_EQ(symlink("target.pdf", link.c_str()), 0);  // dangling: the target is created
    ASSERT_TRUE(write_output_file(link.c_str(), pieces_of({"one"})).ok());
    EXPECT_EQ(testutil::read_file(dir.file("target.pdf")), "one");
    ASSERT_TRUE(write_output_file(link.c_str(), pieces_of({"two"})).ok());
    struct stat lst;
    ASSERT_EQ(lstat(link.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(testutil::read_file(dir.file("target.pdf")), "two");

    // Nothing but the outputs is left in the directory.
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) entries++, (void)e;
    EXPECT_EQ(entries, 3u);
}

// A large output has its blocks reserved before it is written: the file
// holds exactly its bytes, and no reserved block is left past its end.
TEST(OutputFile, LargeOutputHasNoRoomLeftOver) {
    scratch_dir dir;
    std::vector<std::string> parts = {std::string(3u << 20, 'a'), "tail"};
    std::string out = dir.file("out.pdf");
    ASSERT_TRUE(write_output_file(out.c_str(), pieces_of(parts)).ok());
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>((3u << 20) + 4));
    EXPECT_LT(static_cast<int64_t>(st.st_blocks) * 512, st.st_size + (int64_t{1} << 20));
    EXPECT_TRUE(testutil::read_file(out) == parts[0] + parts[1]);
}

TEST(OutputFile, MissingDirectoryAndNonRegularOutputs) {
    scratch_dir dir;
    std::string missing = dir.file("no/such/dir/out.pdf");
    status s = write_output_file(missing.c_str(), pieces_of({"x"}));
    EXPECT_EQ(testutil::message_of(s, "in.pdf", missing.c_str()), "cannot open '" + missing + "' for writing");

    s = write_output_file(dir.path().c_str(), pieces_of({"x"}));
    EXPECT_EQ(testutil::message_of(s, "in.pdf", dir.path().c_str()),
              "cannot open '" + dir.path().string() + "' for writing");

    // A FIFO with a reader is written directly; without one the call fails
    // at once instead of waiting for a reader.
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    s = write_output_file(fifo.c_str(), pieces_of({"x"}));
    EXPECT_EQ(testutil::message_of(s, "in.pdf", fifo.c_str()), "cannot open '" + fifo + "' for writing");
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(write_output_file(fifo.c_str(), pieces_of({"through ", "the pipe"})).ok());
    char got[32] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 16);
    EXPECT_STREQ(got, "through the pipe");
    close(reader);

    // A character device is written directly, never replaced.
    EXPECT_TRUE(write_output_file("/dev/null", pieces_of({"discarded"})).ok());
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Runs f in a child process that, when started as root, first becomes the
// unprivileged user 65534; the child's exit status is f's result.
template <class F>
int as_unprivileged(F f) {
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        _exit(f());
    }
    int st = 0;
    waitpid(child, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 98;
}

TEST(OutputFile, ReplacementKeepsOwnerAndModeButNoSetIdBits) {
    scratch_dir dir;
    std::string out = dir.file("out.pdf");
    write_file(out, "old");
    ASSERT_EQ(chmod(out.c_str(), 06750), 0);
    bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(write_output_file(out.c_str(), pieces_of({"new"})).ok());
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
    EXPECT_EQ(testutil::read_file(out), "new");
}

TEST(OutputFile, OutputThatCouldNotBeOpenedForWritingStays) {
    // As an fopen(..., "wb") would refuse it: a read-only file in a
    // writable directory is not replaced by renaming either.
    scratch_dir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    std::string out = dir.file("out.pdf");
    int rc = as_unprivileged([&] {
        write_file(out, "read-only");
        if (chmod(out.c_str(), 0444) != 0) return 2;
        status s = write_output_file(out.c_str(), pieces_of({"new"}));
        if (testutil::message_of(s, "in.pdf", out.c_str()) != "cannot open '" + out + "' for writing") return 3;
        return testutil::read_file(out) == "read-only" ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
}

TEST(OutputFile, LinksInStickySharedDirectories) {
    // In a sticky world-writable directory a link owned by someone else
    // than us and the directory's owner is not followed; our own is.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to create another user's link";
    scratch_dir dir;
    std::string shared = dir.file("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);  // the directory's owner: not us
    std::string target = dir.file("target.pdf");
    write_file(target, "target");
    std::string theirs = shared + "/theirs.pdf", ours = shared + "/ours.pdf", owners = shared + "/owners.pdf";
    ASSERT_EQ(symlink(target.c_str(), theirs.c_str()), 0);
    ASSERT_EQ(lchown(theirs.c_str(), 12345, 12345), 0);
    ASSERT_EQ(symlink(target.c_str(), ours.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), owners.c_str()), 0);
    ASSERT_EQ(lchown(owners.c_str(), 65534, 65534), 0);

    status s = write_output_file(theirs.c_str(), pieces_of({"x"}));
    EXPECT_EQ(testutil::message_of(s, "in.pdf", theirs.c_str()), "cannot open '" + theirs + "' for writing");
    EXPECT_EQ(testutil::read_file(target), "target");
    EXPECT_TRUE(write_output_file(ours.c_str(), pieces_of({"mine"})).ok());
    EXPECT_EQ(testutil::read_file(target), "mine");
    EXPECT_TRUE(write_output_file(owners.c_str(), pieces_of({"owner's"})).ok());
    EXPECT_EQ(testutil::read_file(target), "owner's");
    struct stat lst;
    ASSERT_EQ(lstat(ours.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
}

}  // namespace

namespace {

// Pieces mixing generated text with long and short runs of the input.
std::vector<iovec> mixed_pieces(const input_file& in, std::vector<std::string>& texts) {
    texts = {"head\n", "middle\n", "tail\n"};
    char* d = in.data.get();
    return {{texts[0].data(), texts[0].size()}, {d + 10, 40000},  {texts[1].data(), texts[1].size()},
            {d + 5, 100},                       {d + 50000, 70000}, {texts[2].data(), texts[2].size()}};
}

std::string input_bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return s;
}

TEST(OutputFile, InputRunsCopiedFromTheFileGiveTheSameBytes) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    std::string bytes = input_bytes(200000);
    write_file(in, bytes);
    input_file input;
    ASSERT_TRUE(read_input_file(in.c_str(), input).ok());
    std::vector<std::string> texts;
    std::vector<iovec> pieces = mixed_pieces(input, texts);
    std::string want = "head\n" + bytes.substr(10, 40000) + "middle\n" + bytes.substr(5, 100) +
                       bytes.substr(50000, 70000) + "tail\n";
    ASSERT_TRUE(write_output_file(out.c_str(), pieces, &input).ok());
    EXPECT_TRUE(testutil::read_file(out) == want);

    // A pipe takes no in-kernel file copy: the bytes come from memory.
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GE(fcntl(reader, F_SETPIPE_SZ, 1 << 20), static_cast<int>(want.size()));
    ASSERT_TRUE(write_output_file(fifo.c_str(), pieces, &input).ok());
    std::string got(want.size() + 1, '\0');
    EXPECT_EQ(read(reader, got.data(), got.size()), static_cast<ssize_t>(want.size()));
    got.resize(want.size());
    EXPECT_TRUE(got == want);
    close(reader);
}

TEST(OutputFile, AnInputChangedSinceItWasReadFailsTheCall) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    struct change {
        const char* what;
        void (*apply)(const std::string& path);
    };
    for (change c : {change{"rewritten, same size",
                            [](const std::string& p) { write_file(p, std::string(200000, 'z')); }},
                     change{"truncated", [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 1000), 0); }},
                     change{"grown", [](const std::string& p) {
                                std::ofstream(p, std::ios::app) << "more";
                            }}}) {
        write_file(in, input_bytes(200000));
        write_file(out, "keep me");
        input_file input;
        ASSERT_TRUE(read_input_file(in.c_str(), input).ok());
        std::vector<std::string> texts;
        std::vector<iovec> pieces = mixed_pieces(input, texts);
        c.apply(in);
        status s = write_output_file(out.c_str(), pieces, &input);
        EXPECT_EQ(testutil::message_of(s, in.c_str(), out.c_str()), "'" + in + "' changed while it was being optimized")
            << c.what;
        EXPECT_EQ(testutil::read_file(out), "keep me") << c.what;
    }
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) entries++, (void)e;
    EXPECT_EQ(entries, 2u);  // no temporary file left
}

// The VmFlags of the mapping that holds p, from /proc/self/smaps.
std::string mapping_flags(const void* p) {
    std::ifstream smaps("/proc/self/smaps");
    auto at = reinterpret_cast<uintptr_t>(p);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long lo = 0, hi = 0;
        if (sscanf(line.c_str(), "%lx-%lx ", &lo, &hi) == 2 && line.find(':') > line.find(' ')) inside = lo <= at && at < hi;
        else if (inside && line.rfind("VmFlags:", 0) == 0) return line;
    }
    return "";
}

// Huge pages slower than small ones: the rest of each part is read into
// small pages, and every byte still arrives where it belongs.
TEST(InputFile, SlowHugePagesGiveWayToSmallOnes) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    std::string bytes = input_bytes((size_t{20} << 20) + 12345);
    write_file(in, bytes);
    auto budget = small_pages_per_huge_page;
    small_pages_per_huge_page = std::chrono::seconds(-10);
    input_file input;
    status read = read_input_file(in.c_str(), input);
    small_pages_per_huge_page = budget;
    ASSERT_TRUE(read.ok());
    ASSERT_EQ(input.len, static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(std::string_view(input.data.get(), bytes.size()) == bytes);
    EXPECT_EQ(input.data[bytes.size()], '\0');
    if (mapping_flags(input.data.get()).find(" hg") != std::string::npos) {
        EXPECT_NE(mapping_flags(input.data.get() + bytes.size() - 1).find(" nh"), std::string::npos);
    }
}

}  // namespace
