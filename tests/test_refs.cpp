// Finding and renumbering indirect references in object text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf/refs.h"

namespace {

int32_t L(const std::string& s) { return static_cast<int32_t>(s.size()); }

std::vector<int32_t> collect(const std::string& s, size_t limit = 100, int32_t skip = -1) {
    std::vector<int32_t> nums;
    collect_references(s.data(), L(s), nums, limit, skip);
    return nums;
}

// Old numbers 3, 5, 6, 7, 12 have new numbers; everything else has none.
std::string rewrite(const std::string& s) {
    std::vector<int32_t> map(21, 0);
    map[3] = 30;
    map[5] = 50;
    map[6] = 60;
    map[7] = 70;
    map[12] = 40;
    out_buf out;
    rewrite_references(s.data(), L(s), map.data(), 20, out);
    return out.data;
}

TEST(Refs, TokenizerTable) {
    struct {
        std::string text;
        std::vector<int32_t> refs;
        std::string rewritten;
    } cases[] = {
        {"", {}, ""},
        {"12 0 R", {12}, "40 0 R"},
        {"12\r\n0\n  R", {12}, "40 0 R"},          // spread over lines
        {"012   000 R", {12}, "40 0 R"},          // leading zeros, space runs
        {"12 0R", {12}, "40 0 R"},                // no space needed before R
        {"12 3 R", {12}, "40 0 R"},               // renumbered references have generation 0
        {"1 0 0 RG", {}, "1 0 0 RG"},             // an operator, not a reference
        {"[1 2 3 0 R]", {3}, "[1 2 30 0 R]"},    // candidates at 1 and 2 fail
        {"(5 0 R) 6 0 R", {6}, "(5 0 R) 60 0 R"},
        {"<35 0 R> 6 0 R", {6}, "<35 0 R> 60 0 R"},
        {"% 5 0 R\r7 0 R", {7}, "% 5 0 R\r70 0 R"},
        {"% 5 0 R", {}, "% 5 0 R"},               // a comment that ends the text
        {"(a(b)\\) 5 0 R) 6 0 R", {6}, "(a(b)\\) 5 0 R) 60 0 R"},
        {"(a(b 5 0 R) 6 0 R", {}, "(a(b 5 0 R) 6 0 R"},  // unterminated: runs to the end
        {"(abc\\", {}, "(abc\\"},                 // backslash as the very last byte
        {"<5 0 R", {}, "<5 0 R"},                 // hex string without ">"
        {"<</A 5 0 R>>", {5}, "<</A 50 0 R>>"},
        {"/F1 7 0 R", {7}, "/F1 70 0 R"},         // the 1 of F1 fails, 7 0 R follows
        {"-5 0 R", {5}, "-50 0 R"},               // a sign is an ordinary byte
        {"1.5 0 R", {5}, "1.50 0 R"},
        {"5 0 R 5 0 R 6 0 R", {5, 6}, "50 0 R 50 0 R 60 0 R"},
        {"0 0 R", {}, "null"},                    // object 0 is never an object
        {"21 0 R", {21}, "null"},                 // above the map
        {"4 0 R", {4}, "null"},                   // no new number
        {"[4 0 R 5 0 R]", {4, 5}, "[null 50 0 R]"},
        {"5 0 R1 0 R", {1}, "5 0 Rnull"},         // R followed by a digit ends no reference
        {"5\x0B" "0 R", {}, "5\x0B" "0 R"},       // a control byte is no separator
        {std::string("5\0" "0 R", 5), {5}, "50 0 R"},  // NUL is white space
        {"2147483648 0 R", {}, "null"},           // does not fit: names no object
        {"4294967297 0 R", {}, "null"},           // and never wraps to 1
    };
    for (const auto& c : cases) {
        EXPECT_EQ(collect(c.text), c.refs) << c.text;
        EXPECT_EQ(rewrite(c.text), c.rewritten) << c.text;
    }
}

TEST(Refs, CollectLimitAndExistingEntries) {
    EXPECT_EQ(collect("1 0 R 2 0 R 3 0 R", 2), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(collect("1 0 R 2 0 R", 0), std::vector<int32_t>{});

    std::vector<int32_t> nums{2};
    std::string s = "1 0 R 2 0 R 3 0 R";
    collect_references(s.data(), L(s), nums, 10);
    EXPECT_EQ(nums, (std::vector<int32_t>{2, 1, 3}));
}

TEST(Refs, CollectLongListsStayDistinct) {
    std::string s = "[";
    std::vector<int32_t> want;
    for (int round = 0; round < 3; round++)
        for (int k = 1; k <= 100; k++) s += std::to_string(k) + " 0 R ";
    for (int k = 1; k <= 100; k++) want.push_back(k);
    s += "]";
    EXPECT_EQ(collect(s, 1000), want);
    EXPECT_EQ(collect(s, 50), std::vector<int32_t>(want.begin(), want.begin() + 50));
}

TEST(Refs, CollectSkipsOneReferenceToken) {
    std::string s = "<</Length 8 0 R/Filter/X>>";
    EXPECT_EQ(collect(s, 10, 10), std::vector<int32_t>{});
    EXPECT_EQ(collect(s, 10, 11), std::vector<int32_t>{8});  // not where a reference starts
    s = "<</Length 8 0 R/Other 8 0 R>>";
    EXPECT_EQ(collect(s, 10, 10), std::vector<int32_t>{8});  // reached another way
}

TEST(Refs, RewriteAppendsAndCopiesEverythingElse) {
    std::vector<int32_t> map{0, 9};
    out_buf out;
    buf_bytes(out, "head:", 5);
    std::string s = "<</Kids[1 0 R]/Name(1 0 R)>>\nstream";
    rewrite_references(s.data(), L(s), map.data(), 1, out);
    EXPECT_EQ(out.data, "head:<</Kids[9 0 R]/Name(1 0 R)>>\nstream");
    rewrite_references(s.data(), 0, map.data(), 1, out);
    EXPECT_EQ(out.data, "head:<</Kids[9 0 R]/Name(1 0 R)>>\nstream");
}

}  // namespace
