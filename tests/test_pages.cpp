// Catalog and page tree, page attribution, grouping and renumbering, over
// object tables built by hand and (when the loader and the corpus are there)
// over real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "analyze/pages.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"
#include "test_util.h"

namespace {

using ints = std::vector<int32_t>;

// An object table and the stream data its records point into.
struct table {
    document doc;
    obj_list& objects = doc.objects;
    std::deque<std::string> data;

    table& add(int32_t num, const std::string& body) {
        objects.items.push_back(testutil::typed_record(num, body));
        objects.build_index();
        return *this;
    }
    table& add_stream(int32_t num, const std::string& dict, const std::string& bytes) {
        add(num, dict + "\n");
        data.push_back(bytes);
        pdf_obj& o = objects.items.back();
        o.has_stream = 1;
        o.stream = data.back().data();
        o.stream_len = data.back().size();
        return *this;
    }
    const pdf_obj& rec(int32_t num) const { return *objects.find(num); }
    ints refs(int32_t num) const { return rec(num).ref_pages; }
};

const char* kTrailer = "trailer\n<< /Size 20 /Root 1 0 R >>\n";

status analyze_status(table& t, page_layout& layout, const std::string& file = kTrailer) {
    testutil::set_input(t.doc, file);
    return analyze_pages(t.doc, layout);
}

bool analyze(table& t, page_layout& layout, const std::string& file = kTrailer) {
    return analyze_status(t, layout, file).ok();
}

ints pages_of(table& t, const std::string& file = kTrailer) {
    page_layout layout;
    testutil::set_input(t.doc, file);
    choose_catalog_and_root(t.doc, layout);
    if (!list_pages(t.objects, layout).ok()) return {-1};
    return layout.page_list;
}

std::string page(int32_t parent, const std::string& extra = "") {
    return "<</Type/Page/Parent " + std::to_string(parent) + " 0 R" + extra + ">>";
}

// ---------------------------------------------------------------------------
// Catalog and page tree

TEST(PageTree, WorkedExampleGroupsAndNumbers) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R 5 0 R 8 0 R]/Count 3>>")
        .add(3, page(2, "/Contents 4 0 R"))
        .add(4, "<</Length 0>>")
        .add(5, page(2, "/Contents 6 0 R/Resources<</Font<</F1 7 0 R>>>>"))
        .add(6, "<</Length 0>>")
        .add(7, "<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>")
        .add(8, page(2, "/Contents 9 0 R/Resources<</Font<</F1 7 0 R>>>>"))
        .add(9, "<</Length 0>>")
        .add(10, "<</Producer(x)>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(l.page_list, (ints{3, 5, 8}));
    ASSERT_EQ(l.page_groups.size(), 3u);
    EXPECT_EQ(l.page_groups[0], (ints{3, 4}));
    EXPECT_EQ(l.page_groups[1], (ints{5, 6}));
    EXPECT_EQ(l.page_groups[2], (ints{8, 9}));
    EXPECT_EQ(l.shared_objs, (ints{7}));
    EXPECT_EQ(l.other_objs, (ints{2, 10}));
    EXPECT_EQ(l.rest_objs, (ints{5, 6, 8, 9}));
    EXPECT_EQ(l.lin_num, 8);
    EXPECT_EQ(l.max_num, 10);
    EXPECT_EQ(l.catalog, 0);
    EXPECT_EQ(l.pages_root, 1);
    EXPECT_EQ(l.new_num, (ints{0, 9, 6, 11, 12, 1, 2, 5, 3, 4, 7}));
}

TEST(PageTree, DepthFirstOrderWithoutDepthLimit) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[4 0 R 6 0 R]>>")
        .add(4, "<</Type/Pages/Parent 2 0 R/Kids[5 0 R 3 0 R]>>")
        .add(3, page(4))
        .add(5, page(4))
        .add(6, page(2));
    EXPECT_EQ(pages_of(t), (ints{5, 3, 6}));

    // A chain of 100 Pages nodes: the page at its bottom is still found.
    table deep;
    deep.add(1, "<</Type/Catalog/Pages 100 0 R>>");
    for (int n = 100; n < 200; n++)
        deep.add(n, "<</Type/Pages/Kids[" + std::to_string(n + 1) + " 0 R]>>");
    deep.add(200, page(199));
    EXPECT_EQ(pages_of(deep), (ints{200}));
}

TEST(PageTree, CyclesAndRepeatsExpandOnce) {
    table cycle;  // node 4 lists the root again, and itself
    cycle.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R 4 0 R]>>")
        .add(3, page(2))
        .add(4, "<</Type/Pages/Kids[2 0 R 4 0 R 5 0 R]>>")
        .add(5, page(4));
    EXPECT_EQ(pages_of(cycle), (ints{3, 5}));

    table twice;  // one node listed twice, one page listed twice
    twice.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[4 0 R 6 0 R 4 0 R 6 0 R]>>")
        .add(4, "<</Type/Pages/Kids[5 0 R 3 0 R 5 0 R]>>")
        .add(3, page(4))
        .add(5, page(4))
        .add(6, page(2));
    EXPECT_EQ(pages_of(twice), (ints{5, 3, 6}));
}

TEST(PageTree, IndirectKidsAreFollowed) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids 9 0 R/Count 3>>")
        .add(9, " \n[3 0 R 4 0 R]\n")
        .add(3, page(2))
        .add(4, "<</Type/Pages/Kids 10 0 R>>")
        .add(10, "[5 0 R]")
        .add(5, page(4))
        .add(6, page(2));  // typed a page but in no /Kids
    EXPECT_EQ(pages_of(t), (ints{3, 5}));

    table not_array;  // the referenced object is no array: nothing, then the fallback
    not_array.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids 9 0 R>>")
        .add(9, "<</A[3 0 R]>>")
        .add(6, page(2))
        .add(3, page(2));
    EXPECT_EQ(pages_of(not_array), (ints{6, 3}));
}

TEST(PageTree, KidTokens) {
    table t;  // generation and R optional, 0 skipped, minus sign stepped over
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[0 0 R 5R -3 0 R\n6 0 R]/X[7 0 R]>>")
        .add(3, page(2))
        .add(5, page(2))
        .add(6, page(2))
        .add(7, page(2));
    EXPECT_EQ(pages_of(t), (ints{5, 3, 6}));
}

TEST(PageTree, CatalogChoice) {
    // The last /Root decides; /RootX is another name.
    table a;
    a.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R]>>")
        .add(3, page(2))
        .add(4, "<</Pages 5 0 R>>")
        .add(5, "<</Kids[6 0 R]>>")
        .add(6, page(5));
    page_layout l;
    testutil::set_input(a.doc, "trailer<</Root 1 0 R>> trailer<</Root 4 0 R/RootX 1>>");
    choose_catalog_and_root(a.doc, l);
    EXPECT_EQ(l.catalog, 3);
    EXPECT_EQ(l.pages_root, 4);  // untyped, named by /Pages
    EXPECT_TRUE(a.rec(4).is_catalog);
    EXPECT_FALSE(a.rec(1).is_catalog);

    // /Root names an object without /Pages while another is typed /Catalog.
    table b;
    b.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[]>>").add(4, "<</Info 1>>");
    testutil::set_input(b.doc, "/Root 4 0 R");
    choose_catalog_and_root(b.doc, l);
    EXPECT_EQ(l.catalog, 0);
    EXPECT_FALSE(b.rec(4).is_catalog);

    // /Root names a stream, or a missing object, or is followed by no number.
    for (const char* file : {"/Root 4 0 R", "/Root 9 0 R", "/Root 1 0 R /Root x"}) {
        table c;
        c.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[]>>").add_stream(4, "<</Pages 2 0 R>>", "");
        testutil::set_input(c.doc, file);
        choose_catalog_and_root(c.doc, l);
        EXPECT_EQ(l.catalog, 0) << file;
        EXPECT_FALSE(c.rec(4).is_catalog) << file;
    }

    // Nothing typed /Catalog: /Root's object becomes it, flags cleared; no
    // /Pages there, so the root is the first Pages-typed record.
    table d;
    d.add(1, "<</Type/Page>>").add(2, "<</Type/Pages/Kids[1 0 R]>>");
    testutil::set_input(d.doc, "/Root 1 0 R");
    choose_catalog_and_root(d.doc, l);
    EXPECT_EQ(l.catalog, 0);
    EXPECT_TRUE(d.rec(1).is_catalog);
    EXPECT_FALSE(d.rec(1).is_page);
    EXPECT_EQ(l.pages_root, 1);
}

TEST(PageTree, FallbackAndFailure) {
    table t;  // no catalog, no Pages node: every page-typed record, table order
    t.add(7, "<</Type/Page>>").add(3, "<</Type/Page>>").add(4, "<</Type/Font>>");
    EXPECT_EQ(pages_of(t, ""), (ints{7, 3}));

    table none;
    none.add(1, "<</Type/Font>>");
    page_layout l;
    EXPECT_EQ(testutil::message_of(analyze_status(none, l, "")), "failed to find valid pages in 'in.pdf' (found 0)");
}

// ---------------------------------------------------------------------------
// Attribution

TEST(Attribution, WalksStopAtPagesNodesCatalogAndOtherPages) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R/Outlines 11 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R 5 0 R]>>")
        .add(3, page(2, "/Annots[8 0 R]/Resources 6 0 R"))
        .add(5, page(2, "/Resources 6 0 R"))
        .add(6, "<</Font<</F1 7 0 R>>>>")
        .add(7, "<</Type/Font/W 12 0 R>>")
        .add(12, "[1 2 3]")
        .add(8, "<</Type/Annot/Dest[5 0 R /Fit]/Next 9 0 R>>")
        .add(9, "<</Type/Annot/Next 8 0 R/P 1 0 R>>")  // a cycle, and the catalog
        .add(11, "<</First 3 0 R>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(t.refs(3), ints{0});
    EXPECT_EQ(t.refs(5), ints{1});  // reached from page 0's annotation, but a page
    EXPECT_EQ(t.refs(6), (ints{0, 1}));
    EXPECT_EQ(t.refs(7), (ints{0, 1}));
    EXPECT_EQ(t.refs(12), (ints{0, 1}));
    EXPECT_EQ(t.refs(8), ints{0});
    EXPECT_EQ(t.refs(9), ints{0});
    EXPECT_TRUE(t.refs(1).empty());
    EXPECT_TRUE(t.refs(2).empty());
    EXPECT_TRUE(t.refs(11).empty());
    EXPECT_EQ(l.page_groups[0], (ints{3, 6, 7, 12, 8, 9}));
    EXPECT_EQ(l.other_objs, (ints{2, 11}));
}

TEST(Attribution, ChainsEndAtDepth200) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[3 0 R]>>").add(3, page(2, "/A 100 0 R"));
    for (int n = 100; n < 310; n++) t.add(n, "<</Next " + std::to_string(n + 1) + " 0 R>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(t.refs(299), ints{0});  // depth 200: recorded, not followed
    EXPECT_TRUE(t.refs(300).empty());
}

TEST(Attribution, InheritedResources) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R 4 0 R]/Resources<</Font<</F1 7 0 R>>>>>>")
        .add(4, "<</Type/Pages/Parent 2 0 R/Kids[5 0 R 6 0 R]/Resources 8 0 R>>")
        .add(3, page(2))
        .add(5, page(4))
        .add(6, page(4, "/Resources<<>>"))  // its own: nothing inherited
        .add(7, "<</Type/Font>>")
        .add(8, "<</XObject<</X1 9 0 R>>>>")
        .add(9, "<</Subtype/Image/SMask 10 0 R>>")
        .add(10, "<</Subtype/Image>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(l.page_list, (ints{3, 5, 6}));
    EXPECT_EQ(t.refs(7), ints{0});
    EXPECT_TRUE(t.refs(8).empty());  // the writer copies the dictionary itself
    EXPECT_EQ(t.refs(9), ints{1});
    EXPECT_EQ(t.refs(10), ints{1});
    EXPECT_EQ(l.page_groups[1], (ints{5, 9, 10}));
    EXPECT_EQ(l.other_objs, (ints{2, 8}));  // node 4 has no place

    EXPECT_EQ(inherited_resources_text(t.objects, &t.rec(5)), "<</XObject<</X1 9 0 R>>>>");
    EXPECT_EQ(inherited_resources_text(t.objects, &t.rec(3)), "<</Font<</F1 7 0 R>>>>");
    EXPECT_EQ(inherited_resources_text(t.objects, &t.rec(6)), "<<>>");
    EXPECT_EQ(own_resources_text(t.objects, &t.rec(5)), "");
    inheritance_cache cache(t.objects);
    for (int32_t num : {5, 3, 6, 5, 10})
        EXPECT_EQ(cache.resources(&t.rec(num)), inherited_resources_text(t.objects, &t.rec(num))) << num;
}

TEST(Attribution, InheritedResourcesFollowEveryReference) {
    std::string fonts;
    for (int k = 0; k < 300; k++) fonts += "/F" + std::to_string(k) + " " + std::to_string(100 + k) + " 0 R";
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R]/Resources<</Font<<" + fonts + ">>>>>>")
        .add(3, page(2));
    for (int k = 0; k < 300; k++) t.add(100 + k, "<</Type/Font>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    for (int32_t n : {100, 163, 164, 399}) EXPECT_EQ(t.refs(n), ints{0}) << n;
}

TEST(Attribution, ResourcesTooFarUpAreNotInherited) {
    // 33 nodes above the page: the 33rd carries the resources.
    table t;
    t.add(1, "<</Type/Catalog/Pages 10 0 R>>");
    t.add(10, "<</Type/Pages/Kids[11 0 R]/Resources<</Font<</F1 7 0 R>>>>>>");
    for (int n = 11; n < 43; n++)
        t.add(n, "<</Type/Pages/Parent " + std::to_string(n - 1) + " 0 R/Kids[" + std::to_string(n + 1) + " 0 R]>>");
    t.add(43, page(42)).add(7, "<</Type/Font>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_TRUE(t.refs(7).empty());
    EXPECT_EQ(inherited_resources_text(t.objects, &t.rec(43)), "");
    EXPECT_EQ(inherited_resources_text(t.objects, &t.rec(42)), "<</Font<</F1 7 0 R>>>>");
    inheritance_cache cache(t.objects);
    EXPECT_EQ(cache.resources(&t.rec(42)), "<</Font<</F1 7 0 R>>>>");
    EXPECT_EQ(cache.resources(&t.rec(43)), "");
}

TEST(Attribution, InheritedPageAttributes) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R 5 0 R]/MediaBox 12 0 R/CropBox[0 0 13 0 R 9]/Rotate 14 0 R>>")
        .add(3, page(2))
        .add(5, page(2, "/MediaBox[0 0 1 1]/CropBox[0 0 1 1]/Rotate 0"))
        .add(12, "[0 0 612 792]")
        .add(13, "612")
        .add(14, "90");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(t.refs(12), ints{0});
    EXPECT_EQ(t.refs(13), ints{0});
    EXPECT_EQ(t.refs(14), ints{0});
    EXPECT_EQ(l.page_groups[0], (ints{3, 12, 13, 14}));
    EXPECT_EQ(l.page_groups[1], ints{5});
}

TEST(Attribution, InheritedValueForms) {
    struct {
        const char* node;   // the parent of the page
        const char* upper;  // the grandparent
        const char* page_extra;
        const char* want;
    } cases[] = {
        {"/MediaBox 12 0 R", "", "", "12 0 R"},
        {"/MediaBox\n[0 [1 2] 3]/X 1", "", "", "[0 [1 2] 3]"},
        {"/MediaBox[0 0", "/MediaBox[1 1]", "", "[1 1]"},  // unbalanced: the next ancestor
        {"/MediaBox/Foo", "/MediaBox 7", "", "7"},
        {"/MediaBox -.5e", "", "", "-.5"},
        {"/MediaBox +-.", "/MediaBox[2]", "", "[2]"},  // no digit: no number
        {"", "/MediaBox[3]", "", "[3]"},
        {"/MediaBox[4]", "/MediaBox[3]", "", "[4]"},  // nearest first
        {"/MediaBox[4]", "", "/MediaBox[5]", ""},     // the page has its own
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        table t;
        t.add(2, std::string("<</Type/Pages") + c.upper + ">>")
            .add(4, std::string("<</Type/Pages/Parent 2 0 R") + c.node + ">>")
            .add(3, page(4, c.page_extra));
        EXPECT_EQ(inherited_value_text(t.objects, &t.rec(3), "MediaBox"), c.want) << c.node << " | " << c.upper;
        inheritance_cache cache(t.objects);
        for (int round = 0; round < 2; round++)
            EXPECT_EQ(cache.value(&t.rec(3), "MediaBox"), c.want) << c.node << " | " << c.upper;
        EXPECT_EQ(cache.value(&t.rec(3), "CropBox"), "");
    }
}

TEST(Attribution, ReplacedLengthReferenceIsNotWalked) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R]>>")
        .add(3, page(2, "/Contents[4 0 R 5 0 R 6 0 R]"))
        .add_stream(4, "<</Length 14 0 R>>", "0123456789")  // length object wrong
        .add_stream(5, "<</Length 15 0 R>>", "0123456789")  // length object right
        .add_stream(6, "<</Length 16 0 R/Filter 16 0 R>>", "01234")  // reached anyway
        .add(14, "11")
        .add(15, " 10\n")
        .add(16, "4");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_TRUE(t.refs(14).empty());
    EXPECT_EQ(t.refs(15), ints{0});
    EXPECT_EQ(t.refs(16), ints{0});
    EXPECT_EQ(l.other_objs, (ints{2, 14}));
}

TEST(Attribution, StreamLengthFix) {
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
        table t;
        t.add(8, " 3 \n").add(9, "3 x").add(10, "<</A 3>>").add_stream(1, c.dict, c.data);
        length_fix f = stream_length_fix(t.objects, t.rec(1));
        EXPECT_EQ(f.kind, c.kind) << c.dict;
        if (f.kind != length_fix::REPLACE) continue;
        const std::string& b = t.rec(1).body;
        EXPECT_EQ(b.substr(static_cast<size_t>(f.value_start), static_cast<size_t>(f.value_end - f.value_start)),
                  c.replaced)
            << c.dict;
        EXPECT_EQ(f.value_is_ref, c.is_ref) << c.dict;
    }
    table plain;
    plain.add(1, "<</Length 5>>");
    EXPECT_EQ(stream_length_fix(plain.objects, plain.rec(1)).kind, length_fix::KEEP);
}

// ---------------------------------------------------------------------------
// Grouping and numbering

TEST(Layout, WhoReachesAnObjectDecidesItsPlace) {
    // Six pages; object 20 reached by pages 0 and 3, 21 by 2 and 5, 22 by 4
    // alone, 23 by no page.
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[10 0 R 11 0 R 12 0 R 13 0 R 14 0 R 15 0 R]>>");
    const char* extra[] = {"/A 20 0 R", "", "/A 21 0 R", "/A 20 0 R", "/A 24 0 R/B 22 0 R", "/A 21 0 R"};
    for (int k = 0; k < 6; k++) t.add(10 + k, page(2, extra[k]));
    t.add(20, "<<>>").add(21, "<<>>").add(22, "<<>>").add(23, "<<>>").add(24, "<<>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(l.page_groups[0], (ints{10, 20}));
    EXPECT_EQ(l.page_groups[4], (ints{14, 22, 24}));
    EXPECT_EQ(l.shared_objs, ints{21});
    EXPECT_EQ(l.other_objs, (ints{2, 23}));
    EXPECT_EQ(l.rest_objs, (ints{11, 12, 13, 14, 22, 24, 15}));
    EXPECT_EQ(l.new_num[22], 5);
    EXPECT_EQ(l.new_num[24], 6);
    EXPECT_EQ(l.lin_num, 11);
}

TEST(Layout, OnePageDocument) {
    table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[3 0 R]>>").add(3, page(2, "/C 4 0 R")).add(4, "<<>>").add(5, "<<>>");
    page_layout l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_TRUE(l.rest_objs.empty());
    EXPECT_TRUE(l.shared_objs.empty());
    EXPECT_EQ(l.other_objs, (ints{2, 5}));
    EXPECT_EQ(l.new_num, (ints{0, 4, 1, 6, 7, 2}));
}

// Each new number from 1 to K + 2 + F belongs to one record, except K, K + 2
// and (without a catalog) K + 1; the writer's root may take one of them.
void expect_one_place_each(const obj_list& objects, const page_layout& l) {
    std::map<int32_t, int32_t> owner;
    for (const pdf_obj& r : objects.items) {
        int32_t n = l.new_num[static_cast<size_t>(r.num)];
        if (n == 0) continue;
        EXPECT_TRUE(owner.emplace(n, r.num).second) << "number " << n << " twice";
    }
    if (l.new_num[0] > 0) {
        EXPECT_TRUE(owner.emplace(l.new_num[0], 0).second);
    }
    int32_t top = l.lin_num + 2 + static_cast<int32_t>(l.page_groups[0].size());
    for (int32_t n = 1; n <= top; n++) {
        if (n == l.lin_num || n == l.lin_num + 2 || (n == l.lin_num + 1 && l.catalog < 0)) continue;
        EXPECT_EQ(owner.count(n), 1u) << "number " << n << " unused";
    }
}

TEST(Layout, UnusableRootsAndIntermediateNodes) {
    // /Pages names a page directly.
    table a;
    a.add(1, "<</Type/Catalog/Pages 3 0 R>>").add(3, "<</Type/Page/C 4 0 R>>").add(4, "<<>>").add(5, "<</Type/Pages/Kids[3 0 R]>>");
    page_layout l;
    ASSERT_TRUE(analyze(a, l));
    EXPECT_EQ(l.page_list, ints{3});
    EXPECT_EQ(l.pages_root, -1);
    EXPECT_EQ(l.other_objs, ints{0});
    EXPECT_EQ(l.new_num[0], 1);
    EXPECT_EQ(l.new_num[5], 0);  // a Pages node outside the tree has no place either
    expect_one_place_each(a.objects, l);

    // /Pages names the catalog itself.
    table b;
    b.add(1, "<</Type/Catalog/Pages 1 0 R>>").add(3, "<</Type/Page>>");
    page_layout lb;
    ASSERT_TRUE(analyze(b, lb));
    EXPECT_EQ(lb.pages_root, -1);
    EXPECT_EQ(lb.other_objs, ints{0});
    EXPECT_EQ(lb.new_num[1], lb.lin_num + 1);
    expect_one_place_each(b.objects, lb);

    // Intermediate nodes and a page listed twice.
    table c;
    c.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[4 0 R 3 0 R 4 0 R]>>")
        .add(4, "<</Type/Pages/Parent 2 0 R/Kids[3 0 R 5 0 R]>>")
        .add(3, page(4))
        .add(5, page(4))
        .add(6, "<</Type/Page>>");  // an orphan page
    page_layout lc;
    ASSERT_TRUE(analyze(c, lc));
    EXPECT_EQ(lc.page_list, (ints{3, 5}));
    EXPECT_EQ(lc.pages_root, 1);
    EXPECT_EQ(lc.new_num[4], 0);
    EXPECT_EQ(lc.other_objs, (ints{2, 6}));
    expect_one_place_each(c.objects, lc);

    // No catalog and no root at all.
    table d;
    d.add(3, "<</Type/Page>>").add(5, "<</Type/Page>>");
    page_layout ld;
    ASSERT_TRUE(analyze(d, ld, ""));
    EXPECT_EQ(ld.catalog, -1);
    EXPECT_EQ(ld.pages_root, -1);
    EXPECT_EQ(ld.other_objs, ints{0});
    expect_one_place_each(d.objects, ld);
}

TEST(Layout, ObjectNumbersOutOfRange) {
    for (int32_t top : {8388607, 8388608}) {
        table t;
        t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[3 0 R]>>").add(3, page(2)).add(top, "<<>>");
        page_layout l;
        status s = analyze_status(t, l);
        EXPECT_EQ(s.ok(), top == 8388607);
        EXPECT_EQ(l.max_num, top);
        if (!s.ok()) {
            EXPECT_EQ(testutil::message_of(s), "object numbers out of range (max 8388608) in 'in.pdf'");
        }
    }
}

// ---------------------------------------------------------------------------
// Real files, through the loader

// Unencrypted files qpdf reads without complaint about their structure (the
// manifest's qpdf_check is ok or warnings).
std::vector<std::string> corpus_files() {
    std::vector<std::string> files;
    std::ifstream f(std::string(MORVEL_CORPUS_DIR) + "/MANIFEST.tsv");
    std::string line;
    std::map<std::string, size_t> col;
    while (std::getline(f, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string c;
        while (std::getline(ss, c, '\t')) cols.push_back(c);
        if (col.empty()) {
            for (size_t i = 0; i < cols.size(); i++) col[cols[i]] = i;
            if (!col.count("file") || !col.count("qpdf_check") || !col.count("encrypted")) return files;
            continue;
        }
        auto get = [&](const char* name) { return col[name] < cols.size() ? cols[col[name]] : std::string(); };
        std::string check = get("qpdf_check");
        if ((check == "ok" || check == "warnings") && get("encrypted") == "no") files.push_back(get("file"));
    }
    return files;
}

int qpdf_pages(const std::string& path) {
    std::string out;
    testutil::run("qpdf --show-npages '" + path + "' 2>/dev/null", &out);
    return out.empty() ? -1 : std::atoi(out.c_str());
}

// Loads the file and analyses it; the page count, or -1 when a phase failed.
int pages_in_file(const std::string& path, std::string& why) {
    document doc;
    page_layout l;
    status s = read_input_file(path.c_str(), doc.input);
    if (s.ok()) s = load_document(doc);
    if (s.ok()) s = analyze_pages(doc, l);
    if (!s.ok()) {
        why = testutil::message_of(s, path.c_str());
        return -1;
    }
    expect_one_place_each(doc.objects, l);
    return static_cast<int>(l.page_list.size());
}

TEST(Corpus, PageCountsMatchQpdf) {
    std::vector<std::string> files = corpus_files();
    if (files.empty() || !testutil::have_tool("qpdf")) GTEST_SKIP() << "no corpus or no qpdf";
    testutil::scratch_dir dir;
    std::string probe = dir.file("probe.pdf");
    testutil::write_file(probe, testutil::simple_pdf(2));
    std::string why;
    if (pages_in_file(probe, why) != 2) GTEST_SKIP() << "loader not available: " << why;
    int compared = 0;
    for (const std::string& file : files) {
        std::string path = std::string(MORVEL_CORPUS_DIR) + "/" + file;
        int want = qpdf_pages(path);
        if (want < 1) continue;
        EXPECT_EQ(pages_in_file(path, why), want) << file << " " << why;
        compared++;
    }
    EXPECT_GT(compared, 0);
    std::cout << "[ corpus   ] " << compared << " files compared with qpdf\n";
}

}  // namespace
