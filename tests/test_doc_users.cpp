// Who besides the pages uses an object (the catalog's entries, thumbnails,
// the trailer's /Info), and how that places objects: document-level objects
// outside the first page, objects of one later page only when nothing else
// uses them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

using ints = std::vector<int32_t>;
using testutil::pdf_builder;

using testutil::analysed;
using testutil::expect_distinct_numbers;
using testutil::two_pages;

std::string page(int32_t parent, const std::string& extra = "") { return testutil::page_object(parent, extra); }

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
    EXPECT_EQ(a.x.order.page_groups[0], (ints{3, 12}));
    EXPECT_EQ(a.x.order.page_groups[1], (ints{4, 13}));
    EXPECT_EQ(a.others(), (ints{2, 10, 11, 14}));
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
    EXPECT_EQ(a.x.order.page_groups[1], (ints{4, 12, 16}));
    EXPECT_EQ(a.others(), (ints{2, 11, 15, 20, 21}));
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
    EXPECT_EQ(a.x.order.page_groups[0], (ints{3, 10, 11}));
}

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
    EXPECT_EQ(a.users(11), USER_DOCUMENT | USER_OPEN);
    EXPECT_EQ(a.users(19), USER_DOCUMENT);
    EXPECT_EQ(a.users(12), USER_OTHER);
    EXPECT_EQ(a.users(13), USER_OTHER);  // a repeated key is walked again
    EXPECT_EQ(a.users(15), USER_OTHER);
    EXPECT_EQ(a.users(16), USER_OTHER);
    EXPECT_EQ(a.users(17), 0);  // behind a page: the walk stops there
    EXPECT_EQ(a.users(3), 0);
    // Forms and actions are not the first page's: a widget on the first
    // page and its appearance go before /E after the catalog, with the open
    // action; another catalog entry takes an object from the one later page
    // that reaches it, not from the first page.
    EXPECT_EQ(a.x.order.open_objs, (ints{10, 11, 18}));
    EXPECT_EQ(a.x.order.page_groups[0], (ints{3, 15}));
    EXPECT_EQ(a.x.order.page_groups[1], (ints{4, 17}));
    EXPECT_EQ(a.others(), (ints{2, 12, 13, 14, 16, 19, 20}));
    expect_distinct_numbers(a);
}

TEST(Users, AnAnnotatedFirstPageOpensWithTheStructureTreeRoot) {
    // A viewer resolving the first page's annotations reads the structure
    // tree root, its role map and the parent tree's root before it draws;
    // the structure elements and the parent tree's kids wait. The outlines
    // reach the root too (an item's /SE): it still goes with what opening
    // needs, and the outline hint table counts it there.
    auto doc = [](const std::string& first_page) {
        pdf_builder b = two_pages("/StructTreeRoot 10 0 R/Outlines 20 0 R", first_page);
        b.add("<</Type/StructTreeRoot/K 11 0 R/RoleMap 12 0 R/ParentTree 13 0 R/ClassMap<</C 16 0 R>>>>", 10);
        b.add("<</Type/StructElem/S/Document/P 10 0 R/Pg 3 0 R>>", 11);
        b.add("<</Chart/Figure>>", 12);
        b.add("<</Kids[14 0 R]>>", 13);
        b.add("<</Nums[0 15 0 R]/Limits[0 0]>>", 14);
        b.add("<</Type/StructElem/S/Link/P 11 0 R>>", 15);
        b.add("<</A 1>>", 16);
        b.add("<</Type/Annot/Subtype/Link/StructParent 0/Rect[0 0 1 1]>>", 17);
        b.add("<</Type/Outlines/First 21 0 R/Last 21 0 R/Count 1>>", 20);
        b.add("<</Title(x)/Parent 20 0 R/SE 10 0 R>>", 21);
        return analysed(b.build(1));
    };
    {
        analysed a = doc("/Annots[17 0 R]");
        for (int32_t n : {10, 12, 13}) EXPECT_TRUE(a.users(n) & USER_OPEN) << n;
        for (int32_t n : {11, 14, 15, 16}) EXPECT_FALSE(a.users(n) & USER_OPEN) << n;
        EXPECT_EQ(a.x.order.open_objs, (ints{10, 12, 13}));
        EXPECT_EQ(a.x.order.outline_open, (ints{10, 12, 13}));
        EXPECT_EQ(a.x.order.outline_elsewhere, 3);
        expect_distinct_numbers(a);
    }
    analysed plain = doc("");
    EXPECT_FALSE(plain.users(10) & USER_OPEN);
    EXPECT_TRUE(plain.x.order.open_objs.empty());
    EXPECT_EQ(plain.x.order.outline_elsewhere, 0);
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
        EXPECT_EQ(a.x.order.page_groups[1], (ints{4, 11}));
    }
    pdf_builder c = b;
    c.add("<</Type/Catalog/Pages 2 0 R/Extra 12 0 R>>", 1);
    analysed a(c.build(1));
    EXPECT_EQ(a.users(12), USER_OTHER);
    EXPECT_EQ(a.users(10), USER_OTHER);  // through the catalog and the root
    EXPECT_EQ(a.users(11), USER_OTHER);  // and through node 5
    EXPECT_EQ(a.users(4), 0);
    EXPECT_EQ(a.x.order.page_groups[1], ints{4});
    EXPECT_EQ(a.others(), (ints{2, 10, 11, 12}));
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
        EXPECT_EQ(a.doc.trailer.info, 12);
        EXPECT_EQ(a.users(12), USER_OTHER);
        EXPECT_EQ(a.users(13), USER_OTHER);
        EXPECT_EQ(a.users(10), 0);
        EXPECT_EQ(a.x.order.page_groups[1], (ints{4, 11}));
    }
    // An update's trailer names another /Info; the last one with the key
    // decides.
    analysed a(pdf + "trailer\n<< /Size 20 /Info 10 0 R >>\n" + "trailer\n<< /Size 20 >>\n");
    EXPECT_EQ(a.doc.trailer.info, 10);
    EXPECT_EQ(a.users(11), USER_OTHER);
    EXPECT_EQ(a.users(12), 0);
    EXPECT_EQ(a.x.order.page_groups[1], ints{4});
}

}  // namespace
