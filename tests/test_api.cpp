// The exported functions: the error text's lifecycle across calls, the
// argument checks, and what a call does to the output file when it
// succeeds, fails early, fails writing or runs out of memory.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::pdf_builder;
using testutil::read_file;
using testutil::scratch_dir;
using testutil::write_file;

TEST(ErrorText, Lifecycle) {
    const char* p = morvel_last_error();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(morvel_optimize(nullptr, "out.pdf"), 0);
    EXPECT_STREQ(p, "input_path or output_path is NULL/empty");
    EXPECT_EQ(morvel_init(), 1);
    EXPECT_STREQ(morvel_last_error(), "");
    EXPECT_EQ(morvel_last_error(), p);  // same buffer for the library's lifetime

    EXPECT_EQ(morvel_check(""), 0);
    EXPECT_EQ(morvel_optimize("in.pdf", ""), 0);  // two failures: only the second message
    EXPECT_STREQ(p, "input_path or output_path is NULL/empty");
    morvel_cleanup();
    EXPECT_STREQ(p, "");
    morvel_cleanup();
    EXPECT_EQ(morvel_init(), 1);
    EXPECT_STREQ(p, "");
}

TEST(ErrorText, SuccessClearsEarlierFailure) {
    testutil::scratch_dir dir;
    std::string path = dir.file("lin.pdf");
    std::string dict = "1 0 obj\n<< /Linearized 1 /L 200 /H [ 1 1 ] /O 1 /E 1 /N 1 /T 1 >>\nendobj\n";
    std::string body = "%PDF-1.4\n" + dict;
    body += std::string(200 - body.size(), ' ');
    testutil::write_file(path, body);
    EXPECT_EQ(morvel_check(nullptr), 0);
    EXPECT_EQ(morvel_check(path.c_str()), 1);
    EXPECT_STREQ(morvel_last_error(), "");
}

TEST(Optimize, ArgumentCheckComesFirst) {
    for (auto [in, out] : {std::pair<const char*, const char*>{nullptr, "o.pdf"}, {"", "o.pdf"},
                           {"missing-input.pdf", nullptr}, {"missing-input.pdf", ""}}) {
        EXPECT_EQ(morvel_optimize(in, out), 0);
        EXPECT_STREQ(morvel_last_error(), "input_path or output_path is NULL/empty");
    }
}

TEST(Optimize, SamePathIsReplacedAndFailuresLeaveTheOutputAlone) {
    scratch_dir dir;
    std::string path = dir.file("doc.pdf");
    write_file(path, testutil::simple_pdf(2));
    ASSERT_EQ(morvel_optimize(path.c_str(), path.c_str()), 1) << morvel_last_error();
    EXPECT_EQ(morvel_check(path.c_str()), 1) << morvel_last_error();

    std::string bad = dir.file("nopages.pdf");
    write_file(bad, "1 0 obj\n<< /Type /Font >>\nendobj\n");
    std::string out = dir.file("existing.pdf");
    write_file(out, "keep me");
    EXPECT_EQ(morvel_optimize(bad.c_str(), out.c_str()), 0);
    EXPECT_EQ(read_file(out), "keep me");

    std::string missing = dir.file("missing/out.pdf");
    EXPECT_EQ(morvel_optimize(path.c_str(), missing.c_str()), 0);
    EXPECT_EQ(std::string(morvel_last_error()), "cannot open '" + missing + "' for writing");
    EXPECT_FALSE(testutil::file_exists(missing));
}

TEST(Optimize, WriteErrorOnAFullFileSystem) {
    scratch_dir dir;
    std::string mnt = dir.file("small");
    mkdir(mnt.c_str(), 0700);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct unmount {
        std::string path;
        ~unmount() { umount(path.c_str()); }
    } unmount_later{mnt};
    std::string in = dir.file("in.pdf");
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>", 3);
    b.add_stream("", std::string(100000, 'x'), 4);
    write_file(in, b.build(1));
    std::string out = mnt + "/out.pdf";
    write_file(out, "old");
    EXPECT_EQ(morvel_optimize(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(std::string(morvel_last_error()), "cannot write '" + out + "'");
    EXPECT_EQ(read_file(out), "old");
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(mnt)) entries++, (void)e;
    EXPECT_EQ(entries, 1u);  // no temporary file left behind
}

#ifndef MORVEL_SANITIZED
// The process's address-space size in bytes.
size_t vm_size() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0) return strtoull(line.c_str() + 7, nullptr, 10) * 1024;
    return 0;
}

TEST(Optimize, RunningOutOfMemoryIsReported) {
    // A child whose address space leaves room for the input and its object
    // table but not for the rewritten copy of one huge dictionary: the call
    // fails with the message and leaves the output as it was.
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    const size_t big = 48u << 20;
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R >>", 3);
    std::string array(big, ' ');
    for (size_t i = 0; i < big; i += 2) array[i] = '1';
    b.add("<< /A [" + array + "] >>", 4);
    array.clear();
    array.shrink_to_fit();
    write_file(in, b.build(1));
    std::string out = dir.file("out.pdf");
    write_file(out, "old");
    pid_t child = fork();
    if (child == 0) {
        rlim_t now = static_cast<rlim_t>(vm_size());
        struct rlimit lim = {now + big * 3 / 2, now + big * 3 / 2};
        setrlimit(RLIMIT_AS, &lim);
        int ok = morvel_optimize(in.c_str(), out.c_str());
        std::string want = "out of memory optimizing '" + in + "'";
        _exit(ok == 0 && want == morvel_last_error() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_file(out), "old");
}
#endif

}  // namespace

namespace {

TEST(Version, HeaderAndLibraryAgreeInThisBuild) {
    EXPECT_STREQ(morvel_version(), MORVEL_VERSION_STRING);
    EXPECT_EQ(std::to_string(MORVEL_VERSION_MAJOR) + "." + std::to_string(MORVEL_VERSION_MINOR) + "." +
                  std::to_string(MORVEL_VERSION_PATCH),
              MORVEL_VERSION_STRING);
}

TEST(LastErrno, NamesTheSystemCallThatFailed) {
    scratch_dir dir;
    std::string good = dir.file("good.pdf"), junk = dir.file("junk.pdf"), out = dir.file("out.pdf");
    write_file(good, testutil::simple_pdf(2));
    write_file(junk, "%PDF-1.4\nno objects here\n");
    struct row {
        const char* what;
        std::string in, out;
        int ok, err;
    };
    for (const row& r : std::vector<row>{
             {"missing input", dir.file("missing.pdf"), out, 0, ENOENT},
             {"directory input", dir.path().string(), out, 0, EISDIR},
             {"output in a missing directory", good, dir.file("none/out.pdf"), 0, ENOENT},
             {"output is a directory", good, dir.path().string(), 0, EISDIR},
             {"no system call failed", junk, out, 0, 0},
             {"success", good, out, 1, 0},
         }) {
        EXPECT_EQ(morvel_optimize(r.in.c_str(), r.out.c_str()), r.ok) << r.what;
        EXPECT_EQ(morvel_last_errno(), r.err) << r.what << ": " << morvel_last_error();
    }
    EXPECT_EQ(morvel_check(dir.file("missing.pdf").c_str()), 0);
    EXPECT_EQ(morvel_last_errno(), ENOENT);
    EXPECT_EQ(morvel_check(junk.c_str()), 0);
    EXPECT_EQ(morvel_last_errno(), 0);
}

TEST(Memory, SameBytesAndMessagesAsTheFileCalls) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    std::string pdf = testutil::simple_pdf(4);
    write_file(in, pdf);
    for (unsigned flags : {0u, unsigned(MORVEL_OBJECT_STREAMS)}) {
        ASSERT_EQ(morvel_optimize_ex(in.c_str(), out.c_str(), flags), 1);
        void* bytes = nullptr;
        size_t len = 0;
        ASSERT_EQ(morvel_optimize_mem(pdf.data(), pdf.size(), &bytes, &len, flags), 1) << morvel_last_error();
        EXPECT_STREQ(morvel_last_error(), "");
        std::string got(static_cast<const char*>(bytes), len);
        morvel_free(bytes);
        EXPECT_TRUE(got == read_file(out));
        EXPECT_EQ(morvel_check_mem(got.data(), got.size()), 1) << morvel_last_error();
    }
    EXPECT_EQ(morvel_check_mem(pdf.data(), pdf.size()), 0);
    EXPECT_STREQ(morvel_last_error(), "/Linearized key missing in first object dictionary");
    EXPECT_EQ(morvel_check_mem("%PDF-1.4", 8), 0);
    EXPECT_STREQ(morvel_last_error(), "file '<memory>' is too small (8 bytes)");
    morvel_free(nullptr);
}

TEST(Memory, Failures) {
    std::string junk = "%PDF-1.4\nno objects here\n";
    void* bytes = reinterpret_cast<void*>(1);
    size_t len = 7;
    struct row {
        const void* in;
        size_t in_len;
        void** out;
        size_t* out_len;
        unsigned flags;
        const char* message;
    };
    for (const row& r : {row{junk.data(), junk.size(), &bytes, &len, 0, "no valid PDF objects found in '<memory>'"},
                         row{junk.data(), junk.size(), &bytes, &len, 8, "unknown flags 0x8"},
                         row{nullptr, 0, &bytes, &len, 0, "input, output or output_len is NULL"},
                         row{junk.data(), junk.size(), nullptr, &len, 0, "input, output or output_len is NULL"},
                         row{junk.data(), junk.size(), &bytes, nullptr, 0, "input, output or output_len is NULL"}}) {
        bytes = reinterpret_cast<void*>(1);
        len = 7;
        EXPECT_EQ(morvel_optimize_mem(r.in, r.in_len, r.out, r.out_len, r.flags), 0);
        EXPECT_STREQ(morvel_last_error(), r.message);
        EXPECT_EQ(morvel_last_errno(), 0);
        if (r.out) {
            EXPECT_EQ(bytes, nullptr);
        }
        if (r.out_len) {
            EXPECT_EQ(len, 0u);
        }
    }
    EXPECT_EQ(morvel_check_mem(nullptr, 10), 0);
    EXPECT_STREQ(morvel_last_error(), "input is NULL");
}

}  // namespace
