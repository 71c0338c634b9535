// The command-line program: output lines and exit statuses.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "test_util.h"

namespace {

using testutil::run;

std::string cli() { return MORVEL_CLI; }

TEST(Cli, CheckReportsEachFile) {
    testutil::scratch_dir dir;
    std::string lin = dir.file("lin.pdf"), plain = dir.file("plain.pdf");
    std::string dict = "1 0 obj\n<< /Linearized 1 /L 200 /H [ 1 1 ] /O 1 /E 1 /N 1 /T 1 >>\nendobj\n";
    std::string body = "%PDF-1.4\n" + dict;
    testutil::write_file(lin, body + std::string(200 - body.size(), ' '));
    testutil::write_file(plain, testutil::simple_pdf(1));

    std::string out;
    EXPECT_EQ(run(cli() + " check " + lin, &out), 0);
    EXPECT_EQ(out, lin + ": linearized\n");
    EXPECT_EQ(run(cli() + " check " + lin + " " + plain, &out), 1);
    EXPECT_EQ(out, lin + ": linearized\n" + plain +
                       ": not linearized: /Linearized key missing in first object dictionary\n");
}

TEST(Cli, UsageErrors) {
    EXPECT_EQ(run(cli() + " 2>/dev/null"), 2);
    EXPECT_EQ(run(cli() + " check 2>/dev/null"), 2);
    EXPECT_EQ(run(cli() + " frobnicate x 2>/dev/null"), 2);
    EXPECT_EQ(run(cli() + " optimize onlyone 2>/dev/null"), 2);
    std::string out;
    EXPECT_EQ(run(cli() + " --help", &out), 0);
    EXPECT_NE(out.find("usage: morvel check FILE..."), std::string::npos);
    EXPECT_EQ(run(cli() + " --version", &out), 0);
    EXPECT_EQ(out.rfind("morvel ", 0), 0u);
}

TEST(Cli, OptimizeFailureGoesToStderr) {
    testutil::scratch_dir dir;
    std::string out;
    std::string missing = dir.file("missing.pdf");
    EXPECT_EQ(run(cli() + " optimize " + missing + " " + dir.file("o.pdf") + " 2>&1", &out), 1);
    EXPECT_EQ(out, "morvel: cannot open file '" + missing + "'\n");
}

}  // namespace
