// The token rules: byte classes, keywords, names, integers, object headers
// and references.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pdf/lexer.h"

namespace {

int32_t L(const std::string& s) { return static_cast<int32_t>(s.size()); }

TEST(Lexer, ByteClasses) {
    for (int c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) EXPECT_TRUE(is_pdf_space(static_cast<unsigned char>(c))) << c;
    EXPECT_FALSE(is_pdf_space(0x0B));
    EXPECT_TRUE(is_loc_space(0x0B));
    EXPECT_FALSE(is_loc_space(0x00));
    EXPECT_FALSE(is_alnum(0xE9));  // fixed C-locale classes
    EXPECT_TRUE(is_alnum('z') && is_alnum('0') && !is_alnum('_'));
}

TEST(Lexer, KwAt) {
    struct { const char* text; int32_t pos; const char* kw; int want; } cases[] = {
        {"obj<<", 0, "obj", 1},           // at offset 0 only the byte after counts
        {"1 0 obj", 4, "obj", 1},         // ends at the length
        {"endobj", 3, "obj", 0},          // "d" before it
        {"<<obj[", 2, "obj", 1},
        {"objx", 0, "obj", 0},
        {"obj", -1, "obj", 0},
        {"ob", 0, "obj", 0},
        {"x obj\n", 2, "obj", 1},
    };
    for (auto& c : cases) EXPECT_EQ(kw_at(c.text, c.pos, L(c.text), c.kw), c.want) << c.text << " @" << c.pos;
}

TEST(Lexer, FindKw) {
    std::string s = "endstream";
    EXPECT_EQ(find_kw(s.data(), L(s), 0, "stream"), -1);
    s = "/stream";
    EXPECT_EQ(find_kw(s.data(), L(s), 0, "stream"), 1);
    s = "xobj obj objx obj";
    EXPECT_EQ(find_kw(s.data(), L(s), -5, "obj"), 5);
    EXPECT_EQ(find_kw(s.data(), L(s), 6, "obj"), 14);
    EXPECT_EQ(find_kw(s.data(), L(s), 15, "obj"), -1);
    std::string nul("a\0stream\0", 9);  // NUL bytes do not stop the search
    EXPECT_EQ(find_kw(nul.data(), L(nul), 0, "stream"), 2);
}

TEST(Lexer, FindName) {
    struct { std::string text; const char* name; int32_t start; int32_t end; int32_t want; } cases[] = {
        {"<</Type /Page>>", "Type", 0, 100, 2},
        {"<</Linearized 1/L 5>>", "L", 0, 100, 15},
        {"/Filter+", "Filter", 0, 100, -1},
        {"/Length 5", "L", 0, 100, -1},
        {"<</Type", "Type", 0, 100, 2},           // name ending at the limit counts
        {"<</Type_2 /Type-x", "Type", 0, 100, -1},
        {"/Type/Page", "Type", 0, 100, 0},
        {"/Type<<", "Type", 0, 100, 0},
        {"/Type.", "Type", 0, 100, 0},
        {"/Type /Type", "Type", 1, 100, 6},
        {"/Typed /Type", "Type", 0, 6, -1},      // end bounds the search
        {"/Type", "Type", -1, 100, -1},
        {"/Resources", "Resources", 0, 10, 0},
    };
    for (auto& c : cases)
        EXPECT_EQ(find_name(c.text.data(), L(c.text), c.start, c.end, c.name), c.want) << c.text;
}

// Long dictionaries are searched sixteen positions at a time: the name at
// every offset, after look-alikes, at the limit and cut by it.
TEST(Lexer, FindNameAtEveryOffset) {
    for (int32_t at = 0; at < 48; at++) {
        std::string text;
        while (L(text) < at) text += "/L /Len /Length_ ";  // "/Length_" is another name
        text.resize(static_cast<size_t>(at));
        // A look-alike cut short could end in "/Length": blanked.
        for (size_t k = text.rfind(' ') + 1; k < text.size(); k++) text[k] = ' ';
        const std::string filler = " /Lengths 3 /Le /Filter";
        for (int32_t tail : {0, 1, 20}) {
            std::string t = text + "/Length" + filler.substr(0, static_cast<size_t>(tail));
            EXPECT_EQ(find_name(t.data(), L(t), 0, L(t), "Length"), at) << t;
            EXPECT_EQ(find_name(t.data(), L(t), 0, at + 6, "Length"), -1) << t;  // cut by the limit
            EXPECT_EQ(find_name(t.data(), L(t), at + 1, L(t), "Length"), -1) << t;
        }
    }
}

TEST(Lexer, ParseIntAt) {
    struct { std::string text; int32_t cursor; int32_t want; int32_t cursor_after; } cases[] = {
        {"  -12 0 R", 0, -12, 5},
        {"+5", 0, -1, 0},
        {"\x0b" "5", 0, -1, 0},
        {"4294967297", 0, -1, 0},  // does not fit: not a number, not 1
        {"2147483647", 0, 2147483647, 10},
        {"2147483648", 0, -1, 0},
        {"-2147483648", 0, INT32_MIN, 11},
        {"99999999999999999999999", 0, -1, 0},
        {"007", 0, 7, 3},
        {"1.5", 0, 1, 1},
        {"   ", 0, -1, 0},
        {"-", 0, -1, 0},
        {"-x", 0, -1, 0},
        {"12", 2, -1, 2},
        {"\r\n\t\f 42x", 0, 42, 7},
    };
    for (auto& c : cases) {
        int32_t cur = c.cursor;
        EXPECT_EQ(parse_int_at(c.text.data(), L(c.text), &cur), c.want) << c.text;
        EXPECT_EQ(cur, c.cursor_after) << c.text;
    }
    std::string s = "123";  // end bounds the digits
    int32_t cur = 0;
    EXPECT_EQ(parse_int_at(s.data(), 2, &cur), 12);
}

TEST(Lexer, ParseObjHead) {
    struct { std::string text; int32_t want; int32_t num; int32_t gen; } cases[] = {
        {"12 0 obj", 0, 12, 0},
        {"x12 0 obj", 1, 12, 0},
        {"12\r\n0\n obj", 0, 12, 0},
        {"12 0x obj", -1, 0, 0},
        {"0 obj", -1, 0, 0},
        {"/12 0 obj", 1, 12, 0},
        {"7 3 obj", 0, 7, 3},
        {"  5 0 obj", 2, 5, 0},
        {" 0 obj", -1, 0, 0},           // no object number before the generation
        {"5\x0b" "0\x0b" "obj", 0, 5, 0},  // vertical tab is locale space
        {"a 5 0 obj", 2, 5, 0},
        {"0 0 obj", 0, 0, 0},          // number 0 is returned; callers reject it
        {"4294967297 0 obj", -1, 0, 0},  // too large for a number: no header
        {"1 4294967296 obj", -1, 0, 0},
        {"0000000000002 0 obj", 0, 2, 0},
    };
    for (auto& c : cases) {
        int32_t pos = static_cast<int32_t>(c.text.rfind("obj"));
        int32_t num = -7, gen = -7;
        int32_t got = parse_obj_head(c.text.data(), pos, &num, &gen);
        EXPECT_EQ(got, c.want) << c.text;
        if (got >= 0) {
            EXPECT_EQ(num, c.num) << c.text;
            EXPECT_EQ(gen, c.gen) << c.text;
        }
    }
    int32_t n, g;
    EXPECT_EQ(parse_obj_head("1obj", 1, &n, &g), -1);
}

TEST(Lexer, ReferenceAt) {
    int32_t n = 0, g = 0;
    std::string s = "x 12 7 R/";
    EXPECT_EQ(reference_at(s.data(), L(s), 2, &n, &g), 8);
    EXPECT_EQ(n, 12);
    EXPECT_EQ(g, 7);
    EXPECT_EQ(reference_at(s.data(), L(s), 1, &n, &g), -1);  // not at a digit
    EXPECT_EQ(reference_at(s.data(), L(s), 3, &n, &g), 8);  // "2 7 R" is one too
    EXPECT_EQ(n, 2);
    s = "12 0 RG";
    EXPECT_EQ(reference_at(s.data(), L(s), 0, &n, &g), -1);
    s = "12 0";
    EXPECT_EQ(reference_at(s.data(), L(s), 0, &n, &g), -1);
}

TEST(Lexer, ReferenceTokenRules) {
    struct {
        const char* text;
        int32_t pos;
        int32_t end;
    } cases[] = {
        {"12 0 R", 0, 6},      {"12 0 R>>", 0, 6},   {"12\n0\nR", 0, 6}, {"12 0 RG", 0, -1},
        {"12 0R", 0, 5},       {"120 R", 0, -1},     {"12 0", 0, -1},    {"x 1 0 R", 2, 7},
        {"1 2 3 0 R", 0, -1},  {"007 00 R", 0, 8},
    };
    for (auto& c : cases) {
        int32_t num = 0, gen = 0;
        EXPECT_EQ(reference_at(c.text, static_cast<int32_t>(strlen(c.text)), c.pos, &num, &gen), c.end) << c.text;
    }
}

}  // namespace
