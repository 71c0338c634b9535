// Loading: reading the input and its failures, encryption refusal, the
// object scan with its stream-extent rules, object-stream expansion,
// duplicate resolution, and a pass over the corpus.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "load/document.h"
#include "load/encryption.h"
#include "load/loader.h"
#include "load/object_scan.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::scratch_dir;
using testutil::write_file;

// An input and what one of the loading steps made of it (stream views
// point into the input, so both live together).
struct loaded {
    document doc;
    bool ok = false;

    const obj_list& objs() const { return doc.objects; }

    const pdf_obj* get(int32_t num) const {
        for (const pdf_obj& o : doc.objects.items)
            if (o.num == num) return &o;
        return nullptr;
    }
    std::string data(int32_t num) const {
        const pdf_obj* o = get(num);
        return o && o->stream ? std::string(o->stream, o->stream_len) : std::string("<none>");
    }
    std::vector<int32_t> nums() const {
        std::vector<int32_t> v;
        for (const pdf_obj& o : doc.objects.items) v.push_back(o.num);
        return v;
    }
};

loaded scan_only(const std::string& bytes) {
    loaded r;
    r.doc.input = testutil::input_from(bytes);
    scan_objects(r.doc.input, r.doc.objects.items);
    r.ok = true;
    return r;
}

loaded load(const std::string& bytes) {
    loaded r;
    r.ok = testutil::load_from(r.doc, bytes).ok();
    return r;
}

std::string zlib_compress(const std::string& s) {
    uLongf n = compressBound(static_cast<uLong>(s.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(s.data()),
              static_cast<uLong>(s.size()), 9);
    out.resize(n);
    return out;
}

// "N 0 obj\n<<dict /Length len>>stream\n" data "\nendstream\nendobj\n".
std::string stream_obj(int num, const std::string& dict, const std::string& data) {
    return std::to_string(num) + " 0 obj\n<<" + dict + "/Length " + std::to_string(data.size()) +
           ">>stream\n" + data + "\nendstream\nendobj\n";
}

// ---------------------------------------------------------------- reading

struct optimize_result {
    int rc;
    std::string message;
    bool output_untouched;
};

// Runs morvel_optimize with an existing output file that must survive.
optimize_result optimize_with_sentinel(const scratch_dir& dir, const std::string& in) {
    std::string out = dir.file("out.pdf");
    write_file(out, "sentinel");
    int rc = morvel_optimize(in.c_str(), out.c_str());
    return {rc, morvel_last_error(), testutil::read_file(out) == "sentinel"};
}

TEST(ReadInput, MissingFile) {
    scratch_dir dir;
    std::string in = dir.file("missing.pdf");
    auto r = optimize_with_sentinel(dir, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "cannot open file '" + in + "'");
    EXPECT_TRUE(r.output_untouched);
}

TEST(ReadInput, TwoGibibytesIsTooLarge) {
    scratch_dir dir;
    std::string in = dir.file("huge.pdf");
    write_file(in, "");
    if (truncate(in.c_str(), 0x80000000LL) != 0) GTEST_SKIP() << "no sparse file here";
    auto r = optimize_with_sentinel(dir, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "file '" + in + "' is too large (2147483648 bytes)");
    EXPECT_TRUE(r.output_untouched);
}

TEST(ReadInput, UnseekableInput) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "1 0 obj", 7), 7);
    std::string in = "/proc/self/fd/" + std::to_string(fds[0]);
    scratch_dir dir;
    auto r = optimize_with_sentinel(dir, in);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "failed to seek in '" + in + "'");
    EXPECT_TRUE(r.output_untouched);
}

TEST(ReadInput, ShortRead) {
    // Attribute files claim a whole page but hold a few bytes.
    std::string in;
    for (const char* p : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/kernel/uevent_seqnum",
                          "/sys/kernel/profiling"})
        if (testutil::file_exists(p) && !testutil::read_file(p).empty()) in = p;
    if (in.empty()) GTEST_SKIP() << "no attribute file to read";
    scratch_dir dir;
    auto r = optimize_with_sentinel(dir, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "read error on '" + in + "'");
    EXPECT_TRUE(r.output_untouched);
}

#ifndef MORVEL_SANITIZED
TEST(ReadInputDeathTest, NoMemoryForTheInput) {
    scratch_dir dir;
    std::string in = dir.file("big.pdf");
    write_file(in, "");
    ASSERT_EQ(truncate(in.c_str(), 512LL << 20), 0);
    std::string out = dir.file("out.pdf");
    write_file(out, "sentinel");
    std::string want = "out of memory reading '" + in + "'";
    auto run = [&] {
        struct rlimit lim = {256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &lim);
        int rc = morvel_optimize(in.c_str(), out.c_str());
        _exit(rc == 0 && want == morvel_last_error() ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
    EXPECT_EQ(testutil::read_file(out), "sentinel");
}
#endif

TEST(ReadInput, ReadsWholeFileWithNul) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    std::string bytes("ab\0cd", 5);
    write_file(in, bytes);
    input_file input;
    ASSERT_TRUE(read_input_file(in.c_str(), input).ok());
    ASSERT_EQ(input.len, 5);
    EXPECT_EQ(std::string(input.data.get(), 6), bytes + '\0');

    write_file(in, "");
    input_file empty;
    ASSERT_TRUE(read_input_file(in.c_str(), empty).ok());
    EXPECT_EQ(empty.len, 0);
    EXPECT_EQ(empty.data[0], '\0');
}

TEST(ReadInput, EmptyAndObjectlessFilesHaveNoObjects) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    for (std::string bytes : {std::string(), std::string("%PDF-1.4\nno objects here\n"),
                              std::string("1 0 obj\n<</Type/XRef/Length 2>>stream\nab\nendstream\nendobj\n"),
                              std::string("0 0 obj\n<<>>\nendobj\n")}) {
        write_file(in, bytes);
        auto r = optimize_with_sentinel(dir, in);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.message, "no valid PDF objects found in '" + in + "'") << bytes;
        EXPECT_TRUE(r.output_untouched);
    }
}

TEST(ReadInput, EncryptedFileIsRefused) {
    scratch_dir dir;
    std::string in = dir.file("enc.pdf");
    write_file(in, testutil::simple_pdf(1) +
                       "trailer\n<< /Size 9 /Encrypt 8 0 R >>\nstartxref\n0\n%%EOF\n");
    auto r = optimize_with_sentinel(dir, in);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.message, "encrypted PDFs are not supported \xE2\x80\x94 decrypt first: '" + in + "'");
    EXPECT_TRUE(r.output_untouched);
}

// ---------------------------------------------------------------- encryption

bool encrypted(const std::string& s) { return mentions_encryption(s.data(), static_cast<int32_t>(s.size())); }

TEST(Encryption, TrailerWindows) {
    struct {
        std::string text;
        bool want;
    } cases[] = {
        {"trailer\n<< /Encrypt 12 0 R >>\nstartxref\n9\n", true},
        {"trailer\n<< /Size 3 >>\nstartxref\n9\n/Encrypt 12 0 R", false},  // after startxref
        {"trailer\n<< /Size 3 >>\n/Encrypt", true},  // no startxref: runs to the end
        {"trailer<</EncryptMetadata false>>startxref", true},                // raw 8 bytes
        {"/Encrypt 1 0 R trailer<<>>startxref", false},                      // before the trailer
        {"xtrailer<</Encrypt 1 0 R>>", false},                               // not a keyword
        {"trailer<</A 1>>startxref trailer<</Encrypt 1 0 R>>startxref", true},
        {"trailer trailer trailer <</Encrypt 1 0 R>>", true},  // overlapping windows
        {"trailer/Encryp", false},
    };
    for (auto& c : cases) EXPECT_EQ(encrypted(c.text), c.want) << c.text;
}

TEST(Encryption, CrossReferenceStreamWindows) {
    std::string pad2000(2000, ' '), pad3000(3000, ' ');
    struct {
        std::string text;
        bool want;
    } cases[] = {
        {"<< /Type /XRef /Encrypt 9 0 R >> stream", true},
        {"<< /Encrypt 9 0 R /Type /XRef >> stream", true},
        {"/Encrypt" + pad2000 + "/XRef stream", true},
        {"/Encrypt" + pad3000 + "/XRef stream", false},
        {"<< /Type /XRef >> stream /Encrypt", false},  // after the stream keyword
        {"<< /XRefStm 12 /Encrypt 3 0 R >>", true},    // raw "/XRef" matches /XRefStm
        {"/XRef endstream /Encrypt", true},            // "stream" inside endstream is no keyword
        {"/XRef", false},
    };
    for (auto& c : cases) EXPECT_EQ(encrypted(c.text), c.want) << c.text.substr(0, 60);

    // The window after "/XRef" ends 2048 bytes after it.
    std::string head = "/XRef";
    std::string fits = head + std::string(2040 - head.size(), ' ') + "/Encrypt";
    std::string over = head + std::string(2041 - head.size(), ' ') + "/Encrypt";
    EXPECT_TRUE(encrypted(fits));
    EXPECT_FALSE(encrypted(over));
    EXPECT_FALSE(encrypted(std::string("/XRe")));
}

TEST(Encryption, ManyWindowsStayLinear) {
    // Thousands of overlapping windows over the same bytes.
    std::string s;
    for (int i = 0; i < 20000; i++) s += "trailer /XRef ";
    s += "startxref ";
    EXPECT_FALSE(encrypted("/Encrypt" + std::string(3000, ' ') + s));
    EXPECT_TRUE(encrypted(s + "/Encrypt"));
}

// ---------------------------------------------------------------- object scan

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
    EXPECT_EQ(a.is_page, 1);
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
    EXPECT_EQ(r.objs().items[0].is_catalog, 1);
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
    EXPECT_EQ(r.objs().items[1].is_page, 1);

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

// ---------------------------------------------------------------- /Length references

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

// ---------------------------------------------------------------- object streams

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
    EXPECT_EQ(r.get(12)->is_page, 1);
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
    EXPECT_EQ(r.get(12)->is_page, 1);
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

// ---------------------------------------------------------------- duplicates

TEST(Duplicates, LastDefinitionWinsAndOrderIsKept) {
    std::string text = "7 0 obj(a)endobj 1 0 obj(b)endobj 7 0 obj(c)endobj 2 0 obj(d)endobj 1 1 obj(e)endobj";
    auto r = load(text);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.nums(), (std::vector<int32_t>{7, 2, 1}));
    EXPECT_EQ(r.get(7)->body, "(c)");
    EXPECT_EQ(r.get(1)->body, "(e)");
    EXPECT_EQ(r.get(1)->gen, 1);
    EXPECT_EQ(r.objs().find(7), &r.objs().items[0]);
    EXPECT_EQ(r.objs().position(1), 2);
    EXPECT_EQ(r.objs().find(3), nullptr);
}

TEST(Duplicates, HugeNumberSkipsResolution) {
    auto r = load("7 0 obj(a)endobj 7 0 obj(b)endobj 9000000 0 obj(c)endobj");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.nums(), (std::vector<int32_t>{7, 7, 9000000}));
    EXPECT_EQ(r.objs().find(7), &r.objs().items[0]);  // lookups take the first
    EXPECT_EQ(r.objs().find(9000000), &r.objs().items[2]);
    auto edge = load("7 0 obj(a)endobj 7 0 obj(b)endobj 8388607 0 obj(c)endobj");
    EXPECT_EQ(edge.nums(), (std::vector<int32_t>{7, 8388607}));
}

// ---------------------------------------------------------------- corpus

TEST(Corpus, EveryFileLoads) {
    std::string dir = MORVEL_CORPUS_DIR;
    std::ifstream manifest(dir + "/MANIFEST.tsv");
    if (!manifest) GTEST_SKIP() << "no corpus";
    std::string line;
    std::getline(manifest, line);
    int files = 0;
    while (std::getline(manifest, line)) {
        std::string name = line.substr(0, line.find('\t'));
        std::string path = dir + "/" + name;
        document doc;
        ASSERT_TRUE(read_input_file(path.c_str(), doc.input).ok()) << name;
        status s = load_document(doc);
        if (s.what == problem::encrypted) continue;
        if (!s.ok()) {
            EXPECT_EQ(testutil::message_of(s, path.c_str()), "no valid PDF objects found in '" + path + "'");
            continue;
        }
        for (const pdf_obj& o : doc.objects.items) {
            ASSERT_GT(o.num, 0) << name;
            if (o.has_stream) {
                ASSERT_GE(o.data_pos, 0) << name;
                ASSERT_LE(o.data_end, doc.input.len) << name;
                ASSERT_GE(o.data_len, 0) << name;
            }
        }
        files++;
    }
    EXPECT_GT(files, 0);
}

}  // namespace
