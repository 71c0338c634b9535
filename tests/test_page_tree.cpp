// The catalog, the page-tree root and the pages in document order, over
// object tables built by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analyze/page_tree.h"
#include "fixtures.h"

namespace {

using ints = std::vector<int32_t>;
using testutil::doc_table;

const char* kTrailer = "trailer\n<< /Size 20 /Root 1 0 R >>\n";

status analyze_status(doc_table& t, testutil::analysis& a, const std::string& file = kTrailer) {
    return t.analyze(a, file);
}

std::string page(int32_t parent, const std::string& extra = "") {
    return "<</Type/Page/Parent " + std::to_string(parent) + " 0 R" + extra + ">>";
}

ints pages_of(doc_table& t, const std::string& file = kTrailer) {
    page_tree tree;
    testutil::set_input(t.doc, file);
    if (!find_page_tree(t.doc, tree).ok()) return {-1};
    return tree.page_list;
}

TEST(PageTree, DepthFirstOrderWithoutDepthLimit) {
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[4 0 R 6 0 R]>>")
        .add(4, "<</Type/Pages/Parent 2 0 R/Kids[5 0 R 3 0 R]>>")
        .add(3, page(4))
        .add(5, page(4))
        .add(6, page(2));
    EXPECT_EQ(pages_of(t), (ints{5, 3, 6}));

    // A chain of 100 Pages nodes: the page at its bottom is still found.
    testutil::doc_table deep;
    deep.add(1, "<</Type/Catalog/Pages 100 0 R>>");
    for (int n = 100; n < 200; n++)
        deep.add(n, "<</Type/Pages/Kids[" + std::to_string(n + 1) + " 0 R]>>");
    deep.add(200, page(199));
    EXPECT_EQ(pages_of(deep), (ints{200}));
}

TEST(PageTree, CyclesAndRepeatsExpandOnce) {
    testutil::doc_table cycle;  // node 4 lists the root again, and itself
    cycle.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R 4 0 R]>>")
        .add(3, page(2))
        .add(4, "<</Type/Pages/Kids[2 0 R 4 0 R 5 0 R]>>")
        .add(5, page(4));
    EXPECT_EQ(pages_of(cycle), (ints{3, 5}));

    testutil::doc_table twice;  // one node listed twice, one page listed twice
    twice.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[4 0 R 6 0 R 4 0 R 6 0 R]>>")
        .add(4, "<</Type/Pages/Kids[5 0 R 3 0 R 5 0 R]>>")
        .add(3, page(4))
        .add(5, page(4))
        .add(6, page(2));
    EXPECT_EQ(pages_of(twice), (ints{5, 3, 6}));
}

TEST(PageTree, IndirectKidsAreFollowed) {
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids 9 0 R/Count 3>>")
        .add(9, " \n[3 0 R 4 0 R]\n")
        .add(3, page(2))
        .add(4, "<</Type/Pages/Kids 10 0 R>>")
        .add(10, "[5 0 R]")
        .add(5, page(4))
        .add(6, page(2));  // typed a page but in no /Kids
    EXPECT_EQ(pages_of(t), (ints{3, 5}));

    testutil::doc_table not_array;  // the referenced object is no array: nothing, then the fallback
    not_array.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids 9 0 R>>")
        .add(9, "<</A[3 0 R]>>")
        .add(6, page(2))
        .add(3, page(2));
    EXPECT_EQ(pages_of(not_array), (ints{6, 3}));
}

TEST(PageTree, KidTokens) {
    // Generation and R optional, 0 skipped, minus sign stepped over, a
    // number too large for 32 bits passed over.
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[0 0 R 5R -3 0 R\n99999999999 0 R 6 0 R 4294967303]/X[7 0 R]>>")
        .add(3, page(2))
        .add(5, page(2))
        .add(6, page(2))
        .add(7, page(2));
    EXPECT_EQ(pages_of(t), (ints{5, 3, 6}));
}

TEST(PageTree, CatalogChoice) {
    // The last /Root decides; /RootX is another name.
    testutil::doc_table a;
    a.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[3 0 R]>>")
        .add(3, page(2))
        .add(4, "<</Pages 5 0 R>>")
        .add(5, "<</Kids[6 0 R]>>")
        .add(6, page(5));
    page_tree l;
    testutil::set_input(a.doc, "trailer<</Root 1 0 R>> trailer<</Root 4 0 R/RootX 1>>");
    find_page_tree(a.doc, l);
    EXPECT_EQ(l.catalog, 3);
    EXPECT_EQ(l.root, 4);  // untyped, named by /Pages
    EXPECT_EQ(l.type_of(a.doc.objects, a.rec(4)), TYPE_CATALOG);
    EXPECT_NE(l.type_of(a.doc.objects, a.rec(1)), TYPE_CATALOG);

    // /Root names an object without /Pages while another is typed /Catalog.
    testutil::doc_table b;
    b.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[]>>").add(4, "<</Info 1>>");
    testutil::set_input(b.doc, "/Root 4 0 R");
    find_page_tree(b.doc, l);
    EXPECT_EQ(l.catalog, 0);
    EXPECT_NE(l.type_of(b.doc.objects, b.rec(4)), TYPE_CATALOG);

    // /Root names a stream, or a missing object, or is followed by no number.
    for (const char* file : {"/Root 4 0 R", "/Root 9 0 R", "/Root 1 0 R /Root x"}) {
        testutil::doc_table c;
        c.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[]>>").add_stream(4, "<</Pages 2 0 R>>", "");
        testutil::set_input(c.doc, file);
        find_page_tree(c.doc, l);
        EXPECT_EQ(l.catalog, 0) << file;
        EXPECT_NE(l.type_of(c.doc.objects, c.rec(4)), TYPE_CATALOG) << file;
    }

    // Nothing typed /Catalog: /Root's object becomes it whatever its type; no
    // /Pages there, so the root is the first Pages-typed record.
    testutil::doc_table d;
    d.add(1, "<</Type/Page>>").add(2, "<</Type/Pages/Kids[1 0 R]>>");
    testutil::set_input(d.doc, "/Root 1 0 R");
    find_page_tree(d.doc, l);
    EXPECT_EQ(l.catalog, 0);
    EXPECT_EQ(l.type_of(d.doc.objects, d.rec(1)), TYPE_CATALOG);
    EXPECT_EQ(l.root, 1);
}

TEST(PageTree, FallbackAndFailure) {
    testutil::doc_table t;  // no catalog, no Pages node: every page-typed record, table order
    t.add(7, "<</Type/Page>>").add(3, "<</Type/Page>>").add(4, "<</Type/Font>>");
    EXPECT_EQ(pages_of(t, ""), (ints{7, 3}));

    testutil::doc_table none;
    none.add(1, "<</Type/Font>>");
    testutil::analysis l;
    EXPECT_EQ(testutil::message_of(analyze_status(none, l, "")), "failed to find valid pages in 'in.pdf' (found 0)");
}

}  // namespace
