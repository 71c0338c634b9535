// The entry point with flags and the compact output form on small files
// built here: what each flag changes, what it refuses, and the form's
// fixed points (header, cross-reference streams, object streams, what is
// left out, PDF/A-1 documents kept in the default form). The corpus test
// judges the compact form on real files.
#include <gtest/gtest.h>

#include <string>

#include "fixtures.h"
#include "hostile_pdfs.h"
#include "morvel.h"
#include "test_util.h"

namespace {

using testutil::pdf_builder;
using testutil::read_file;
using testutil::run;
using testutil::scratch_dir;
using testutil::write_file;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Five pages, each with resources, a font and a link of its own, and an
// object that nothing refers to.
std::string five_pages_and_an_orphan(const std::string& header) {
    pdf_builder b;
    std::string kids;
    for (int i = 0; i < 5; i++) kids += std::to_string(10 + 5 * i) + " 0 R ";
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [ " + kids + "] /Count 5 >>", 2);
    b.add("<< /Orphan (nobody refers to me) >>", 4);
    for (int i = 0; i < 5; i++) {
        int page = 10 + 5 * i;
        auto ref = [&](int k) { return std::to_string(page + k) + " 0 R"; };
        b.add_stream("", "BT /F1 24 Tf 72 720 Td (Page " + std::to_string(i + 1) + ") Tj ET", page + 1);
        b.add("<< /Font << /F1 " + ref(3) + " >> /ProcSet [ /PDF /Text ] /ExtGState << >> >>", page + 2);
        b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>", page + 3);
        b.add("<< /Type /Annot /Subtype /Link /Rect [ 72 700 200 730 ] /Border [ 0 0 0 ] /A << /S /URI /URI "
              "(https://example.com/page) >> >>",
              page + 4);
        b.add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + ref(1) + " /Resources " + ref(2) +
                  " /Annots [ " + ref(4) + " ] >>",
              page);
    }
    std::string pdf = b.build(1);
    return header + pdf.substr(pdf.find('\n') + 1);
}

// A one-page document whose XMP metadata names a PDF/A part.
std::string with_pdfa_part(const std::string& part_markup) {
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [ 3 0 R 6 0 R 7 0 R ] /Count 3 >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> >>", 3);
    b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>", 4);
    b.add_stream("/Type /Metadata /Subtype /XML",
                 "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF><rdf:Description " + part_markup +
                     "</rdf:Description></rdf:RDF></x:xmpmeta>",
                 5);
    b.add("<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> >> >>", 6);
    b.add("<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> >> >>", 7);
    return b.build(1);
}

std::string optimized(const std::string& input, unsigned flags, scratch_dir& dir, const char* name) {
    std::string in = dir.file(std::string(name) + ".in.pdf"), out = dir.file(std::string(name) + ".out.pdf");
    write_file(in, input);
    EXPECT_EQ(morvel_optimize_ex(in.c_str(), out.c_str(), flags), 1) << morvel_last_error();
    EXPECT_EQ(morvel_check(out.c_str()), 1) << morvel_last_error();
    if (testutil::have_tool("qpdf")) {
        std::string said;
        run("qpdf --check-linearization " + out + " 2>&1", &said);
        EXPECT_EQ(said, out + ": no linearization errors\n");
    }
    return read_file(out);
}

TEST(OptimizeEx, UnknownFlagsTouchNothing) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, testutil::simple_pdf(2));
    write_file(out, "keep me");
    struct row {
        unsigned flags;
        const char* message;
    };
    for (row r : {row{4u, "unknown flags 0x4"}, row{MORVEL_OBJECT_STREAMS | 0x80000000u, "unknown flags 0x80000000"},
                  row{0xffffffffu, "unknown flags 0xfffffffc"}}) {
        EXPECT_EQ(morvel_optimize_ex(in.c_str(), out.c_str(), r.flags), 0);
        EXPECT_STREQ(morvel_last_error(), r.message);
        EXPECT_EQ(read_file(out), "keep me");
    }
}

TEST(OptimizeEx, SignedDocumentsNeedTheFlag) {
    scratch_dir dir;
    std::string in = dir.file("signed.pdf"), out = dir.file("out.pdf");
    write_file(in, hostile::signed_document(false));
    for (unsigned flags : {0u, unsigned(MORVEL_OBJECT_STREAMS)}) {
        EXPECT_EQ(morvel_optimize_ex(in.c_str(), out.c_str(), flags), 0);
        EXPECT_EQ(std::string(morvel_last_error()),
                  "'" + in + "' is signed: linearizing would invalidate its signatures");
        EXPECT_FALSE(testutil::file_exists(out));
    }
    for (unsigned flags : {unsigned(MORVEL_ALLOW_SIGNED), unsigned(MORVEL_ALLOW_SIGNED | MORVEL_OBJECT_STREAMS)}) {
        ASSERT_EQ(morvel_optimize_ex(in.c_str(), out.c_str(), flags), 1) << morvel_last_error();
        EXPECT_EQ(morvel_check(out.c_str()), 1) << morvel_last_error();
        EXPECT_TRUE(contains(read_file(out), "/Adobe.PPKLite"));
    }
}

TEST(CompactForm, StreamsInPlaceOfTables) {
    scratch_dir dir;
    std::string input = five_pages_and_an_orphan("%PDF-1.3\n");
    std::string plain = optimized(input, 0, dir, "plain");
    std::string compact = optimized(input, MORVEL_OBJECT_STREAMS, dir, "compact");

    EXPECT_EQ(plain.rfind("%PDF-1.4\n", 0), 0u);
    EXPECT_EQ(compact.rfind("%PDF-1.5\n", 0), 0u);
    EXPECT_FALSE(contains(compact, "\nxref\n"));
    EXPECT_FALSE(contains(compact, "trailer"));
    EXPECT_TRUE(contains(compact, "/Type/XRef"));
    EXPECT_TRUE(contains(compact, "/Type/ObjStm"));
    EXPECT_TRUE(contains(plain, "nobody refers to me"));
    EXPECT_FALSE(contains(compact, "nobody refers to me"));
    EXPECT_LT(compact.size(), plain.size());
    if (testutil::have_tool("qpdf")) {
        std::string pages;
        run("qpdf --show-npages " + dir.file("compact.out.pdf"), &pages);
        EXPECT_EQ(pages, "5\n");
    }
}

TEST(CompactForm, KeepsAHigherVersion) {
    scratch_dir dir;
    std::string compact = optimized(five_pages_and_an_orphan("%PDF-1.7\n"), MORVEL_OBJECT_STREAMS, dir, "v17");
    EXPECT_EQ(compact.rfind("%PDF-1.7\n", 0), 0u);
}

TEST(CompactForm, PdfA1DocumentsGetTheDefaultForm) {
    scratch_dir dir;
    struct row {
        const char* markup;
        bool part_one;
    };
    for (row r : {row{"xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/' pdfaid:part=\"1\" pdfaid:conformance='B'>", true},
                  row{"xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/'><pdfaid:part>1</pdfaid:part>", true},
                  row{"xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/' pdfaid:part='2'>", false},
                  row{"xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/'><pdfaid:part>12</pdfaid:part>", false}}) {
        std::string input = with_pdfa_part(r.markup);
        std::string plain = optimized(input, 0, dir, "plain");
        std::string compact = optimized(input, MORVEL_OBJECT_STREAMS, dir, "compact");
        EXPECT_EQ(compact == plain, r.part_one) << r.markup;
    }
}

TEST(Cli, ObjectStreamsOption) {
    scratch_dir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    write_file(in, five_pages_and_an_orphan("%PDF-1.4\n"));
    EXPECT_EQ(run(std::string(MORVEL_CLI) + " optimize --object-streams " + in + " " + out), 0);
    EXPECT_TRUE(contains(read_file(out), "/Type/ObjStm"));
    EXPECT_EQ(run(std::string(MORVEL_CLI) + " optimize --no-such-option " + in + " " + out + " 2>/dev/null"), 2);
}

// Two Pages nodes of 120 pages each, each node with resources of its own
// (another font) that its pages inherit.
std::string two_inheriting_nodes() {
    pdf_builder b;
    const int per_node = 120;
    std::string kids[2];
    int next = 10;
    for (int node = 0; node < 2; node++) {
        for (int i = 0; i < per_node; i++, next += 2) {
            b.add_stream("", "BT /F1 24 Tf 20 100 Td (Hello) Tj ET", next + 1);
            b.add("<< /Type /Page /Parent " + std::to_string(3 + node) + " 0 R /Contents " + std::to_string(next + 1) +
                      " 0 R >>",
                  next);
            kids[node] += std::to_string(next) + " 0 R ";
        }
        b.add("<< /Type /Pages /Parent 2 0 R /Kids [ " + kids[node] + "] /Count " + std::to_string(per_node) +
                  " /Resources " + std::to_string(5 + node) + " 0 R /MediaBox [0 0 200 200] >>",
              3 + node);
        b.add("<< /Font << /F1 " + std::to_string(7 + node) + " 0 R >> >>", 5 + node);
        b.add(std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") + (node ? "Courier" : "Helvetica") + " >>",
              7 + node);
    }
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [ 3 0 R 4 0 R ] /Count " + std::to_string(2 * per_node) + " >>", 2);
    return b.build(1);
}

TEST(CompactForm, ResourcesEveryPageInheritsAreKept) {
    // What each page inherits is part of what the compact form keeps,
    // however many pages came before it (the second node's font was once
    // left out, and its pages written with a null font).
    if (!testutil::have_tool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
    scratch_dir dir;
    std::string in = dir.file("in.pdf"), out = dir.file("out.pdf"), plain = dir.file("plain.pdf");
    write_file(in, two_inheriting_nodes());
    ASSERT_EQ(morvel_optimize_ex(in.c_str(), out.c_str(), MORVEL_OBJECT_STREAMS), 1) << morvel_last_error();
    ASSERT_EQ(run("qpdf --qdf --object-streams=disable " + out + " " + plain + " 2>/dev/null"), 0);
    std::string text = read_file(plain);
    EXPECT_TRUE(contains(text, "/BaseFont /Courier"));
    EXPECT_TRUE(contains(text, "/BaseFont /Helvetica"));
    EXPECT_FALSE(contains(text, "/F1 null"));
}

}  // namespace
