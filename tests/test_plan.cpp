// Grouping and numbering: the worked example, who reaches an object and
// where that places it, roots the output cannot keep, the outline run, and
// (through the loader) every corpus file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/input_file.h"
#include "corpus.h"
#include "fixtures.h"
#include "test_util.h"

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

// The objects after the shared ones: the page-tree root (0 for one the
// writer creates), then the other objects in file order.
ints others(const testutil::analysis& a) {
    ints v{a.order.root_old};
    v.insert(v.end(), a.order.other_objs.begin(), a.order.other_objs.end());
    return v;
}

// Each new number below M belongs to one record, one node of the output's
// page tree or the form's fields array, except K, the hint stream's and
// (without a catalog) K + 1.
void expect_one_place_each(const obj_list& objects, const testutil::analysis& l) {
    std::map<int32_t, int32_t> owner;
    for (const pdf_obj& r : objects.items) {
        int32_t n = l.order.new_num[static_cast<size_t>(r.num)];
        if (n == 0) continue;
        EXPECT_TRUE(owner.emplace(n, r.num).second) << "number " << n << " twice";
    }
    for (int32_t i = l.order.root_old == 0 ? 0 : 1; i < static_cast<int32_t>(l.order.tree.nodes.size()); i++) {
        EXPECT_TRUE(owner.emplace(l.order.node_num(i), -1 - i).second) << "node " << i;
    }
    if (l.order.fields_num > 0) {
        EXPECT_TRUE(owner.emplace(l.order.fields_num, 0).second);
    }
    for (int32_t n = 1; n < l.order.number_count(); n++) {
        if (n == l.order.lin_dict_num() || n == l.order.hint_num() || (n == l.order.catalog_num() && l.tree.catalog < 0))
            continue;
        EXPECT_EQ(owner.count(n), 1u) << "number " << n << " unused";
    }
}


// ---------------------------------------------------------------------------
// Files built with the builder, loaded and analysed as the optimizer does it

using testutil::analysed;
using testutil::expect_distinct_numbers;
using testutil::outlined;
using testutil::pdf_builder;
using testutil::two_pages;

int qpdf_pages(const std::string& path) {
    std::string out;
    testutil::run("qpdf --show-npages '" + path + "' 2>/dev/null", &out);
    return out.empty() ? -1 : std::atoi(out.c_str());
}

// Loads the file and analyses it; the page count, or -1 when a phase failed.
int pages_in_file(const std::string& path, std::string& why) {
    document doc;
    testutil::analysis l;
    status s = read_input_file(path.c_str(), doc.input);
    if (s.ok()) s = load_document(doc);
    if (s.ok()) s = testutil::analyze(doc, l);
    if (!s.ok()) {
        why = testutil::message_of(s, path.c_str());
        return -1;
    }
    expect_one_place_each(doc.objects, l);
    return static_cast<int>(l.tree.page_list.size());
}

TEST(PageTree, WorkedExampleGroupsAndNumbers) {
    testutil::doc_table t;
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
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(l.tree.page_list, (ints{3, 5, 8}));
    ASSERT_EQ(l.order.page_groups.size(), 3u);
    EXPECT_EQ(l.order.page_groups[0], (ints{3, 4}));
    EXPECT_EQ(l.order.page_groups[1], (ints{5, 6}));
    EXPECT_EQ(l.order.page_groups[2], (ints{8, 9}));
    EXPECT_EQ(l.order.shared_objs, (ints{7}));
    EXPECT_EQ(others(l), (ints{2, 10}));
    EXPECT_EQ(l.order.rest_objs, (ints{5, 6, 8, 9}));
    // The output's tree ends the objects before K: a node (7) over the
    // first two pages, then the root (8), which holds it and the last page.
    EXPECT_EQ(l.order.tree.nodes.size(), 2u);
    EXPECT_EQ(l.order.node_num(1), 7);
    EXPECT_EQ(l.order.root_num, 8);
    EXPECT_EQ(l.order.lin_num, 9);
    EXPECT_EQ(l.order.max_num, 10);
    EXPECT_EQ(l.tree.catalog, 0);
    EXPECT_EQ(l.tree.root, 1);
    EXPECT_EQ(l.order.new_num, (ints{0, 10, 8, 12, 13, 1, 2, 5, 3, 4, 6}));
}

TEST(Layout, WhoReachesAnObjectDecidesItsPlace) {
    // Six pages; object 20 reached by pages 0 and 3, 21 by 2 and 5, 22 by 4
    // alone, 23 by no page.
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[10 0 R 11 0 R 12 0 R 13 0 R 14 0 R 15 0 R]>>");
    const char* extra[] = {"/A 20 0 R", "", "/A 21 0 R", "/A 20 0 R", "/A 24 0 R/B 22 0 R", "/A 21 0 R"};
    for (int k = 0; k < 6; k++) t.add(10 + k, page(2, extra[k]));
    t.add(20, "<<>>").add(21, "<<>>").add(22, "<<>>").add(23, "<<>>").add(24, "<<>>");
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_EQ(l.order.page_groups[0], (ints{10, 20}));
    EXPECT_EQ(l.order.page_groups[4], (ints{14, 22, 24}));
    EXPECT_EQ(l.order.shared_objs, ints{21});
    EXPECT_EQ(others(l), (ints{2, 23}));
    EXPECT_EQ(l.order.rest_objs, (ints{11, 12, 13, 14, 22, 24, 15}));
    EXPECT_EQ(l.order.new_num[22], 5);
    EXPECT_EQ(l.order.new_num[24], 6);
    EXPECT_EQ(l.order.lin_num, 12);  // 5 later-page objects, 1 shared, root and one node, 23
}

TEST(Layout, OnePageDocument) {
    testutil::doc_table t;
    t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[3 0 R]>>").add(3, page(2, "/C 4 0 R")).add(4, "<<>>").add(5, "<<>>");
    testutil::analysis l;
    ASSERT_TRUE(analyze(t, l));
    EXPECT_TRUE(l.order.rest_objs.empty());
    EXPECT_TRUE(l.order.shared_objs.empty());
    EXPECT_EQ(others(l), (ints{2, 5}));
    EXPECT_EQ(l.order.new_num, (ints{0, 4, 2, 6, 7, 1}));  // the root just before K
}

TEST(Layout, UnusableRootsAndIntermediateNodes) {
    // /Pages names a page directly.
    testutil::doc_table a;
    a.add(1, "<</Type/Catalog/Pages 3 0 R>>").add(3, "<</Type/Page/C 4 0 R>>").add(4, "<<>>").add(5, "<</Type/Pages/Kids[3 0 R]>>");
    testutil::analysis l;
    ASSERT_TRUE(analyze(a, l));
    EXPECT_EQ(l.tree.page_list, ints{3});
    EXPECT_EQ(l.tree.root, -1);
    EXPECT_EQ(others(l), ints{0});
    EXPECT_EQ(l.order.root_num, 1);
    EXPECT_EQ(l.order.new_num[5], 0);  // a Pages node outside the tree has no place either
    expect_one_place_each(a.doc.objects, l);

    // /Pages names the catalog itself.
    testutil::doc_table b;
    b.add(1, "<</Type/Catalog/Pages 1 0 R>>").add(3, "<</Type/Page>>");
    testutil::analysis lb;
    ASSERT_TRUE(analyze(b, lb));
    EXPECT_EQ(lb.tree.root, -1);
    EXPECT_EQ(others(lb), ints{0});
    EXPECT_EQ(lb.order.new_num[1], lb.order.lin_num + 1);
    expect_one_place_each(b.doc.objects, lb);

    // Intermediate nodes and a page listed twice.
    testutil::doc_table c;
    c.add(1, "<</Type/Catalog/Pages 2 0 R>>")
        .add(2, "<</Type/Pages/Kids[4 0 R 3 0 R 4 0 R]>>")
        .add(4, "<</Type/Pages/Parent 2 0 R/Kids[3 0 R 5 0 R]>>")
        .add(3, page(4))
        .add(5, page(4))
        .add(6, "<</Type/Page>>");  // an orphan page
    testutil::analysis lc;
    ASSERT_TRUE(analyze(c, lc));
    EXPECT_EQ(lc.tree.page_list, (ints{3, 5}));
    EXPECT_EQ(lc.tree.root, 1);
    EXPECT_EQ(lc.order.new_num[4], 0);
    EXPECT_EQ(others(lc), (ints{2, 6}));
    expect_one_place_each(c.doc.objects, lc);

    // No catalog and no root at all.
    testutil::doc_table d;
    d.add(3, "<</Type/Page>>").add(5, "<</Type/Page>>");
    testutil::analysis ld;
    ASSERT_TRUE(analyze(d, ld, ""));
    EXPECT_EQ(ld.tree.catalog, -1);
    EXPECT_EQ(ld.tree.root, -1);
    EXPECT_EQ(others(ld), ints{0});
    expect_one_place_each(d.doc.objects, ld);
}

TEST(Layout, ObjectNumbersOutOfRange) {
    for (int32_t top : {8388607, 8388608}) {
        testutil::doc_table t;
        t.add(1, "<</Type/Catalog/Pages 2 0 R>>").add(2, "<</Type/Pages/Kids[3 0 R]>>").add(3, page(2)).add(top, "<<>>");
        testutil::analysis l;
        status s = analyze_status(t, l);
        EXPECT_EQ(s.ok(), top == 8388607);
        EXPECT_EQ(l.order.max_num, top);
        if (!s.ok()) {
            EXPECT_EQ(testutil::message_of(s), "object numbers out of range (max 8388608) in 'in.pdf'");
        }
    }
}

TEST(OutlineRun, FollowsThePageTreeRoot) {
    analysed a(outlined("/Outlines 21 0 R"));
    EXPECT_EQ(a.x.users.outline_root, 21);
    EXPECT_FALSE(a.x.users.use_outlines);
    EXPECT_EQ(a.users(22), USER_OUTLINES);
    EXPECT_EQ(a.refs(22), ints{1});
    EXPECT_EQ(a.x.order.outline_run, (ints{21, 20, 22, 23}));
    EXPECT_TRUE(a.x.order.outline_root_in_run());
    EXPECT_FALSE(a.x.order.outlines_first);
    EXPECT_EQ(a.x.order.page_groups[0], (ints{3, 10}));
    EXPECT_EQ(a.x.order.page_groups[1], ints{4});
    EXPECT_EQ(a.others(), (ints{2, 21, 20, 22, 23, 24}));
    EXPECT_EQ(a.x.order.new_num[21], 2);  // after the second page; the page tree comes last
    EXPECT_EQ(a.x.order.lin_num, 9);
    expect_distinct_numbers(a);
}

TEST(OutlineRun, JoinsTheFirstPageWhenShownFirst) {
    analysed a(outlined("/PageMode/UseOutlines/Outlines 21 0 R/PageMode/UseNone"));
    EXPECT_TRUE(a.x.users.use_outlines);
    EXPECT_TRUE(a.x.order.outlines_first);
    EXPECT_EQ(a.x.order.page_groups[0], (ints{3, 10, 21, 20, 22, 23}));
    EXPECT_EQ(a.others(), (ints{2, 24}));
    EXPECT_EQ(a.x.order.lin_num, 5);
    EXPECT_EQ(a.x.order.new_num[21], 5 + 3 + 2);
    EXPECT_EQ(a.x.order.new_num[23], 5 + 3 + 5);
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
        EXPECT_FALSE(a.x.order.outlines_first) << c.catalog_extra;
        EXPECT_EQ(a.x.order.outline_root_in_run(), a.x.users.outline_root == 21) << c.catalog_extra;
        EXPECT_EQ(a.x.order.page_groups[0], (ints{3, 10})) << c.catalog_extra;
        EXPECT_EQ(a.x.order.page_groups[1], c.later_page) << c.catalog_extra;
        EXPECT_EQ(a.others(), c.other) << c.catalog_extra;
        expect_distinct_numbers(a);
    }
}

TEST(OutlineRun, BeforeACreatedRoot) {
    pdf_builder b;
    b.add("<</Type/Catalog/Pages 3 0 R/Outlines 21 0 R>>", 1);
    b.add("<</Type/Page/Contents 10 0 R>>", 3);
    b.add_stream("", "q Q", 10);
    b.add("<</Type/Outlines/First 22 0 R>>", 21);
    b.add("<</Title(a)/Parent 21 0 R>>", 22);
    analysed a(b.build(1));
    EXPECT_EQ(a.others(), (ints{0, 21, 22}));
    EXPECT_EQ(a.x.order.new_num[21], 1);  // the run first, the created root last
    EXPECT_EQ(a.x.order.root_num, 3);
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
    EXPECT_EQ(a.x.order.outline_run.size(), static_cast<size_t>(n + 1));
}

TEST(Corpus, PageCountsMatchQpdf) {
    // Unencrypted files qpdf reads without complaint about their structure.
    std::vector<std::string> files;
    for (const testutil::manifest_row& row : testutil::read_manifest())
        if (!row.qpdf_errors() && !row.encrypted()) files.push_back(row.file());
    if (files.empty() || !testutil::have_tool("qpdf")) GTEST_SKIP() << "no corpus or no qpdf";
    testutil::scratch_dir dir;
    std::string probe = dir.file("probe.pdf");
    testutil::write_file(probe, testutil::simple_pdf(2));
    std::string why;
    if (pages_in_file(probe, why) != 2) GTEST_SKIP() << "loader not available: " << why;
    int compared = 0;
    for (const std::string& file : files) {
        std::string path = testutil::corpus_dir() + "/" + file;
        int want = qpdf_pages(path);
        if (want < 1) continue;
        EXPECT_EQ(pages_in_file(path, why), want) << file << " " << why;
        compared++;
    }
    EXPECT_GT(compared, 0);
    std::cout << "[ corpus   ] " << compared << " files compared with qpdf\n";
}

}  // namespace
