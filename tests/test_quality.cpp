// Who besides the pages uses an object (the catalog's entries, thumbnails,
// the trailer's /Info), and how that places objects: the outline hierarchy
// as one run, document-level objects outside the first page, objects of one
// later page only when nothing else uses them; the outline hint table that
// describes that run.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "morvel.h"
#include "analyze/pages.h"
#include "test_util.h"
#include "write/writer.h"

namespace {

using ints = std::vector<int32_t>;
using testutil::pdf_builder;

// A file loaded and analysed as the optimizer does it.
struct analysed {
    document doc;
    const obj_list& objects = doc.objects;
    page_layout layout;

    explicit analysed(const std::string& pdf) {
        EXPECT_TRUE(testutil::load_from(doc, pdf).ok());
        EXPECT_TRUE(analyze_pages(doc, layout).ok());
    }
    uint8_t users(int32_t num) const {
        int32_t pos = objects.position(num);
        return pos < 0 || static_cast<size_t>(pos) >= layout.users.size() ? 0 : layout.users[static_cast<size_t>(pos)];
    }
    ints refs(int32_t num) const { return objects.find(num)->ref_pages; }
};

std::string page(int32_t parent, const std::string& extra = "") {
    return "<</Type/Page/Parent " + std::to_string(parent) + " 0 R" + extra + ">>";
}

// Two pages (3 and 4) under root 2, catalog 1 with extra entries.
pdf_builder two_pages(const std::string& catalog_extra, const std::string& first_extra = "",
                      const std::string& second_extra = "") {
    pdf_builder b;
    b.add("<</Type/Catalog/Pages 2 0 R" + catalog_extra + ">>", 1);
    b.add("<</Type/Pages/Kids[3 0 R 4 0 R]/Count 2>>", 2);
    b.add(page(2, first_extra), 3);
    b.add(page(2, second_extra), 4);
    return b;
}

// Each new number belongs to one object.
void expect_distinct_numbers(const analysed& a) {
    std::set<int32_t> seen;
    for (const pdf_obj& r : a.objects.items) {
        int32_t n = a.layout.new_num[static_cast<size_t>(r.num)];
        if (n > 0) {
            EXPECT_TRUE(seen.insert(n).second) << "number " << n << " twice";
        }
    }
}

// ---------------------------------------------------------------------------
// Dictionary entries

TEST(Users, DictionaryEntries) {
    struct {
        const char* text;
        const char* want;  // key=value, separated by "|"
    } cases[] = {
        {"<</Type/Catalog/Pages 2 0 R/Outlines 3 0 R>>", "Type=/Catalog|Pages=2 0 R|Outlines=3 0 R|"},
        {"[/X 1] << /K 1 >>", "K=1|"},  // from the first "<<"
        {"<< xyz /K 1 >> /L 2", "K=1|"},
        {"<< /A << /B [1 (x]>>) <3e>] >> /C [ [ ] ] /D (a\\)b) /E <41> /F 12.5 >>",
         "A=<< /B [1 (x]>>) <3e>] >>|C=[ [ ] ]|D=(a\\)b)|E=<41>|F=12.5|"},
        {"<</A [<< >> ]/B 1>>", "A=[<< >> ]|B=1|"},  // one depth for both brackets
        {"<</A/B/C(x)/D<<>>>>", "A=/B|C=(x)|D=<<>>|"},
        {"<< /R 5\n0 R /S 6 0 RG >>", "R=5\n0 R|S=6|"},
        {"<< /K%c\n/L 1 >>", "K=|L=1|"},
        {"<< /A [1 2", "A=[1 2|"},
        {"<< /A", "A=|"},
        {"<< /A >>", "A=|"},
        {"no dictionary", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.text, got;
        for (const dict_entry& e : dict_entries(text))
            got += e.key + "=" + text.substr(static_cast<size_t>(e.value_start),
                                             static_cast<size_t>(e.value_end - e.value_start)) + "|";
        EXPECT_EQ(got, c.want) << c.text;
    }
}

// ---------------------------------------------------------------------------
// Thumbnails

TEST(Users, ThumbnailsAreNotPartOfTheirPage) {
    pdf_builder b = two_pages("", "/Thumb 10 0 R/Annots[12 0 R]", "/Thumb 11 0 R/Contents 13 0 R");
    b.add_stream("/Subtype/Image/ColorSpace 14 0 R", "xyz", 10);
    b.add_stream("/Subtype/Image/ColorSpace 14 0 R/SMask 12 0 R", "xyz", 11);
    b.add("<</Type/Annot>>", 12);
    b.add_stream("", "q Q", 13);
    b.add("[/Indexed/DeviceRGB 1 <000000ffffff>]", 14);
    analysed a(b.build(1));
    EXPECT_TRUE(a.refs(10).empty());  // the page's own walk skips /Thumb
    EXPECT_TRUE(a.refs(11).empty());
    EXPECT_EQ(a.users(10), USER_THUMBNAIL);
    EXPECT_EQ(a.users(11), USER_THUMBNAIL);
    EXPECT_EQ(a.users(14), USER_THUMBNAIL);
    // Reached by the first page itself: its second page's thumbnail walk
    // may flag it, the first page keeps it.
    EXPECT_EQ(a.refs(12), ints{0});
    EXPECT_EQ(a.users(12), USER_THUMBNAIL);
    EXPECT_EQ(a.layout.page_groups[0], (ints{3, 12}));
    EXPECT_EQ(a.layout.page_groups[1], (ints{4, 13}));
    EXPECT_EQ(a.layout.other_objs, (ints{2, 10, 11, 14}));
}

TEST(Users, ThumbnailWalkAvoidsWhatItsPageReached) {
    // Page 4 reaches 12 through its contents' resources; its thumbnail also
    // names 12 and 15: 12 stays page 4's alone, 15 and what only it reaches
    // are thumbnail objects.
    pdf_builder b = two_pages("", "", "/Thumb 11 0 R/Resources<</XObject<</I 12 0 R>>>>");
    b.add_stream("/Subtype/Image/SMask 12 0 R/Decode 15 0 R", "xyz", 11);
    b.add_stream("/Subtype/Image/Mask 16 0 R", "xyz", 12);
    b.add("[0 1]", 15);
    b.add("[0 1]", 16);
    b.add("<</Thumb 17 0 R>>", 20);  // not a page: its /Thumb is an ordinary reference
    b.add("<</Type/Page/Thumb null>>", 21);
    analysed a(b.build(1));
    EXPECT_EQ(a.users(12), 0);
    EXPECT_EQ(a.users(16), 0);
    EXPECT_EQ(a.users(15), USER_THUMBNAIL);
    EXPECT_EQ(a.layout.page_groups[1], (ints{4, 12, 16}));
    EXPECT_EQ(a.layout.other_objs, (ints{2, 11, 15, 20, 21}));
}

TEST(Users, OnlyTheThumbTokenIsPassedOver) {
    // The page names its thumbnail again elsewhere, and a second /Thumb
    // (inside its annotation's dictionary) is an ordinary reference.
    pdf_builder b = two_pages("", "/Thumb 10 0 R/B<</Thumb 11 0 R>>/A[10 0 R]");
    b.add_stream("/Subtype/Image", "xyz", 10);
    b.add_stream("/Subtype/Image", "xyz", 11);
    analysed a(b.build(1));
    EXPECT_EQ(a.refs(10), ints{0});
    EXPECT_EQ(a.refs(11), ints{0});
    EXPECT_EQ(a.users(10), 0);
    EXPECT_EQ(a.layout.page_groups[0], (ints{3, 10, 11}));
}

// ---------------------------------------------------------------------------
// Catalog entries and /Info

TEST(Users, CatalogEntriesFlagWhatTheyReach) {
    pdf_builder b = two_pages("/AcroForm<</Fields[10 0 R]>>/OpenAction 11 0 R/Names 12 0 R/Names 13 0 R"
                              "/Metadata 14 0 R/Foo 2 0 R",
                              "/Annots[10 0 R]/Contents 15 0 R", "/Contents 16 0 R/Annots[17 0 R]");
    b.add("<</Type/Annot/Subtype/Widget/FT/Tx/P 3 0 R/AP 18 0 R>>", 10);
    b.add("<</S/JavaScript/JS 19 0 R/Next[3 0 R]>>", 11);
    b.add("<</Dests 20 0 R>>", 12);
    b.add("<</JavaScript 16 0 R>>", 13);
    b.add_stream("/Type/Metadata", "<x/>", 14);
    b.add_stream("", "q Q", 15);
    b.add_stream("", "q Q", 16);
    b.add("<</Type/Annot/P 4 0 R>>", 17);
    b.add_stream("", "q Q", 18);
    b.add("(app.alert)", 19);
    b.add("<</Names[(a)[4 0 R /Fit]]/X 15 0 R>>", 20);
    analysed a(b.build(1));
    EXPECT_EQ(a.users(10), USER_DOCUMENT);
    EXPECT_EQ(a.users(18), USER_DOCUMENT);
    EXPECT_EQ(a.users(11), USER_DOCUMENT);
    EXPECT_EQ(a.users(19), USER_DOCUMENT);
    EXPECT_EQ(a.users(12), USER_OTHER);
    EXPECT_EQ(a.users(13), USER_OTHER);  // a repeated key is walked again
    EXPECT_EQ(a.users(15), USER_OTHER);
    EXPECT_EQ(a.users(16), USER_OTHER);
    EXPECT_EQ(a.users(17), 0);  // behind a page: the walk stops there
    EXPECT_EQ(a.users(3), 0);
    // Forms and actions are not the first page's; another catalog entry
    // takes an object from the one later page that reaches it, not from the
    // first page.
    EXPECT_EQ(a.layout.page_groups[0], (ints{3, 15}));
    EXPECT_EQ(a.layout.page_groups[1], (ints{4, 17}));
    EXPECT_EQ(a.layout.other_objs, (ints{2, 10, 11, 12, 13, 14, 16, 18, 19, 20}));
    expect_distinct_numbers(a);
}

TEST(Users, WalksPassThroughPagesNodesButNotThePagesEntry) {
    // The root's inherited resources belong to the pages. A catalog entry
    // that leads to the root passes through it to those resources.
    pdf_builder b;
    b.add("<</Type/Catalog/Pages 2 0 R>>", 1);
    b.add("<</Type/Pages/Kids[3 0 R 5 0 R]/Resources<</Font<</F 10 0 R>>>>>>", 2);
    b.add(page(2, "/Resources<<>>"), 3);
    b.add("<</Type/Pages/Parent 2 0 R/Kids[4 0 R]/Resources<</Font<</F 11 0 R>>>>>>", 5);
    b.add(page(5), 4);
    b.add("<</Type/Font>>", 10);
    b.add("<</Type/Font>>", 11);
    b.add("<</Root 1 0 R>>", 12);
    {
        analysed a(b.build(1));
        EXPECT_EQ(a.users(10), 0);
        EXPECT_EQ(a.users(11), 0);
        EXPECT_EQ(a.layout.page_groups[1], (ints{4, 11}));
    }
    pdf_builder c = b;
    c.add("<</Type/Catalog/Pages 2 0 R/Extra 12 0 R>>", 1);
    analysed a(c.build(1));
    EXPECT_EQ(a.users(12), USER_OTHER);
    EXPECT_EQ(a.users(10), USER_OTHER);  // through the catalog and the root
    EXPECT_EQ(a.users(11), USER_OTHER);  // and through node 5
    EXPECT_EQ(a.users(4), 0);
    EXPECT_EQ(a.layout.page_groups[1], ints{4});
    EXPECT_EQ(a.layout.other_objs, (ints{2, 10, 11, 12}));
}

TEST(Users, TrailerInfo) {
    pdf_builder b = two_pages("", "", "/Contents 11 0 R");
    b.add("<</Title(x)/Extra 11 0 R>>", 10);
    b.add_stream("", "q Q", 11);
    b.add("<</Title(y)/Extra 13 0 R>>", 12);
    b.add("<</A 1>>", 13);
    std::string pdf = b.build(1, " /Info 12 0 R");
    {
        analysed a(pdf);
        EXPECT_EQ(a.layout.info_ref, 12);
        EXPECT_EQ(a.users(12), USER_OTHER);
        EXPECT_EQ(a.users(13), USER_OTHER);
        EXPECT_EQ(a.users(10), 0);
        EXPECT_EQ(a.layout.page_groups[1], (ints{4, 11}));
    }
    // An update's trailer names another /Info; the last one with the key
    // decides.
    analysed a(pdf + "trailer\n<< /Size 20 /Info 10 0 R >>\n" + "trailer\n<< /Size 20 >>\n");
    EXPECT_EQ(a.layout.info_ref, 10);
    EXPECT_EQ(a.users(11), USER_OTHER);
    EXPECT_EQ(a.users(12), 0);
    EXPECT_EQ(a.layout.page_groups[1], ints{4});
}

// ---------------------------------------------------------------------------
// The outline run

// Catalog 1, root 2, pages 3 and 4; outline items 20 and 22 around the
// outline root 21 in table order, item 22 reached by page 4 too.
std::string outlined(const std::string& catalog_extra) {
    pdf_builder b = two_pages(catalog_extra, "/Contents 10 0 R", "/Annots[22 0 R]");
    b.add_stream("", "q Q", 10);
    b.add("<</Title(a)/Parent 21 0 R/Next 22 0 R/Dest[3 0 R/Fit]>>", 20);
    b.add("<</Type/Outlines/First 20 0 R/Last 22 0 R/Count 2>>", 21);
    b.add("<</Title(b)/Parent 21 0 R/Prev 20 0 R/A 23 0 R>>", 22);
    b.add("<</S/GoTo/D[4 0 R/Fit]>>", 23);
    b.add("<</Producer(z)>>", 24);
    return b.build(1);
}

TEST(Users, OutlineRunFollowsThePageTreeRoot) {
    analysed a(outlined("/Outlines 21 0 R"));
    EXPECT_EQ(a.layout.outline_root, 21);
    EXPECT_FALSE(a.layout.use_outlines);
    EXPECT_EQ(a.users(22), USER_OUTLINES);
    EXPECT_EQ(a.refs(22), ints{1});
    EXPECT_EQ(a.layout.outline_run, (ints{21, 20, 22, 23}));
    EXPECT_TRUE(outline_root_in_run(a.layout));
    EXPECT_FALSE(a.layout.outlines_first);
    EXPECT_EQ(a.layout.page_groups[0], (ints{3, 10}));
    EXPECT_EQ(a.layout.page_groups[1], ints{4});
    EXPECT_EQ(a.layout.other_objs, (ints{2, 21, 20, 22, 23, 24}));
    EXPECT_EQ(a.layout.new_num[21], 3);
    EXPECT_EQ(a.layout.lin_num, 8);
    expect_distinct_numbers(a);
}

TEST(Users, OutlineRunJoinsTheFirstPageWhenShownFirst) {
    analysed a(outlined("/PageMode/UseOutlines/Outlines 21 0 R/PageMode/UseNone"));
    EXPECT_TRUE(a.layout.use_outlines);
    EXPECT_TRUE(a.layout.outlines_first);
    EXPECT_EQ(a.layout.page_groups[0], (ints{3, 10, 21, 20, 22, 23}));
    EXPECT_EQ(a.layout.other_objs, (ints{2, 24}));
    EXPECT_EQ(a.layout.lin_num, 4);
    EXPECT_EQ(a.layout.new_num[21], 4 + 3 + 2);
    EXPECT_EQ(a.layout.new_num[23], 4 + 3 + 5);
    expect_distinct_numbers(a);
}

TEST(Users, OutlineRootOutsideTheRun) {
    struct {
        const char* catalog_extra;
        ints later_page;
        ints other;
    } cases[] = {
        // Only the first /Outlines names the root; the second is walked.
        {"/PageMode/UseOutlines/Outlines 99 0 R/Outlines 21 0 R", {4}, {2, 20, 21, 22, 23, 24}},
        {"/PageMode /UseOutlinesX/Outlines 21 0 R", {4}, {2, 21, 20, 22, 23, 24}},
        {"/PageMode/UseOutlines/Outlines<</First 20 0 R>>", {4}, {2, 20, 21, 22, 23, 24}},
        // The catalog itself: the walk passes through it and finds no item.
        {"/PageMode/UseOutlines/Outlines 1 0 R", {4, 20, 21, 22, 23}, {2, 24}},
    };
    for (const auto& c : cases) {
        analysed a(outlined(c.catalog_extra));
        EXPECT_FALSE(a.layout.outlines_first) << c.catalog_extra;
        EXPECT_EQ(outline_root_in_run(a.layout), a.layout.outline_root == 21) << c.catalog_extra;
        EXPECT_EQ(a.layout.page_groups[0], (ints{3, 10})) << c.catalog_extra;
        EXPECT_EQ(a.layout.page_groups[1], c.later_page) << c.catalog_extra;
        EXPECT_EQ(a.layout.other_objs, c.other) << c.catalog_extra;
        expect_distinct_numbers(a);
    }
}

TEST(Users, OutlineRunAfterACreatedRoot) {
    pdf_builder b;
    b.add("<</Type/Catalog/Pages 3 0 R/Outlines 21 0 R>>", 1);
    b.add("<</Type/Page/Contents 10 0 R>>", 3);
    b.add_stream("", "q Q", 10);
    b.add("<</Type/Outlines/First 22 0 R>>", 21);
    b.add("<</Title(a)/Parent 21 0 R>>", 22);
    analysed a(b.build(1));
    EXPECT_EQ(a.layout.other_objs, (ints{0, 21, 22}));
    EXPECT_EQ(a.layout.new_num[0], 1);
    EXPECT_EQ(a.layout.new_num[21], 2);
}

TEST(Users, LongOutlineChainsNeedNoDepthLimit) {
    pdf_builder b = two_pages("/Outlines 100 0 R");
    const int n = 3000;
    b.add("<</First 101 0 R>>", 100);
    for (int k = 1; k <= n; k++)
        b.add("<</Parent 100 0 R" + (k < n ? "/Next " + std::to_string(101 + k) + " 0 R" : std::string()) + ">>",
              100 + k);
    analysed a(b.build(1));
    EXPECT_EQ(a.users(100 + n), USER_OUTLINES);
    EXPECT_EQ(a.layout.outline_run.size(), static_cast<size_t>(n + 1));
}

// ---------------------------------------------------------------------------
// The outline hint table

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

struct hinted {
    std::vector<out_slot> slots;
    std::vector<uint8_t> tables;
    size_t s = 0, o = 0;
    std::string dict;  // the hint stream's dictionary
    size_t packed = 0;  // its compressed data's length

    hinted(const analysed& a, int32_t hint_pos) {
        const page_layout& l = a.layout;
        slots.resize(static_cast<size_t>(l.lin_num) + 3 + l.page_groups[0].size());
        serialize_objects(a.objects, l, slots);
        tables = hint_table_bytes(a.objects, l, slots, hint_pos, &s, &o);
        EXPECT_TRUE(build_hint_stream(a.objects, l, slots, hint_pos));
        const std::string& head = slots[static_cast<size_t>(l.lin_num) + 2].head;
        dict = head.substr(head.find("<<"), head.find(">>") + 2 - head.find("<<"));
        size_t data_at = head.find(">>\nstream\n") + 10;
        packed = head.size() - data_at - STREAM_TAIL_LEN;
        // The whole table data is compressed once, outline table included.
        std::vector<uint8_t> back(tables.size() + 1);
        uLongf back_len = back.size();
        EXPECT_EQ(uncompress(back.data(), &back_len, reinterpret_cast<const Bytef*>(head.data() + data_at), packed),
                  Z_OK);
        back.resize(back_len);
        EXPECT_TRUE(back == tables);
    }
    uint32_t len(const analysed& a, int32_t old_num) const {
        return static_cast<uint32_t>(slots[static_cast<size_t>(a.layout.new_num[static_cast<size_t>(old_num)])].len());
    }
};

TEST(OutlineHints, TableFollowsTheSharedObjectTable) {
    for (const char* mode : {"", "/PageMode/UseOutlines"}) {
        analysed a(outlined(std::string(mode) + "/Outlines 21 0 R"));
        hinted h(a, 1000);
        ASSERT_GT(h.o, h.s) << mode;
        ASSERT_EQ(h.tables.size(), h.o + 16) << mode;
        EXPECT_EQ(h.dict, "<< /Filter /FlateDecode /S " + std::to_string(h.s) + " /O " + std::to_string(h.o) +
                              " /Length " + std::to_string(h.packed) + " >>")
            << mode;
        // Written before the root: the first page's objects, and without
        // /UseOutlines also the second page and the page-tree root.
        uint32_t before = h.len(a, 3) + h.len(a, 10);
        if (!*mode) before += h.len(a, 4) + h.len(a, 2);
        uint32_t run = h.len(a, 21) + h.len(a, 20) + h.len(a, 22) + h.len(a, 23);
        EXPECT_EQ(be32(h.tables, h.o), static_cast<uint32_t>(a.layout.new_num[21])) << mode;
        EXPECT_EQ(be32(h.tables, h.o + 4), 1000 + before) << mode;
        EXPECT_EQ(be32(h.tables, h.o + 8), 4u) << mode;
        EXPECT_EQ(be32(h.tables, h.o + 12), run) << mode;
    }
}

TEST(OutlineHints, NoTableWithoutTheRootInTheRun) {
    for (const char* extra : {"", "/Outlines<</First 20 0 R>>", "/Outlines 99 0 R"}) {
        analysed a(outlined(extra));
        hinted h(a, 1000);
        EXPECT_EQ(h.o, 0u) << extra;
        EXPECT_EQ(h.dict, "<< /Filter /FlateDecode /S " + std::to_string(h.s) + " /Length " +
                              std::to_string(h.packed) + " >>")
            << extra;
    }
}

// "name: value" lines of one section of qpdf --show-linearization.
std::map<std::string, long> shown_section(const std::string& text, const std::string& title) {
    std::map<std::string, long> out;
    size_t p = text.find(title);
    if (p == std::string::npos) return out;
    for (size_t e; (e = text.find('\n', p)) != std::string::npos; p = e + 1) {
        std::string line = text.substr(p, e - p);
        size_t colon = line.find(": ");
        if (colon != std::string::npos && line[0] != ' ') out[line.substr(0, colon)] = atol(line.c_str() + colon + 2);
    }
    return out;
}

TEST(OutlineHints, QpdfAcceptsBothPlacements) {
    if (!testutil::have_tool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
    for (const char* mode : {"", "/PageMode/UseOutlines"}) {
        testutil::scratch_dir dir;
        std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
        testutil::write_file(in, outlined(std::string(mode) + "/Outlines 21 0 R"));
        ASSERT_EQ(morvel_optimize(in.c_str(), out.c_str()), 1) << morvel_last_error();
        std::string report;
        testutil::run("qpdf --check-linearization " + out + " 2>&1", &report);
        EXPECT_EQ(report, out + ": no linearization errors\n") << mode;
        testutil::run("qpdf --show-linearization " + out + " 2>&1", &report);
        std::map<std::string, long> outline = shown_section(report, "Outlines Hint Table");
        std::map<std::string, long> top = shown_section(report, "linearization data");
        // qpdf shows locations with the hint stream added back: where the
        // file has the root.
        std::string file = testutil::read_file(out);
        size_t at = static_cast<size_t>(outline["first_object_offset"]);
        EXPECT_EQ(file.compare(at, std::to_string(outline["first_object"]).size() + 6,
                               std::to_string(outline["first_object"]) + " 0 obj"),
                  0)
            << mode;
        EXPECT_EQ(outline["nobjects"], 4) << mode;
        EXPECT_EQ(file.find("/Outlines " + std::to_string(outline["first_object"]) + " 0 R") != std::string::npos, true)
            << mode;
        if (*mode) {
            EXPECT_EQ(at + static_cast<size_t>(outline["group_length"]), static_cast<size_t>(top["first_page_end"]));
        }
    }
}

}  // namespace
