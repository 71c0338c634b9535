// Object-stream expansion: unfiltered, deflated and predicted streams,
// header and slice rules, where the unpacked objects stand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "hostile_pdfs.h"

namespace {

using testutil::load;
using testutil::loaded;
using testutil::scan_only;
using testutil::stream_obj;
using testutil::zlib_compress;

// PNG "Up" rows of width w over data (padded with spaces to whole rows).
std::string png_up_rows(std::string data, int w) {
    while (data.size() % static_cast<size_t>(w)) data += ' ';
    std::string out, prev(static_cast<size_t>(w), '\0');
    for (size_t i = 0; i < data.size(); i += static_cast<size_t>(w)) {
        out += '\x02';
        for (int k = 0; k < w; k++)
            out += static_cast<char>(data[i + static_cast<size_t>(k)] - prev[static_cast<size_t>(k)]);
        prev = data.substr(i, static_cast<size_t>(w));
    }
    return out;
}

TEST(ObjStm, UnfilteredStreamIsReplacedByItsObjects) {
    std::string text = "1 0 obj<</A 0>>endobj\n" +
                       stream_obj(3, "/Type/ObjStm/N 2/First 10", "11 0 12 9 <</A 1>> <</Type/Page>>") +
                       "2 0 obj<</B 0>>endobj\n";
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{1, 11, 12, 2}));
    const pdf_obj* a = r.get(11);
    EXPECT_EQ(a->body, "<</A 1>>");
    EXPECT_EQ(a->gen, 0);
    EXPECT_EQ(a->hdr_pos, -1);
    EXPECT_EQ(a->body_pos, -1);
    EXPECT_EQ(a->stream_kw_pos, -1);
    EXPECT_EQ(a->endobj_pos, 0);
    EXPECT_EQ(a->has_stream, 0);
    EXPECT_EQ(a->objstm_num, 3);
    EXPECT_EQ(r.get(12)->body, "<</Type/Page>>");
    EXPECT_EQ(r.get(12)->type, TYPE_PAGE);
    EXPECT_EQ(r.get(1)->objstm_num, 0);
}

TEST(ObjStm, HeaderAndSliceEdgeCases) {
    struct {
        std::string dict;
        std::string data;
        std::vector<std::pair<int32_t, std::string>> want;  // empty: the stream stays
        bool stream_stays;
    } cases[] = {
        // Only pairs that read count; the last one runs to the end.
        {"/Type/ObjStm/N 3/First 8", "5 0 6 x <</A 1>> tail", {{5, "<</A 1>> tail"}}, false},
        // No pair at all: the stream leaves the table with nothing in its place.
        {"/Type/ObjStm/N 1/First 4", "x 0 <</A 1>>", {}, false},
        {"/Type/ObjStm/N 0/First 4", "5 0 <</A 1>>", {}, true},
        {"/Type/ObjStm/N 1", "5 0 <</A 1>>", {}, true},
        {"/Type/ObjStm/N 1/First 12", "5 0 <</A 1>>", {}, true},     // First not below the length
        {"/Type/ObjStm/N 99/First 4", "5 0 <</A 1>>", {}, true},     // N above the length
        {"/Type/ObjStm/Filter/LZWDecode/N 1/First 4", "5 0 <</A 1>>", {}, true},
        // Trimming: a leading form feed goes, a trailing one stays.
        {"/Type/ObjStm/N 2/First 8", "5 0 6 6 \f(a)\f\n\r\t (b)" + std::string("\0 ", 2),
         {{5, "(a)\f"}, {6, "(b)"}}, false},
        // Entries whose next offset is not larger, or numbered 0, are passed over.
        {"/Type/ObjStm/N 3/First 12", "5 3 6 3 0 6 (a)(b)", {{6, "(b)"}}, false},
        {"/Type/ObjStm/N 2/First 8", "5 0 6 40 (a)", {}, false},  // 5 runs past the data
        // Within one stream a later pair wins.
        {"/Type/ObjStm/N 2/First 8", "5 0 5 4 (a) (b)", {{5, "(b)"}}, false},
    };
    for (auto& c : cases) {
        std::string text = stream_obj(3, c.dict, c.data) + "1 0 obj<</Keep 1>>endobj\n";
        auto r = load(text);
        ASSERT_TRUE(r.ok) << c.dict;
        std::vector<int32_t> want_nums;
        if (c.stream_stays) want_nums.push_back(3);
        for (auto& [num, body] : c.want) {
            want_nums.push_back(num);
            ASSERT_NE(r.get(num), nullptr) << c.data;
            EXPECT_EQ(r.get(num)->body, body) << c.data;
        }
        want_nums.push_back(1);
        EXPECT_EQ(r.nums(), want_nums) << c.dict << " | " << c.data;
    }
}

TEST(ObjStm, CrossReferenceStreamsLeaveTheTable) {
    std::string text = "1 0 obj<</Type/XRef/Size 3>>endobj\n" +
                       stream_obj(2, "/Type /XRef/W[1 2 1]", "abcd") +
                       stream_obj(4, "/Filter/FlateDecode/Type/XRef", "xyz") + "5 0 obj<</A 1>>endobj\n";
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.nums(), (std::vector<int32_t>{1, 5}));
    ASSERT_EQ(r.doc.xref_streams.size(), 2u);
    EXPECT_EQ(r.doc.xref_streams[0].num, 2);
    EXPECT_EQ(r.doc.xref_streams[1].num, 4);
}

TEST(ObjStm, UnpackedObjectsStandWhereTheirStreamStood) {
    std::string text = "7 0 obj(top early)endobj\n8 0 obj(top early)endobj\n" +
                       stream_obj(3, "/Type/ObjStm/N 3/First 12", "7 0 8 4 9 8 (s7)(s8)(s9)") +
                       "8 0 obj(top late)endobj\n";
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.nums(), (std::vector<int32_t>{7, 9, 8}));
    EXPECT_EQ(r.get(7)->body, "(s7)");
    EXPECT_EQ(r.get(8)->body, "(top late)");
}

TEST(ObjStm, FlateDecodedStream) {
    std::string inner = "11 0 12 9 <</A 1>> <</Type/Page>>";
    std::string text = stream_obj(3, "/Type/ObjStm/N 2/First 10/Filter/FlateDecode", zlib_compress(inner));
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{11, 12}));
    EXPECT_EQ(r.get(11)->body, "<</A 1>>");
    EXPECT_EQ(r.get(12)->type, TYPE_PAGE);
}

TEST(ObjStm, FlateDecodedStreamNeedingMoreRoom) {
    // Inflates to far more than 8 times its size plus 64 KiB.
    std::string big(3 << 20, ' ');
    std::string inner = "11 0 (" + big + ")";
    std::string z = zlib_compress(inner);
    ASSERT_LT(8 * z.size() + 65536, inner.size());
    auto r = load(stream_obj(3, "/Type/ObjStm/N 1/First 5/Filter/FlateDecode", z));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{11}));
    EXPECT_EQ(r.get(11)->body.size(), big.size() + 2);
}

TEST(ObjStm, UndecodableFlateStreamStays) {
    auto r = load(stream_obj(3, "/Type/ObjStm/N 1/First 4/Filter/FlateDecode", "not zlib data"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.nums(), (std::vector<int32_t>{3}));
}

TEST(ObjStm, PredictedStream) {
    std::string inner = "11 0 12 9 <</A 1>> <</Type/Page>>";
    std::string z = zlib_compress(png_up_rows(inner, 5));
    auto r = load(stream_obj(
        3, "/Type/ObjStm/N 2/First 10/Filter/FlateDecode/DecodeParms<</Predictor 12/Columns 5>>", z));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{11, 12}));
    EXPECT_EQ(r.get(11)->body, "<</A 1>>");
    EXPECT_EQ(r.get(12)->body, "<</Type/Page>>");

    // A filter type above 4: the stream cannot be decoded and stays.
    std::string bad = png_up_rows(inner, 5);
    bad[6] = '\x07';
    auto b = load(stream_obj(
        3, "/Type/ObjStm/N 2/First 10/Filter/FlateDecode/DecodeParms<</Predictor 12/Columns 5>>",
        zlib_compress(bad)));
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.nums(), (std::vector<int32_t>{3}));
}

}  // namespace

TEST(ObjStm, NumbersNamedManyTimesBecomeOneRecord) {
    // A million header entries naming three numbers: only the last entry
    // of each number counts, as duplicate resolution would decide.
    std::string header;
    const int rounds = 333334;
    for (int k = 0; k < rounds; k++) header += "5 0 6 4 7 8 ";
    std::string inner = header + "(a) (b) (c)";
    std::string dict = "/Type/ObjStm/N " + std::to_string(3 * rounds) + "/First " + std::to_string(header.size()) +
                       "/Filter/FlateDecode";
    auto r = load(stream_obj(3, dict, zlib_compress(inner)));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.nums(), (std::vector<int32_t>{5, 6, 7}));
    EXPECT_EQ(r.get(5)->body, "(a)");
    EXPECT_EQ(r.get(6)->body, "(b)");
    EXPECT_EQ(r.get(7)->body, "(c)");
}

TEST(ObjStm, StreamPastTheDecodingLimitFailsTheLoad) {
    // 256 MiB and one byte of data: its objects cannot be had, so the load
    // fails rather than losing them.
    std::string prefix = "11 0 (";
    std::string z = hostile::deflated_run(prefix, ' ', (size_t{256} << 20) + 1 - prefix.size());
    document doc;
    status s = testutil::load_from(
        doc, stream_obj(9, "/Type/ObjStm/N 1/First 5/Filter/FlateDecode", z) + "1 0 obj<</A 1>>endobj\n");
    EXPECT_EQ(s.what, problem::objstm_too_large);
    EXPECT_EQ(testutil::message_of(s, "in.pdf"), "object stream 9 0 is too large to decode in 'in.pdf'");
}
