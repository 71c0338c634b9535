// What the input's trailers say and what the output's trailers carry over:
// /Info and /ID from the last dictionary that has them, trailers and
// cross-reference stream dictionaries alike.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "write/xref_sections.h"

namespace {

// A document built by hand, analysed as the optimizer analyses it, with
// the raw input text that trailers and /Root are read from.
struct table_doc {
    testutil::doc_table table;
    document& doc = table.doc;
    std::string text;
    testutil::analysis an;

    void add(int32_t num, const std::string& body) { table.add(num, body); }
    void add_stream(int32_t num, const std::string& dict, const std::string& bytes) {
        table.add_stream(num, dict, bytes);
    }
    void set_input(const std::string& bytes) { text = bytes; }
    bool analyze() { return table.analyze(an, text).ok(); }
    int32_t nn(int32_t old_num) const { return an.nn(old_num); }
};

// Trailer entries carried into the output.
struct extras_case {
    const char* input;
    int32_t info;  // old number expected, 0 for none
    const char* id;
};

TEST(TrailerFacts, InfoAndIdFromTheLastDictionaryHavingThem) {
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
        trailer_extras e = find_trailer_extras(d.doc, d.an.order);
        EXPECT_EQ(e.info, c.info ? d.nn(c.info) : 0) << c.input;
        EXPECT_EQ(e.id, c.id) << c.input;
    }
}

TEST(TrailerFacts, CrossReferenceStreamDictionariesCount) {
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
    trailer_extras e = find_trailer_extras(d.doc, d.an.order);
    EXPECT_EQ(e.info, d.nn(6));
    EXPECT_EQ(e.id, "[<01><02>]");
}

}  // namespace
