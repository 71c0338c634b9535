// The object scanner and its stream-extent rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"

namespace {

using testutil::load;
using testutil::loaded;
using testutil::scan_only;
using testutil::stream_obj;

TEST(ObjectScan, DictionaryAndOtherBodies) {
    auto r = scan_only("1 0 obj<</Type/Page>>endobj 2 0 obj\n42\nendobj");
    ASSERT_EQ(r.objs().items.size(), 2u);
    const pdf_obj& a = r.objs().items[0];
    EXPECT_EQ(a.num, 1);
    EXPECT_EQ(a.hdr_pos, 0);
    EXPECT_EQ(a.body, "<</Type/Page>>");
    EXPECT_EQ(a.body_pos, 7);
    EXPECT_EQ(a.stream_kw_pos, -1);
    EXPECT_EQ(a.endobj_pos, 21);
    EXPECT_EQ(a.end_pos, 27);
    EXPECT_EQ(a.type, TYPE_PAGE);
    const pdf_obj& b = r.objs().items[1];
    EXPECT_EQ(b.body, "\n42\n");
    EXPECT_EQ(b.body_pos, -1);
    EXPECT_EQ(b.has_stream, 0);
    EXPECT_EQ(b.stream, nullptr);
}

TEST(ObjectScan, HeaderRules) {
    EXPECT_TRUE(scan_only("0 0 obj<<>>endobj").objs().items.empty());
    EXPECT_TRUE(scan_only("1 0 obj<<>>").objs().items.empty());     // no endobj
    EXPECT_TRUE(scan_only("endobj endobj").objs().items.empty());   // "obj" inside endobj
    EXPECT_TRUE(scan_only("1 0x obj<<>>endobj").objs().items.empty());
    auto r = scan_only("x12\r\n0\n obj<</Type/Catalog>>endobj");
    ASSERT_EQ(r.objs().items.size(), 1u);
    EXPECT_EQ(r.objs().items[0].num, 12);
    EXPECT_EQ(r.objs().items[0].hdr_pos, 1);
    EXPECT_EQ(r.objs().items[0].type, TYPE_CATALOG);
}

TEST(ObjectScan, StreamDataByKeywords) {
    struct {
        std::string text;
        std::string data;
    } cases[] = {
        // /Length wrong or absent: the keywords decide.
        {"3 0 obj<</Length 9>>stream\r\nabcde\r\nendstream endobj", "abcde"},
        {"3 0 obj<<>>stream \nabcde\nendstream endobj", "abcde"},
        {"3 0 obj<<>>stream \t\rabcde\rendstream endobj", "abcde"},
        {"3 0 obj<<>>stream xyz\nendstream endobj", "xyz"},             // one byte dropped
        {"3 0 obj<<>>stream\nabc\n\rendstream endobj", "abc\n"},        // only the CR goes
        {"3 0 obj<<>>stream\nabc  endstream endobj", "abc  "},          // spaces stay
        {"3 0 obj<<>>stream\nabc endobj", "abc "},                      // no endstream
        {"3 0 obj<</Length 2 0 R>>stream\nabc\nendstream endobj", "abc"},
    };
    for (auto& c : cases) {
        auto r = scan_only(c.text);
        ASSERT_EQ(r.objs().items.size(), 1u) << c.text;
        const pdf_obj& o = r.objs().items[0];
        EXPECT_EQ(o.has_stream, 1);
        EXPECT_EQ(r.data(3), c.data) << c.text;
        EXPECT_EQ(o.data_len, static_cast<int32_t>(c.data.size()));
        EXPECT_EQ(o.data_end - o.data_pos, o.data_len);
        EXPECT_EQ(o.stream_len, static_cast<uint64_t>(o.data_len));
        EXPECT_EQ(o.stream_kw_pos, static_cast<int32_t>(c.text.find("stream")));
        EXPECT_EQ(o.body, c.text.substr(7, static_cast<size_t>(o.stream_kw_pos) - 7));
    }
}

TEST(ObjectScan, StreamKeywordMustFollowTheDictionary) {
    auto r = scan_only("4 0 obj<</A 1>> x stream\nabc\nendstream endobj");
    ASSERT_EQ(r.objs().items.size(), 1u);
    EXPECT_EQ(r.objs().items[0].has_stream, 0);
    EXPECT_EQ(r.objs().items[0].stream_kw_pos, -1);
    EXPECT_EQ(r.objs().items[0].body, "<</A 1>> x stream\nabc\nendstream ");
}

TEST(ObjectScan, DirectLengthKeepsDataEndingInCarriageReturn) {
    // The data's last byte is CR before a lone LF: the keyword rule would lose it.
    auto r = scan_only("5 0 obj<</Length 4>>stream\nabc\r\nendstream\nendobj");
    EXPECT_EQ(r.data(5), "abc\r");
    // CR LF, lone CR and no line end at all before "endstream" are accepted.
    EXPECT_EQ(scan_only("5 0 obj<</Length 3>>stream\nabc\r\nendstream\nendobj").data(5), "abc");
    EXPECT_EQ(scan_only("5 0 obj<</Length 3>>stream\nabc\rendstream\nendobj").data(5), "abc");
    EXPECT_EQ(scan_only("5 0 obj<</Length 1>>stream\n0endstream\nendobj").data(5), "0");
    // Not verified: two line ends, or a length past the end of the input.
    EXPECT_EQ(scan_only("5 0 obj<</Length 3>>stream\nabc\n\nendstream\nendobj").data(5), "abc\n");
    EXPECT_EQ(scan_only("5 0 obj<</Length 99>>stream\nabc\nendstream\nendobj").data(5), "abc");
    EXPECT_EQ(scan_only("5 0 obj<</Length -1>>stream\nabc\nendstream\nendobj").data(5), "abc");
}

TEST(ObjectScan, DirectLengthProtectsDataThatLooksLikeObjects) {
    std::string data = "q endobj\n1 0 obj <</Type/Page>> endobj\n7 0 obj\nQ";
    std::string text = stream_obj(6, "", data) + "8 0 obj\n(next)\nendobj\n";
    auto r = scan_only(text);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{6, 8}));
    const pdf_obj& o = r.objs().items[0];
    EXPECT_EQ(r.data(6), data);
    EXPECT_EQ(o.endobj_pos, static_cast<int32_t>(text.find("endobj\n8 0 obj")));
    EXPECT_EQ(r.objs().items[1].body, "\n(next)\n");
}

TEST(ObjectScan, WithoutDirectLengthFakeHeadersCutTheStream) {
    // Object 6 ends at the next header: the fake one inside its data.
    std::string text = "6 0 obj\n<</Length 6 0 R>>stream\nx\n1 0 obj <</Type/Page>> endobj\nendstream\nendobj\n";
    auto r = scan_only(text);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{6, 1}));
    EXPECT_EQ(r.objs().items[0].endobj_pos, static_cast<int32_t>(text.find("1 0 obj")));
    EXPECT_EQ(r.data(6), "x");
    EXPECT_EQ(r.objs().items[1].body, "<</Type/Page>> ");
    EXPECT_EQ(r.objs().items[1].type, TYPE_PAGE);

    // An "endobj" inside the data that comes first ends it there.
    text = "6 0 obj\n<<>>stream\nq endobj\n1 0 obj <</Type/Page>> endobj\nendstream\nendobj\n";
    r = scan_only(text);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{6, 1}));
    EXPECT_EQ(r.objs().items[0].endobj_pos, static_cast<int32_t>(text.find("endobj")));
    EXPECT_EQ(r.data(6), "q ");
}

TEST(ObjectScan, NextHeaderEndsAnObjectWithoutEndobj) {
    auto r = scan_only("1 0 obj <</A 1>>\n2 0 obj <</B 2>> endobj");
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(r.objs().items[0].body, "<</A 1>>\n");
    EXPECT_EQ(r.objs().items[0].endobj_pos, 17);
    EXPECT_EQ(r.objs().items[1].body, "<</B 2>> ");
}

TEST(ObjectScan, StreamKeywordRightBeforeTheNextHeader) {
    // "stream" ends where the next header's number begins: one byte after the
    // keyword would start the data, past the object's end; the data is empty.
    auto r = scan_only("1 0 obj<<>>stream2 0 obj<<>>endobj");
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{1, 2}));
    const pdf_obj& o = r.objs().items[0];
    EXPECT_EQ(o.has_stream, 1);
    EXPECT_EQ(o.data_len, 0);
    EXPECT_EQ(o.stream_len, 0u);
    EXPECT_EQ(o.data_end, o.data_pos);
}

TEST(ObjectScan, ThousandsOfHeadersAndOneEndobj) {
    std::string text;
    const int n = 20000;
    for (int i = 1; i <= n; i++) text += std::to_string(i) + " 0 obj\n<</K " + std::to_string(i) + ">>\n";
    text += "endobj\n";
    auto r = scan_only(text);
    ASSERT_EQ(r.objs().items.size(), static_cast<size_t>(n));
    size_t total = 0;
    for (const pdf_obj& o : r.objs().items) total += o.body.size();
    EXPECT_LT(total, text.size());  // no body holds a copy of the rest of the file
    EXPECT_EQ(r.objs().items[n - 1].body, "<</K " + std::to_string(n) + ">>\n");
}

TEST(ObjectScan, VerifiedStreamWithoutEndobjAfterItIsDropped) {
    auto r = scan_only("5 0 obj<</Length 9>>stream\nin endobj\nendstream\n");
    EXPECT_TRUE(r.objs().items.empty());
}

TEST(ObjectScan, ObjectsInsideUnverifiedStreamDataAreFound) {
    // Without a usable /Length the data is searched: '5 0 obj' in it makes a
    // record, and when the stream lies after the real object 5, that wins.
    std::string text =
        "5 0 obj<</Real 1>>endobj\n"
        "6 0 obj<<>>stream\nx 5 0 obj <</Fake 1>> endobj\nendstream\nendobj\n";
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.get(5)->body, "<</Fake 1>> ");
}

}  // namespace
