// Keyword, name and number scanning; dictionary copies and /Type tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"

namespace {

int32_t L(const std::string& s) { return static_cast<int32_t>(s.size()); }

TEST(Scan, ByteClasses) {
    for (int c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) EXPECT_TRUE(is_pdf_space(static_cast<unsigned char>(c))) << c;
    EXPECT_FALSE(is_pdf_space(0x0B));
    EXPECT_TRUE(is_loc_space(0x0B));
    EXPECT_FALSE(is_loc_space(0x00));
    EXPECT_FALSE(is_alnum(0xE9));  // fixed C-locale classes
    EXPECT_TRUE(is_alnum('z') && is_alnum('0') && !is_alnum('_'));
}

TEST(Scan, KwAt) {
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

TEST(Scan, FindKw) {
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

TEST(Scan, FindName) {
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

TEST(Scan, ParseIntAt) {
    struct { std::string text; int32_t cursor; int32_t want; int32_t cursor_after; } cases[] = {
        {"  -12 0 R", 0, -12, 5},
        {"+5", 0, -1, 0},
        {"\x0b" "5", 0, -1, 0},
        {"4294967297", 0, 1, 10},
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

TEST(Scan, DictInt) {
    std::string s = "<</N 3/First 17>>";
    EXPECT_EQ(dict_int(s.data(), L(s), "N"), 3);
    EXPECT_EQ(dict_int(s.data(), L(s), "First"), 17);
    s = "<</N /Name /A [1]>>";
    EXPECT_EQ(dict_int(s.data(), L(s), "N"), -1);
    EXPECT_EQ(dict_int(s.data(), L(s), "A"), -1);
    EXPECT_EQ(dict_int(s.data(), L(s), "Missing"), -1);
}

TEST(Scan, ParseObjHead) {
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

TEST(Scan, ExtractDict) {
    EXPECT_EQ(extract_dict_text("1 0 R>>", 0, 5), "1 0 R");
    EXPECT_EQ(extract_dict_text("abc", 2, 2), "");
    EXPECT_EQ(extract_dict_text("abc", -1, 2), "");

    struct { std::string text; int32_t pos; std::string want; } cases[] = {
        {"<</A 1>>", 0, "<</A 1>>"},
        {"<</A <</B 2>> >> rest", 0, "<</A <</B 2>> >>"},
        {"<</A 1", 0, ""},
        {"<", 0, ""},
        {"x<</A 1>>", 1, "<</A 1>>"},
        {"<</S <3E>>>", 0, "<</S <3E>>"},  // a hex string before ">>" closes early
        {"<</A 1>", 0, ""},
    };
    for (auto& c : cases) EXPECT_EQ(extract_dict_at(c.text.data(), L(c.text), c.pos), c.want) << c.text;
}

TEST(Scan, DictType) {
    struct { std::string text; int want; } cases[] = {
        {"<</Type/Catalog/Pages 3 0 R>>", TYPE_CATALOG},
        {"<</Type /Pages/Kids[]>>", TYPE_PAGES},
        {"<</Type /Page>>", TYPE_PAGE},
        {"<</Type /PageLabel>>", TYPE_NONE},
        {"<</Types /Page>>", TYPE_NONE},
        {"<</Type /Font /X 1 /Type /Page>>", TYPE_PAGE},
        {"<</Type /Page_2>>", TYPE_PAGE},
        {"<</Type /Pagesx>>", TYPE_NONE},
        {"/Type /Page", TYPE_PAGE},
        {"/Type /Pages", TYPE_PAGES},
        {"/Type", TYPE_NONE},
    };
    for (auto& c : cases) EXPECT_EQ(check_dict_type(c.text.data(), L(c.text)), c.want) << c.text;

    std::string x = "<</Type /XRef/W[1 2 1]>>";
    EXPECT_EQ(has_type(x.data(), L(x), "XRef"), 1);
    x = "<</Type /XRefStm>>";
    EXPECT_EQ(has_type(x.data(), L(x), "XRef"), 0);
    x = "<</Type/ObjStm/N 3/First 20>>";
    EXPECT_EQ(has_type(x.data(), L(x), "ObjStm"), 1);
    x = "<</Type /Font /Type /XRef";
    EXPECT_EQ(has_type(x.data(), L(x), "XRef"), 1);
}

}  // namespace
