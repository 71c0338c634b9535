// The output file under faults, watched from outside the process: the
// system calls that replace a file, and runs killed at random moments.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.h"
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
        std::string data(200000, ' ');
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

}  // namespace
