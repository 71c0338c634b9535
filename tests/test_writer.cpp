// The linearized writer's pieces on hand-made object tables: serialisation
// of every kind of object, the hint tables, the trailer entries carried over
// from the input, and writing the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "base/error.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"
#include "test_util.h"
#include "write/writer.h"

namespace {

using testutil::scratch_dir;

// An object table built directly, as the loader would leave it for a
// classic file, plus the raw input text that trailers and /Root are read
// from.
struct table_doc {
    std::vector<std::unique_ptr<std::string>> data;  // stream data, stable
    document doc;
    obj_list& objects = doc.objects;
    std::string text;  // the input's bytes
    page_layout layout;

    void add(int32_t num, const std::string& body) {
        objects.items.push_back(testutil::typed_record(num, body));
    }
    void add_stream(int32_t num, const std::string& dict, const std::string& bytes) {
        add(num, dict + "\n");
        data.push_back(std::make_unique<std::string>(bytes));
        pdf_obj& o = objects.items.back();
        o.has_stream = 1;
        o.stream = data.back()->data();
        o.stream_len = bytes.size();
        o.data_len = static_cast<int32_t>(bytes.size());
    }
    void set_input(const std::string& bytes) { text = bytes; }
    bool analyze() {
        testutil::set_input(doc, text);
        objects.build_index();
        return analyze_pages(doc, layout).ok();
    }
    int32_t nn(int32_t old_num) const { return layout.new_num[static_cast<size_t>(old_num)]; }
    std::vector<out_slot> serialize() {
        std::vector<out_slot> slots(static_cast<size_t>(layout.lin_num) + 3 +
                                    layout.page_groups[0].size());
        serialize_objects(objects, layout, slots);
        return slots;
    }
};

std::string slot_bytes(const out_slot& s) {
    std::string out = s.head;
    if (s.has_data) out += std::string(s.data, s.data_len) + STREAM_TAIL;
    return out;
}

std::string obj(int32_t n, const std::string& body) {
    return std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
}

std::string ref(int32_t n) { return std::to_string(n) + " 0 R"; }

std::string hex(const std::vector<uint8_t>& b, size_t from, size_t to) {
    std::string s;
    char t[3];
    for (size_t i = from; i < to && i < b.size(); i++) {
        snprintf(t, sizeof t, "%02X", b[i]);
        s += t;
    }
    return s;
}

TEST(WriterBuffer, OutBufAppends) {
    out_buf b;
    buf_bytes(b, "", 0);
    EXPECT_EQ(b.len(), 0u);
    buf_printf(b, "%010ld 00000 n \n", 271L);
    EXPECT_EQ(b.data, "0000000271 00000 n \n");
    buf_bytes(b, "a\0b", 3);
    EXPECT_EQ(b.len(), 23u);
    EXPECT_EQ(b.data.c_str()[b.len()], '\0');
}

TEST(WriterBuffer, BitWriterPacksMostSignificantFirst) {
    struct step {
        uint32_t value;
        int32_t bits;
    };
    struct {
        std::vector<step> steps;
        bool flush;
        std::string want;
    } cases[] = {
        {{{5, 3}, {1, 13}}, false, "A001"},
        {{{6, 3}}, true, "C0"},
        {{{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}, true, "FF"},
        {{{7, 0}}, true, ""},
        {{{0x1ABCD, 16}}, false, "ABCD"},
        {{{0xDEADBEEF, 32}}, false, "DEADBEEF"},
    };
    for (auto& c : cases) {
        bit_buf b;
        for (const step& s : c.steps) bit_write(b, s.value, s.bits);
        if (c.flush) bit_flush(b);
        EXPECT_EQ(hex(b.data, 0, b.data.size()), c.want);
        EXPECT_EQ(b.nbits, 0);
    }
}

// A layout given directly: one list of old numbers per page, the shared
// objects, and the length each object's slot gets.
struct hint_case {
    obj_list objects;
    page_layout layout;
    std::vector<out_slot> slots;

    void build(const std::vector<std::vector<int32_t>>& pages, const std::vector<int32_t>& shared,
               const std::vector<std::pair<int32_t, std::vector<int32_t>>>& reached,
               const std::vector<size_t>& lengths) {
        int32_t max_num = 0;
        for (auto& [num, refs] : reached) max_num = std::max(max_num, num);
        layout.max_num = max_num;
        layout.new_num.assign(static_cast<size_t>(max_num) + 1, 0);
        for (const auto& g : pages) layout.page_groups.push_back(g);
        for (size_t k = 1; k < pages.size(); k++)
            layout.rest_objs.insert(layout.rest_objs.end(), pages[k].begin(), pages[k].end());
        layout.shared_objs = shared;
        int32_t counter = 1;
        for (int32_t o : layout.rest_objs) layout.new_num[static_cast<size_t>(o)] = counter++;
        for (int32_t o : shared) layout.new_num[static_cast<size_t>(o)] = counter++;
        layout.lin_num = counter;
        for (size_t i = 0; i < pages[0].size(); i++)
            layout.new_num[static_cast<size_t>(pages[0][i])] = counter + 3 + static_cast<int32_t>(i);
        for (const auto& g : pages) layout.page_list.push_back(g[0]);
        for (auto& [num, refs] : reached) {
            pdf_obj o;
            o.num = num;
            o.body = "<< >>";
            o.ref_pages = refs;
            objects.items.push_back(o);
        }
        objects.build_index();
        slots.resize(static_cast<size_t>(layout.lin_num) + 3 + pages[0].size());
        for (size_t i = 0; i < reached.size(); i++) {
            int32_t n = layout.new_num[static_cast<size_t>(reached[i].first)];
            slots[static_cast<size_t>(n)].head.assign(lengths[i], 'x');
        }
    }
};

TEST(WriterHints, OnePageThreeObjectsExactBytes) {
    hint_case c;
    c.build({{10, 11, 12}}, {}, {{10, {0}}, {11, {0}}, {12, {0}}}, {100, 40, 60});
    size_t s = 0;
    std::vector<uint8_t> b = hint_table_bytes(c.objects, c.layout, c.slots, 500, &s);
    EXPECT_EQ(s, 36u);
    ASSERT_EQ(b.size(), 64u);
    EXPECT_EQ(hex(b, 0, 36),
              "00000003" "000001F4" "0000" "000000C8" "0000" "00000000" "0000" "000000C8" "0000"
              "0000" "0002" "0000" "0004");
    EXPECT_EQ(hex(b, 36, 64),
              "00000000" "00000000" "00000003" "00000003" "0000" "00000028" "0006" "F00500" "00");
}

TEST(WriterHints, SharedIdentifiersPerPageInTableOrder) {
    // Pages 0..2 of two objects each, all 10 bytes; shared objects 7 and 8.
    // Page 2 reaches the first page's page object (identifier 0) and both
    // shared objects (F + 0, F + 1); page 1 reaches shared object 7.
    hint_case c;
    c.build({{1, 2}, {3, 4}, {5, 6}}, {7, 8},
            {{1, {0, 2}}, {2, {0}}, {3, {1}}, {4, {1}}, {5, {2}}, {6, {2}}, {7, {1, 2}}, {8, {2}}},
            {10, 10, 10, 10, 10, 10, 10, 10});
    size_t s = 0;
    std::vector<uint8_t> b = hint_table_bytes(c.objects, c.layout, c.slots, 1000, &s);
    EXPECT_EQ(hex(b, 28, 32), "00020003");  // bits for counts 2, identifiers 3 (F+S = 4)
    // Counts 0, 1, 3 in 2 bits; then identifiers 2 | 0, 2, 3 in 3 bits.
    EXPECT_EQ(hex(b, 36, 39), "1C4130");
    EXPECT_EQ(s, 39u);
    // First shared object: new number 5, after the first page (20 bytes) and
    // pages 2 and 3 (40 bytes).
    EXPECT_EQ(hex(b, 39, 47), "00000005" "00000424");
    EXPECT_EQ(hex(b, 47, 55), "00000002" "00000004");
}

TEST(WriterHints, EqualPagesNeedNoPerPageBits) {
    hint_case c;
    c.build({{1, 2}, {3, 4}}, {}, {{1, {0}}, {2, {0}}, {3, {1}}, {4, {1}}}, {7, 9, 7, 9});
    size_t s = 0;
    std::vector<uint8_t> b = hint_table_bytes(c.objects, c.layout, c.slots, 300, &s);
    EXPECT_EQ(s, 36u);  // object counts, lengths and references all constant
}

// A two-page document whose tree holds everything the writer must carry
// into the flat tree: inherited attributes on two levels, an intermediate
// node, a dangling reference and streams with wrong or missing lengths.
table_doc inherited_doc() {
    table_doc d;
    d.add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 9 0 R /PageLabels << /Nums [0 << /S /D >>] >> >>");
    d.add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 /MediaBox [0 0 612 792] "
             "/Resources << /Font << /F1 7 0 R >> >> /Rotate 90 >>");
    d.add(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>\n");
    d.add_stream(4, "<< /Length 99 >>", "BT ET");
    d.add(5, "<< /Type /Pages /Kids [6 0 R] /Count 1 /Parent 2 0 R /CropBox [0 0 300 300] >>");
    d.add(6, "<< /Type /Page /Parent 5 0 R /Resources << >> /MediaBox [0 0 100 100] "
             "/Contents 8 0 R /Annots [99 0 R] >>");
    d.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    d.add_stream(8, "<< /Length 10 0 R >>", "q Q");
    d.add(9, "<< /Type /Outlines /Count 0 >>");
    d.add(10, "3");
    d.add_stream(11, "<< /Type /EmbeddedFile >>", "abcd");
    return d;
}

TEST(WriterSerialize, CatalogKeepsEntriesAndNamesTheFlatRoot) {
    table_doc d = inherited_doc();
    ASSERT_TRUE(d.analyze());
    auto slots = d.serialize();
    int32_t k = d.layout.lin_num;
    EXPECT_EQ(d.nn(1), k + 1);
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(k) + 1]),
              obj(k + 1, "<< /Type /Catalog /Pages " + ref(d.nn(2)) + " /Outlines " + ref(d.nn(9)) +
                             " /PageLabels << /Nums [0 << /S /D >>] >> >>"));
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(2))]),
              obj(d.nn(2), "<< /Type /Pages /Kids [ " + ref(d.nn(3)) + " " + ref(d.nn(6)) +
                               " ] /Count 2 >>"));
    EXPECT_EQ(d.nn(5), 0);  // the intermediate node is gone
}

TEST(WriterSerialize, PagesReceiveInheritedAttributesAndTheRootAsParent) {
    table_doc d = inherited_doc();
    ASSERT_TRUE(d.analyze());
    auto slots = d.serialize();
    std::string root = ref(d.nn(2));
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(3))]),
              obj(d.nn(3), "<< /Type /Page /Parent " + root + " /Contents " + ref(d.nn(4)) +
                               "  /Resources << /Font << /F1 " + ref(d.nn(7)) +
                               " >> >> /MediaBox [0 0 612 792] /Rotate 90 >>"));
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(6))]),
              obj(d.nn(6), "<< /Type /Page /Parent " + root +
                               " /Resources << >> /MediaBox [0 0 100 100] /Contents " +
                               ref(d.nn(8)) + " /Annots [null]  /CropBox [0 0 300 300] /Rotate 90 >>"));
}

TEST(WriterSerialize, StreamLengthsMatchTheData) {
    table_doc d = inherited_doc();
    ASSERT_TRUE(d.analyze());
    auto slots = d.serialize();
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(4))]),
              std::to_string(d.nn(4)) + " 0 obj\n<< /Length 5 >>\n\nstream\nBT ET\nendstream\nendobj\n");
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(8))]),
              std::to_string(d.nn(8)) + " 0 obj\n<< /Length " + ref(d.nn(10)) +
                  " >>\n\nstream\nq Q\nendstream\nendobj\n");
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(11))]),
              std::to_string(d.nn(11)) +
                  " 0 obj\n<< /Type /EmbeddedFile  /Length 4>>\n\nstream\nabcd\nendstream\nendobj\n");
    EXPECT_EQ(slots[static_cast<size_t>(d.nn(11))].len(), slot_bytes(slots[static_cast<size_t>(d.nn(11))]).size());
}

TEST(WriterSerialize, MissingCatalogAndRootAreCreated) {
    // No catalog, and no Pages node: both are made up.
    table_doc d;
    d.add(1, "<< /Type /Page /MediaBox [0 0 10 10] >>");
    d.add(2, "<< /Type /Page /MediaBox [0 0 20 20] >>");
    ASSERT_TRUE(d.analyze());
    ASSERT_EQ(d.layout.catalog, -1);
    ASSERT_EQ(d.layout.pages_root, -1);
    auto slots = d.serialize();
    int32_t k = d.layout.lin_num;
    int32_t root = root_new_num(d.layout);
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(k) + 1]),
              obj(k + 1, "<< /Type /Catalog /Pages " + ref(root) + " >>"));
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(root)]),
              obj(root, "<< /Type /Pages /Kids [ " + ref(d.nn(1)) + " " + ref(d.nn(2)) +
                            " ] /Count 2 >>"));
    // Pages without /Parent are given one (and nothing else: they inherit nothing).
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(2))]),
              obj(d.nn(2), "<< /Type /Page /MediaBox [0 0 20 20]  /Parent " + ref(root) + " >>"));
}

TEST(WriterSerialize, CatalogWithoutPagesKeyGetsOneInserted) {
    // /Pages names a page directly, so the writer makes the root; a second,
    // unchosen catalog-typed record without /Pages gets the key inserted.
    table_doc d;
    d.add(1, "<< /Type /Catalog /Pages 3 0 R /Lang (en) >>");
    d.add(3, "<< /Type /Page /Parent 1 0 R >>");
    d.set_input("trailer << /Root 1 0 R >>");
    ASSERT_TRUE(d.analyze());
    ASSERT_EQ(d.layout.pages_root, -1);
    auto slots = d.serialize();
    int32_t k = d.layout.lin_num;
    int32_t root = root_new_num(d.layout);
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(k) + 1]),
              obj(k + 1, "<< /Type /Catalog /Pages " + ref(root) + " /Lang (en) >>"));
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(3))]),
              obj(d.nn(3), "<< /Type /Page /Parent " + ref(root) + " >>"));

    table_doc e;
    e.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    e.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    e.add(3, "<< /Type /Page /Parent 2 0 R >>");
    e.add(4, "<< /Type /Catalog /Metadata 5 0 R >>");
    e.set_input("trailer << /Root 1 0 R >>");
    ASSERT_TRUE(e.analyze());
    auto eslots = e.serialize();
    ASSERT_GT(e.nn(4), 0);
    EXPECT_EQ(slot_bytes(eslots[static_cast<size_t>(e.nn(4))]),
              obj(e.nn(4), "<< /Type /Catalog /Metadata null  /Pages " + ref(e.nn(2)) + ">>"));
}

TEST(WriterSerialize, ObjectWithoutBodyAndNonReferenceParent) {
    table_doc d;
    d.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    d.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    d.add(3, "<< /Type /Page /Parent null /Contents 4 0 R >>");
    d.add(4, "");
    d.set_input("trailer << /Root 1 0 R >>");
    ASSERT_TRUE(d.analyze());
    auto slots = d.serialize();
    // A /Parent that is no reference stays as written, and counts as present.
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(3))]),
              obj(d.nn(3), "<< /Type /Page /Parent null /Contents " + ref(d.nn(4)) + " >>"));
    ASSERT_GT(d.nn(4), 0);
    EXPECT_EQ(slot_bytes(slots[static_cast<size_t>(d.nn(4))]), std::to_string(d.nn(4)) + " 0 obj\n\nendobj\n");
}

TEST(WriterReference, TokenRules) {
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

// Trailer entries carried into the output.
struct extras_case {
    const char* input;
    int32_t info;  // old number expected, 0 for none
    const char* id;
};

TEST(WriterTrailer, InfoAndIdFromTheLastDictionaryHavingThem) {
    const char* fixed = "[<b9163e4b98b3fbaacd26f813d6603914><b9163e4b98b3fbaacd26f813d6603914>]";
    extras_case cases[] = {
        {"trailer\n<< /Root 1 0 R /Info 5 0 R /ID [<AA><BB>] >>", 5, "[<AA><BB>]"},
        // the short trailer of an update lacks /Info: the earlier one counts
        {"trailer << /Info 5 0 R /ID [<AA><BB>] >> trailer << /ID [ (x\\)y)\n(z) ] /Prev 9 >>", 5,
         "[ (x\\)y)\n(z) ]"},
        // the last /Info names something unusable: no /Info at all
        {"trailer << /Info 5 0 R >> trailer << /Info 6 0 R >>", 0, fixed},
        {"trailer << /Info 7 0 R >>", 0, fixed},  // a record that is not a dictionary
        {"trailer << /Info 5 0 R /ID [<AA>] >>", 5, fixed},
        {"trailer << /ID [<AA><BB> <CC>] >>", 0, fixed},
        {"trailer << /ID [(a(b)c)<0f>] >>", 0, "[(a(b)c)<0f>]"},
        {"trailer << /ID [<<AA>> <BB>] >>", 0, fixed},
        {"no trailer here /Info 5 0 R", 0, fixed},
        {"trailer /Info 5 0 R", 0, fixed},
    };
    for (auto& c : cases) {
        table_doc d;
        d.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        d.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        d.add(3, "<< /Type /Page /Parent 2 0 R >>");
        d.add(5, "<< /Title (t) >>");
        d.add(7, "42");
        d.set_input(c.input);
        ASSERT_TRUE(d.analyze());
        trailer_extras e = find_trailer_extras(d.doc, d.layout);
        EXPECT_EQ(e.info, c.info ? d.nn(c.info) : 0) << c.input;
        EXPECT_EQ(e.id, c.id) << c.input;
    }
}

TEST(WriterTrailer, CrossReferenceStreamDictionariesCount) {
    table_doc d;
    d.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    d.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    d.add(3, "<< /Type /Page /Parent 2 0 R >>");
    d.add(5, "<< /Title (t) >>");
    d.add(6, "<< /Title (u) >>");
    // A trailer at 0 names 5; a cross-reference stream later in the file names 6.
    d.set_input("trailer << /Info 5 0 R >>");
    pdf_obj x;
    x.num = 20;
    x.hdr_pos = 100;
    x.body_pos = 108;
    x.body = "<< /Type /XRef /Info 6 0 R /ID [<01><02>] >>\n";
    d.doc.xref_streams.push_back(x);
    ASSERT_TRUE(d.analyze());
    trailer_extras e = find_trailer_extras(d.doc, d.layout);
    EXPECT_EQ(e.info, d.nn(6));
    EXPECT_EQ(e.id, "[<01><02>]");
}

// The output file: replaced only after every byte is written.
std::vector<iovec> pieces_of(const std::vector<std::string>& parts) {
    std::vector<iovec> v;
    for (const std::string& p : parts) v.push_back({const_cast<char*>(p.data()), p.size()});
    return v;
}

TEST(WriterFile, WritesReplacesAndFollowsLinks) {
    scratch_dir dir;
    std::vector<std::string> parts = {"abc", std::string(100000, 'x'), "", "end"};
    std::string want = "abc" + std::string(100000, 'x') + "end";
    std::string out = dir.file("out.pdf");
    testutil::write_file(out, "old contents");
    chmod(out.c_str(), 0640);
    ASSERT_TRUE(write_output_file(out.c_str(), pieces_of(parts)).ok());
    EXPECT_EQ(testutil::read_file(out), want);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's mode is kept

    std::string link = dir.file("link.pdf");
    ASSERT_EQ(symlink("target.pdf", link.c_str()), 0);  // dangling: the target is created
    ASSERT_TRUE(write_output_file(link.c_str(), pieces_of({"one"})).ok());
    EXPECT_EQ(testutil::read_file(dir.file("target.pdf")), "one");
    ASSERT_TRUE(write_output_file(link.c_str(), pieces_of({"two"})).ok());
    struct stat lst;
    ASSERT_EQ(lstat(link.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(testutil::read_file(dir.file("target.pdf")), "two");

    // Nothing but the outputs is left in the directory.
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) entries++, (void)e;
    EXPECT_EQ(entries, 3u);
}

TEST(WriterFile, MissingDirectoryAndNonRegularOutputs) {
    scratch_dir dir;
    std::string missing = dir.file("no/such/dir/out.pdf");
    status s = write_output_file(missing.c_str(), pieces_of({"x"}));
    EXPECT_EQ(testutil::message_of(s, "in.pdf", missing.c_str()), "cannot open '" + missing + "' for writing");

    s = write_output_file(dir.path().c_str(), pieces_of({"x"}));
    EXPECT_EQ(testutil::message_of(s, "in.pdf", dir.path().c_str()),
              "cannot open '" + dir.path().string() + "' for writing");

    // A pipe is written directly.
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = testutil::read_file(fifo); });
    EXPECT_TRUE(write_output_file(fifo.c_str(), pieces_of({"through ", "the pipe"})).ok());
    reader.join();
    EXPECT_EQ(got, "through the pipe");
}

}  // namespace
