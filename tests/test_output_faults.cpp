// The output file under faults: the system calls that replace a file, runs
// killed at random moments, kernels that refuse to copy between files, and
// inputs that change while they are being optimized.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <fstream>
#include <functional>
#include <vector>

#include "base/piece_writer.h"
#include "fixtures.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::read_file;
using testutil::scratch_dir;
using testutil::write_file;

// A document of a few megabytes, so that writing it takes a while.
std::string large_pdf() {
    testutil::pdf_builder b;
    const int pages = 40;
    std::string kids;
    for (int i = 0; i < pages; i++) kids += std::to_string(3 + 2 * i) + " 0 R ";
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>", 2);
    std::mt19937 rng(4);
    for (int i = 0; i < pages; i++) {
        // Mostly runs the writer stages, every tenth one it leaves to the kernel.
        std::string data(i % 10 == 0 ? 1200000 : 200000, ' ');
        for (char& c : data) c = static_cast<char>('a' + rng() % 26);
        b.add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(4 + 2 * i) +
                  " 0 R >>",
              3 + 2 * i);
        b.add_stream("", data, 4 + 2 * i);
    }
    return b.build(1);
}

// The system calls of one optimize run, as strace names them.
std::vector<std::string> traced_calls(const scratch_dir& dir, const std::string& in, const std::string& out) {
    std::string log = dir.file("trace.log");
    // Leak checking cannot run under ptrace; the sanitized build would fail.
    std::string cmd = "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o " + log + " -e trace=fsync,fdatasync,rename,renameat,renameat2,linkat " +
                      MORVEL_CLI + " optimize " + in + " " + out + " 2>&1";
    EXPECT_EQ(testutil::run(cmd), 0) << cmd;
    std::vector<std::string> calls;
    std::istringstream lines(read_file(log));
    std::string line;
    static const std::regex call("^\\d+\\s+(\\w+)\\(");
    std::smatch m;
    while (std::getline(lines, line))
        if (std::regex_search(line, m, call)) calls.push_back(m[1]);
    return calls;
}

TEST(OutputFaults, ReplacingSyncsBeforeAndAfterTheRename) {
    if (!testutil::have_tool("strace")) GTEST_SKIP() << "strace is not installed";
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    write_file(in, testutil::simple_pdf(3));

    // A new output: named and renamed, nothing synced.
    std::vector<std::string> fresh = traced_calls(dir, in, dir.file("new.pdf"));
    EXPECT_EQ(fresh, (std::vector<std::string>{"linkat", "rename"}));

    // Replacing one: the data, then the name, then the directory.
    std::vector<std::string> replacing = traced_calls(dir, in, in);
    EXPECT_EQ(replacing, (std::vector<std::string>{"fsync", "linkat", "rename", "fsync"}));
}

TEST(OutputFaults, KilledInPlaceRunsLeaveTheInputOrTheOutput) {
    scratch_dir dir;
    std::string original = large_pdf();
    std::string in = dir.file("doc.pdf");
    write_file(in, original);
    std::string reference = dir.file("reference.pdf");
    ASSERT_EQ(testutil::run(std::string(MORVEL_CLI) + " optimize " + in + " " + reference), 0);
    const std::string output = read_file(reference);
    std::filesystem::remove(reference);

    std::mt19937 rng(12);
    int replaced = 0, intact = 0;
    for (int run = 0; run < 24; run++) {
        write_file(in, original);
        pid_t child = fork();
        if (child == 0) {
            execl(MORVEL_CLI, MORVEL_CLI, "optimize", in.c_str(), in.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 60000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        std::string now = read_file(in);
        ASSERT_TRUE(now == original || now == output) << "run " << run << ": " << now.size() << " bytes";
        (now == output ? replaced : intact)++;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            // Only between naming the finished file and renaming it can a
            // name be left, and then the file is complete.
            std::string name = e.path().filename().string();
            if (name == "doc.pdf") continue;
            EXPECT_EQ(read_file(e.path().string()), output) << "left behind: " << name;
            std::filesystem::remove(e.path());
        }
    }
    EXPECT_EQ(replaced + intact, 24);
    EXPECT_GT(intact, 0);  // some runs were killed early enough to matter
}

// The optimized form of a document, from memory ("" when it has none).
std::string optimized(const std::string& pdf) {
    void* bytes = nullptr;
    size_t len = 0;
    if (!morvel_optimize_mem(pdf.data(), pdf.size(), &bytes, &len, 0)) return "";
    std::string out(static_cast<const char*>(bytes), len);
    morvel_free(bytes);
    return out;
}

// Plays a kernel that refuses one way of copying between files; counts
// the calls of each way. The real calls come back with the guard.
int copy_range_calls = 0, send_file_calls = 0;
ssize_t refuse_copy_range(int, off_t*, int, off_t*, size_t, unsigned) {
    copy_range_calls++;
    errno = EXDEV;
    return -1;
}
ssize_t refuse_send_file(int, int, off_t*, size_t) {
    send_file_calls++;
    errno = EINVAL;
    return -1;
}
ssize_t counted_copy_range(int in, off_t* in_at, int out, off_t* out_at, size_t n, unsigned flags) {
    copy_range_calls++;
    return copy_file_range(in, in_at, out, out_at, n, flags);
}
ssize_t counted_send_file(int out, int in, off_t* at, size_t n) {
    send_file_calls++;
    return sendfile(out, in, at, n);
}
struct copy_calls_guard {
    decltype(copy_range_call) copy_range = copy_range_call;
    decltype(send_file_call) send_file = send_file_call;
    ~copy_calls_guard() {
        copy_range_call = copy_range;
        send_file_call = send_file;
    }
};

TEST(OutputFaults, LongRunsOfTheInputArriveWhateverCopyTheKernelAllows) {
    // The input is large enough that its stream data leave memory before
    // the output is written: every way of copying must read the file.
    scratch_dir dir;
    std::string pdf = large_pdf();
    std::string in = dir.file("in.pdf");
    write_file(in, pdf);
    const std::string want = optimized(pdf);
    ASSERT_FALSE(want.empty());
    {
        copy_calls_guard guard;
        struct way {
            const char* name;
            decltype(copy_range_call) copy_range;
            decltype(send_file_call) send_file;
            int copy_range_tries, send_file_tries;  // -1: some
        };
        for (way w : {way{"copy_file_range", counted_copy_range, refuse_send_file, -1, 0},
                      way{"sendfile", refuse_copy_range, counted_send_file, 1, -1},
                      way{"read and write", refuse_copy_range, refuse_send_file, 1, 1}}) {
            copy_range_call = w.copy_range;
            send_file_call = w.send_file;
            copy_range_calls = send_file_calls = 0;
            std::string out = dir.file("out.pdf");
            ASSERT_EQ(morvel_optimize(in.c_str(), out.c_str()), 1) << w.name << ": " << morvel_last_error();
            EXPECT_TRUE(read_file(out) == want) << w.name;
            // A refusal is believed once: the later runs go the next way at once.
            auto as_expected = [](int calls, int want) { return want < 0 ? calls > 0 : calls == want; };
            EXPECT_TRUE(as_expected(copy_range_calls, w.copy_range_tries)) << w.name << ": " << copy_range_calls;
            EXPECT_TRUE(as_expected(send_file_calls, w.send_file_tries)) << w.name << ": " << send_file_calls;
        }
    }
    // Another file system (a tmpfs where there is one), as the kernel has it.
    if (testutil::file_exists("/dev/shm")) {
        std::string out = "/dev/shm/morvel-test-" + std::to_string(getpid()) + ".pdf";
        ASSERT_EQ(morvel_optimize(in.c_str(), out.c_str()), 1) << morvel_last_error();
        EXPECT_TRUE(read_file(out) == want);
        std::filesystem::remove(out);
    }
}

// Runs that another process's change to the input meets at a random
// moment: each ends with an output of one whole version of the input, or
// with a message and the output as it was.
TEST(OutputFaults, AnInputChangedWhileItIsOptimized) {
    scratch_dir dir;
    const std::string a = large_pdf();
    std::string b = a;
    for (size_t i = b.find("/MediaBox [0 0 612 792]"); i != std::string::npos; i = b.find("/MediaBox [0 0 612 792]", i))
        b.replace(i, 23, "/MediaBox [0 0 792 612]");  // the same size, other pages
    const size_t cut = a.size() * 2 / 3;
    const std::string more = a + "% appended\n";
    std::set<std::string> versions;
    for (const std::string& v : {a, b, a.substr(0, cut), more})
        if (std::string o = optimized(v); !o.empty()) versions.insert(o);
    ASSERT_GE(versions.size(), 3u);

    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf"), next = dir.file("next.pdf");
    struct change {
        const char* what;
        std::function<void()> apply;
    };
    const change changes[] = {
        {"truncated", [&] { ASSERT_EQ(truncate(in.c_str(), static_cast<off_t>(cut)), 0); }},
        {"grown", [&] { std::ofstream(in, std::ios::app) << "% appended\n"; }},
        {"replaced", [&] { ASSERT_EQ(rename(next.c_str(), in.c_str()), 0); }},
    };
    std::mt19937 rng(7);
    int finished = 0, refused = 0;
    for (int run = 0; run < 30; run++) {
        const change& c = changes[run % 3];
        write_file(in, a);
        write_file(next, b);
        write_file(out, "sentinel");
        auto delay = std::chrono::microseconds(rng() % 25000);
        std::thread other([&] {
            std::this_thread::sleep_for(delay);
            c.apply();
        });
        int ok = morvel_optimize(in.c_str(), out.c_str());
        std::string message = morvel_last_error();
        other.join();
        if (ok) {
            EXPECT_TRUE(versions.count(read_file(out))) << c.what << ": an output of no whole version";
            finished++;
        } else {
            EXPECT_TRUE(message == "'" + in + "' changed while it was being optimized" ||
                        message == "read error on '" + in + "'")
                << c.what << ": " << message;
            EXPECT_EQ(read_file(out), "sentinel") << c.what;
            refused++;
        }
    }
    EXPECT_EQ(finished + refused, 30);
}

}  // namespace
