// The error text: its lifecycle across calls, truncation, and the argument
// checks of the two working functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/error.h"
#include "morvel.h"
#include "test_util.h"

namespace {

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

TEST(Optimize, ArgumentCheckComesFirst) {
    for (auto [in, out] : {std::pair<const char*, const char*>{nullptr, "o.pdf"}, {"", "o.pdf"},
                           {"missing-input.pdf", nullptr}, {"missing-input.pdf", ""}}) {
        EXPECT_EQ(morvel_optimize(in, out), 0);
        EXPECT_STREQ(morvel_last_error(), "input_path or output_path is NULL/empty");
    }
}

}  // namespace
