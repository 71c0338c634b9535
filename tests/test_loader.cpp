// The loading steps together: duplicate resolution, files without objects,
// and every corpus file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/input_file.h"
#include "corpus.h"
#include "fixtures.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::load;
using testutil::loaded;
using testutil::scan_only;
using testutil::stream_obj;

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

TEST(Loader, EmptyAndObjectlessFilesHaveNoObjects) {
    testutil::scratch_dir dir;
    std::string in = dir.file("in.pdf");
    for (std::string bytes : {std::string(), std::string("%PDF-1.4\nno objects here\n"),
                              std::string("1 0 obj\n<</Type/XRef/Length 2>>stream\nab\nendstream\nendobj\n"),
                              std::string("0 0 obj\n<<>>\nendobj\n")}) {
        testutil::write_file(in, bytes);
        std::string out = dir.file("out.pdf");
        testutil::write_file(out, "sentinel");
        EXPECT_EQ(morvel_optimize(in.c_str(), out.c_str()), 0);
        EXPECT_EQ(std::string(morvel_last_error()), "no valid PDF objects found in '" + in + "'") << bytes;
        EXPECT_EQ(testutil::read_file(out), "sentinel");
    }
}

TEST(Corpus, EveryFileLoads) {
    std::vector<testutil::manifest_row> rows = testutil::read_manifest();
    if (rows.empty()) GTEST_SKIP() << "no corpus";
    int files = 0;
    for (const testutil::manifest_row& row : rows) {
        std::string name = row.file(), path = row.path();
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
