// Stream lengths given by reference, and when the written /Length changes.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "load/stream_lengths.h"

namespace {

using testutil::load;
using testutil::loaded;
using testutil::scan_only;
using testutil::stream_obj;

TEST(Lengths, ReferencedLengthSetsTheExtentAfterResolution) {
    std::string text =
        "5 0 obj<</Length 9 0 R>>stream\nabc\r\nendstream\nendobj\n"
        "9 0 obj\n3\nendobj\n"
        "9 0 obj\n 4 \nendobj\n";  // the later definition counts
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.data(5), "abc\r");
    const pdf_obj* five = r.get(5);
    EXPECT_EQ(five->endobj_pos, static_cast<int32_t>(text.find("endobj")));
}

TEST(Lengths, ReferencedLengthMustBeAPlainIntegerThatFits) {
    for (std::string length_body : {"4 0 R", "4 x", "<</N 4>>", "6", "-4"}) {
        std::string text = "5 0 obj<</Length 9 0 R>>stream\nabc\r\nendstream\nendobj\n9 0 obj " +
                           length_body + " endobj\n";
        auto r = load(text);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.data(5), "abc") << length_body;
    }
    auto missing = load("5 0 obj<</Length 9 0 R>>stream\nabc\r\nendstream\nendobj\n");
    EXPECT_EQ(missing.data(5), "abc");
}

TEST(Lengths, ReferencedLengthFromAnObjectStream) {
    std::string objstm_data = "9 0 4";
    std::string text = "5 0 obj<</Length 9 0 R>>stream\nabc\r\nendstream\nendobj\n" +
                       stream_obj(20, "/Type/ObjStm/N 1/First 4", objstm_data);
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    ASSERT_NE(r.get(9), nullptr);
    EXPECT_EQ(r.get(9)->body, "4");
    EXPECT_EQ(r.data(5), "abc\r");
}

TEST(Lengths, WrittenLengthFix) {
    struct {
        const char* dict;
        const char* data;
        length_fix::kind_t kind;
        const char* replaced;  // the bytes value_start..value_end
        bool is_ref;
    } cases[] = {
        {"<</Filter/X>>", "abc", length_fix::INSERT, "", false},
        {"<</Length 3>>", "abc", length_fix::KEEP, "", false},
        {"<</Length 03>>", "abc", length_fix::KEEP, "", false},
        {"<</Length 4/X 3>>", "abc", length_fix::REPLACE, "4", false},
        {"<</Length -3>>", "abc", length_fix::REPLACE, "-3", false},
        {"<</Length 3.5>>", "abc", length_fix::KEEP, "", false},  // the integer part counts
        {"<</Length 8 0 R>>", "abc", length_fix::KEEP, "", false},
        {"<</Length 9 0 R>>", "abc", length_fix::REPLACE, "9 0 R", true},
        {"<</Length 10 0 R>>", "abc", length_fix::REPLACE, "10 0 R", true},
        {"<</Length 11 0 R>>", "abc", length_fix::REPLACE, "11 0 R", true},
        {"<</Length 8\n0 R>>", "abcd", length_fix::REPLACE, "8\n0 R", true},
        {"<</Length -8 0 R>>", "abcd", length_fix::REPLACE, "-8 0 R", true},
        {"<</Length /Three>>", "abc", length_fix::REPLACE, "/Three", false},
        {"<</Length null/X 1>>", "abc", length_fix::REPLACE, "null", false},
        {"<</Length>>", "abc", length_fix::REPLACE, "", false},
        {"<</Length 3/Length 4>>", "abc", length_fix::KEEP, "", false},  // the first key decides
    };
    for (const auto& c : cases) {
        testutil::doc_table t;
        t.add(8, " 3 \n").add(9, "3 x").add(10, "<</A 3>>").add_stream(1, c.dict, c.data);
        length_fix f = stream_length_fix(t.doc.objects, t.rec(1));
        EXPECT_EQ(f.kind, c.kind) << c.dict;
        if (f.kind != length_fix::REPLACE) continue;
        std::string_view b = t.rec(1).body;
        EXPECT_EQ(b.substr(static_cast<size_t>(f.value_start), static_cast<size_t>(f.value_end - f.value_start)),
                  c.replaced)
            << c.dict;
        EXPECT_EQ(f.value_is_ref, c.is_ref) << c.dict;
    }
    testutil::doc_table plain;
    plain.add(1, "<</Length 5>>");
    EXPECT_EQ(stream_length_fix(plain.doc.objects, plain.rec(1)).kind, length_fix::KEEP);
}

}  // namespace
