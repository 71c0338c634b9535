// Which pages reach each object, and the attributes a page inherits, over
// object tables built by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analyze/inheritance.h"
#include "fixtures.h"

namespace {

using ints = std::vector<int32_t>;
using testutil::doc_table;

const char* kTrailer = "trailer\n<< /Size 20 /Root 1 0 R >>\n";

status analyze_status(doc_table& t, testutil::analysis& a, const std::string& file = kTrailer) {
    return t.analyze(a, file);
}

bool analyze(doc_table& t, testutil::analysis& a, const std::string& file = kTrailer) {
    return analyze_status(t, a, file).ok();
}

std::string page(int32_t parent, const std::string& extra = "") {
    return "<</Type/Page/Parent " + std::to_string(parent) + " 0 R" + extra + ">>";
}

// The objects after the shared ones in file order: the page-tree root (0
// for one the writer creates), then the other objects.
ints others(const testutil::analysis& a) {
    ints v{a.order.root_old};
    v.insert(v.end(), a.order.other_objs.begin(), a.order.other_objs.end());
    return v;
}

ints refs(const doc_table& t, const testutil::analysis& a, int32_t num) {
    return a.reach.pages_of(t.pos(num));
}

// The inherited lookups of one page with nothing cached from other pages.
std::string inherited_resources_text(const obj_list& objects, const pdf_obj* page) {
    inheritance_cache fresh(objects);
    return fresh.resources(page);
}
std::string inherited_value_text(const obj_list& objects, const pdf_obj* page, const char* key) {
    inheritance_cache fresh(objects);
    return fresh.value(page, key);
}

TEST(Attribution, WalksStopAtPagesNodesCatalogAndOtherPages) {
    testutil::doc_table t;
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
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(refs(t, l, 3), ints{0});
    EXPECT_EQ(refs(t, l, 5), ints{1});  // reached from page 0's annotation, but a page
    EXPECT_EQ(refs(t, l, 6), (ints{0, 1}));
    EXPECT_EQ(refs(t, l, 7), (ints{0, 1}));
    EXPECT_EQ(refs(t, l, 12), (ints{0, 1}));
    EXPECT_EQ(refs(t, l, 8), ints{0});
    EXPECT_EQ(refs(t, l, 9), ints{0});
    EXPECT_TRUE(refs(t, l, 1).empty());
    EXPECT_TRUE(refs(t, l, 2).empty());
    EXPECT_TRUE(refs(t, l, 11).empty());
    EXPECT_EQ(l.order.page_groups[0], (ints{3, 6, 7, 12, 8, 9}));
    EXPECT_EQ(others(l), (ints{2, 11}));
}

TEST(Attribution, ChainsEndAtDepth200) {
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[3 0 R]>>").add(3, page(2, "/A 100 0 R"));
    for (int n = 100; n < 310; n++) t.add(n, "<</Next " + std::to_string(n + 1) + " 0 R>>");
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(refs(t, l, 299), ints{0});  // depth 200: recorded, not followed
    EXPECT_TRUE(refs(t, l, 300).empty());
}

TEST(Attribution, InheritedResources) {
    testutil::doc_table t;
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
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(l.tree.page_list, (ints{3, 5, 6}));
    EXPECT_EQ(refs(t, l, 7), ints{0});
    EXPECT_TRUE(refs(t, l, 8).empty());  // the writer copies the dictionary itself
    EXPECT_EQ(refs(t, l, 9), ints{1});
    EXPECT_EQ(refs(t, l, 10), ints{1});
    EXPECT_EQ(l.order.page_groups[1], (ints{5, 9, 10}));
    EXPECT_EQ(others(l), (ints{2, 8}));  // node 4 has no place

    EXPECT_EQ(inherited_resources_text(t.doc.objects, &t.rec(5)), "<</XObject<</X1 9 0 R>>>>");
    EXPECT_EQ(inherited_resources_text(t.doc.objects, &t.rec(3)), "<</Font<</F1 7 0 R>>>>");
    EXPECT_EQ(inherited_resources_text(t.doc.objects, &t.rec(6)), "<<>>");
    EXPECT_EQ(own_resources_text(t.doc.objects, &t.rec(5)), "");
    inheritance_cache cache(t.doc.objects);
    for (int32_t num : {5, 3, 6, 5, 10})
        EXPECT_EQ(cache.resources(&t.rec(num)), inherited_resources_text(t.doc.objects, &t.rec(num))) << num;
}

TEST(Attribution, InheritedResourcesFollowEveryReference) {
    std::string fonts;
    for (int k = 0; k < 300; k++) fonts += "/F" + std::to_string(k) + " " + std::to_string(100 + k) + " 0 R";
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R]/Resources<</Font<<" + fonts + ">>>>>>")
        .add(3, page(2));
    for (int k = 0; k < 300; k++) t.add(100 + k, "<</Type/Font>>");
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    for (int32_t n : {100, 163, 164, 399}) EXPECT_EQ(refs(t, l, n), ints{0}) << n;
}

TEST(Attribution, InheritanceFollowsTheWholeChain) {
    // 40 nodes above the page: the topmost carries the attributes.
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 10 0 R>>");
    t.add(10, "<</Type/Pages/Kids[11 0 R]/Resources<</Font<</F1 7 0 R>>>>/MediaBox[0 0 200 300]/Rotate 90>>");
    for (int n = 11; n < 50; n++)
        t.add(n, "<</Type/Pages/Parent " + std::to_string(n - 1) + " 0 R/Kids[" + std::to_string(n + 1) + " 0 R]>>");
    t.add(50, page(49)).add(7, "<</Type/Font>>");
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(l.tree.page_list, ints{50});
    EXPECT_EQ(refs(t, l, 7), ints{0});
    EXPECT_EQ(inherited_resources_text(t.doc.objects, &t.rec(50)), "<</Font<</F1 7 0 R>>>>");
    inheritance_cache cache(t.doc.objects);
    for (int32_t num : {30, 50, 11}) {  // a middle node first: its answer serves the rest
        EXPECT_EQ(cache.resources(&t.rec(num)), "<</Font<</F1 7 0 R>>>>") << num;
        EXPECT_EQ(cache.value(&t.rec(num), "MediaBox"), "[0 0 200 300]") << num;
        EXPECT_EQ(cache.value(&t.rec(num), "Rotate"), "90") << num;
        EXPECT_EQ(cache.value(&t.rec(num), "CropBox"), "") << num;
    }
}

TEST(Attribution, InheritanceStopsAtParentLoops) {
    // 4 -> 5 -> 6 -> 4: only 6 has a value, found from every entry point;
    // a loop without any value gives none.
    testutil::doc_table t;
    t.add(4, "<</Type/Pages/Parent 5 0 R>>")
        .add(5, "<</Type/Pages/Parent 6 0 R>>")
        .add(6, "<</Type/Pages/Parent 4 0 R/MediaBox[6]>>")
        .add(3, page(4))
        .add(8, page(5))
        .add(9, page(9));  // its own parent
    inheritance_cache cache(t.doc.objects);
    EXPECT_EQ(cache.value(&t.rec(3), "MediaBox"), "[6]");
    EXPECT_EQ(cache.value(&t.rec(8), "MediaBox"), "[6]");
    EXPECT_EQ(cache.value(&t.rec(3), "Rotate"), "");
    EXPECT_EQ(cache.value(&t.rec(9), "MediaBox"), "");
    EXPECT_EQ(cache.resources(&t.rec(8)), "");
}

TEST(Attribution, InheritedPageAttributes) {
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R 5 0 R]/MediaBox 12 0 R/CropBox[0 0 13 0 R 9]/Rotate 14 0 R>>")
        .add(3, page(2))
        .add(5, page(2, "/MediaBox[0 0 1 1]/CropBox[0 0 1 1]/Rotate 0"))
        .add(12, "[0 0 612 792]")
        .add(13, "612")
        .add(14, "90");
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(refs(t, l, 12), ints{0});
    EXPECT_EQ(refs(t, l, 13), ints{0});
    EXPECT_EQ(refs(t, l, 14), ints{0});
    EXPECT_EQ(l.order.page_groups[0], (ints{3, 12, 13, 14}));
    EXPECT_EQ(l.order.page_groups[1], ints{5});
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
        testutil::doc_table t;
        t.add(2, std::string("<</Type/Pages") + c.upper + ">>")
            .add(4, std::string("<</Type/Pages/Parent 2 0 R") + c.node + ">>")
            .add(3, page(4, c.page_extra));
        EXPECT_EQ(inherited_value_text(t.doc.objects, &t.rec(3), "MediaBox"), c.want) << c.node << " | " << c.upper;
        inheritance_cache cache(t.doc.objects);
        for (int round = 0; round < 2; round++)
            EXPECT_EQ(cache.value(&t.rec(3), "MediaBox"), c.want) << c.node << " | " << c.upper;
        EXPECT_EQ(cache.value(&t.rec(3), "CropBox"), "");
    }
}

TEST(Attribution, ReplacedLengthReferenceIsNotWalked) {
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R]>>")
        .add(3, page(2, "/Contents[4 0 R 5 0 R 6 0 R]"))
        .add_stream(4, "<</Length 14 0 R>>", "0123456789")  // length object wrong
        .add_stream(5, "<</Length 15 0 R>>", "0123456789")  // length object right
        .add_stream(6, "<</Length 16 0 R/Filter 16 0 R>>", "01234")  // reached anyway
        .add(14, "11")
        .add(15, " 10\n")
        .add(16, "4");
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_TRUE(refs(t, l, 14).empty());
    EXPECT_EQ(refs(t, l, 15), ints{0});
    EXPECT_EQ(refs(t, l, 16), ints{0});
    EXPECT_EQ(others(l), (ints{2, 14}));
}

}  // namespace
