// The layout of whole outputs: the fixed points of the file, every
// cross-reference entry pointing at its object, the trailers' entries, and
// the 2 GiB limit.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <string>

#include "base/input_file.h"
#include "fixtures.h"
#include "morvel.h"
#include "test_util.h"
#include "analyze/page_nodes.h"
#include "write/file_image.h"
#include "write/hints.h"

namespace {

using testutil::pdf_builder;
using testutil::read_file;
using testutil::scratch_dir;
using testutil::write_file;

// The integer after the first "/key " in text, or -1.
long value_after(const std::string& text, const std::string& key) {
    size_t p = text.find(key + " ");
    if (p == std::string::npos) return -1;
    return strtol(text.c_str() + p + key.size() + 1, nullptr, 10);
}

// Object number of the "N 0 obj" header at offset, or -1.
long object_at(const std::string& file, long offset) {
    if (offset < 0 || static_cast<size_t>(offset) >= file.size()) return -1;
    std::cmatch m;
    static const std::regex head("^(\\d+) 0 obj\\n");
    if (!std::regex_search(file.c_str() + offset, m, head)) return -1;
    return strtol(m[1].first, nullptr, 10);
}

// Every cross-reference entry of a section starting at offset: number -> offset.
std::map<long, long> section_entries(const std::string& file, size_t at) {
    std::map<long, long> out;
    long first = 0, count = 0;
    if (sscanf(file.c_str() + at, "xref\n%ld %ld\n", &first, &count) != 2) return out;
    size_t p = file.find('\n', file.find('\n', at) + 1) + 1;
    for (long i = 0; i < count; i++, p += 20) out[first + i] = strtol(file.c_str() + p, nullptr, 10);
    return out;
}

struct optimized {
    std::string in, out, bytes;
};

optimized optimize_text(const scratch_dir& dir, const std::string& pdf) {
    optimized o{dir.file("in.pdf"), dir.file("out.pdf"), ""};
    write_file(o.in, pdf);
    EXPECT_EQ(morvel_optimize(o.in.c_str(), o.out.c_str()), 1) << morvel_last_error();
    EXPECT_STREQ(morvel_last_error(), "");
    o.bytes = read_file(o.out);
    return o;
}

TEST(FileImage, FixedPointsOfTheLayout) {
    scratch_dir dir;
    optimized o = optimize_text(dir, testutil::simple_pdf(3));
    const std::string& f = o.bytes;
    ASSERT_GT(f.size(), 300u);
    EXPECT_EQ(f.substr(0, 15), "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    long k = object_at(f, 15);
    ASSERT_GT(k, 0);
    EXPECT_EQ(f[270], '\n');
    EXPECT_EQ(f.compare(271, 5, "xref\n"), 0);
    std::map<long, long> first = section_entries(f, 271);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.begin()->first, k);
    EXPECT_EQ(f.substr(f.find('\n', 276) + 1, 20), "0000000015 00000 n \n");

    std::string lin = f.substr(15, 256);
    EXPECT_EQ(value_after(lin, "/L"), static_cast<long>(f.size()));
    EXPECT_EQ(value_after(lin, "/O"), k + 3);
    EXPECT_EQ(value_after(lin, "/N"), 3);
    long hint = value_after(lin, "/H [");
    EXPECT_EQ(object_at(f, hint), k + 2);
    // The catalog directly follows the first-page section's "%%EOF".
    long catalog = first[k + 1];
    EXPECT_EQ(f.compare(static_cast<size_t>(catalog) - 6, 6, "%%EOF\n"), 0);
    EXPECT_EQ(object_at(f, catalog), k + 1);
    // /E is just past the first page's objects: the next object is number 1.
    long e = value_after(lin, "/E");
    EXPECT_EQ(object_at(f, e), 1);
    // /T is the line feed before the main section's first entry.
    long t = value_after(lin, "/T");
    EXPECT_EQ(f.compare(static_cast<size_t>(t), 21, "\n0000000000 65535 f \n"), 0);
    EXPECT_EQ(f.substr(f.size() - 23), ">>\nstartxref\n271\n%%EOF\n");

    // Every entry of both sections points at its object.
    size_t main_at = static_cast<size_t>(t) - (std::string("xref\n0 ") + std::to_string(k)).size();
    std::map<long, long> entries = section_entries(f, main_at);
    entries.insert(first.begin(), first.end());
    EXPECT_EQ(entries.size(), static_cast<size_t>(k) + first.size());
    EXPECT_EQ(entries.rbegin()->first + 1, static_cast<long>(entries.size()));  // numbers 0..M-1
    entries.erase(0);
    for (auto [num, off] : entries) EXPECT_EQ(object_at(f, off), num) << "object " << num;
    EXPECT_EQ(morvel_check(o.out.c_str()), 1) << morvel_last_error();
}

TEST(FileImage, TrailersCarryInfoAndId) {
    scratch_dir dir;
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>", 3);
    b.add("<< /Title (Doc) >>", 4);
    optimized o = optimize_text(dir, b.build(1, " /Info 4 0 R /ID [<0102><0304>]"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(o.bytes, m, std::regex("trailer << /Root (\\d+) 0 R /Info (\\d+) 0 R /Size \\d+ /Prev \\d{10} /ID \\[<0102><0304>\\] >>")));
    std::string info = m[2];
    EXPECT_NE(o.bytes.find("trailer << /Size " + std::to_string(std::stol(m[1]) - 1) + " /Root " +
                           std::string(m[1]) + " 0 R /Info " + info + " 0 R /ID [<0102><0304>] >>"),
              std::string::npos);
    EXPECT_NE(o.bytes.find("\n" + info + " 0 obj\n<< /Title (Doc) >>"), std::string::npos);
}

TEST(FileImage, HeaderKeepsVersionsAbove14) {
    // The output keeps the input's features, so it keeps the version that
    // declares them; the header's length (and every offset) stays the same.
    struct { std::string head, want; } cases[] = {
        {"%PDF-1.7", "%PDF-1.7\n"}, {"%PDF-2.0", "%PDF-2.0\n"}, {"%PDF-1.3", "%PDF-1.4\n"},
        {"%PDF-1.4", "%PDF-1.4\n"}, {"%PDF-1.10", "%PDF-1.4\n"}, {"%PDF-x.y", "%PDF-1.4\n"},
        {"junk\n%PDF-1.6", "%PDF-1.6\n"},
    };
    for (const auto& c : cases) {
        scratch_dir dir;
        std::string pdf = testutil::simple_pdf(2);
        optimized o = optimize_text(dir, c.head + pdf.substr(8));
        EXPECT_EQ(o.bytes.substr(0, 9), c.want) << c.head;
        EXPECT_EQ(o.bytes.substr(15, 20).find(" 0 obj"), 1u) << c.head;
    }
}

TEST(FileImage, OutputsOfTwoGibibytesAreRefused) {
    // A stream claiming 2 GiB of data: the layout fails before any byte is
    // written, and the data itself is never touched.
    scratch_dir dir;
    std::string in = dir.file("in.pdf");
    write_file(in, testutil::simple_pdf(1));
    document doc;
    testutil::analysis a;
    ASSERT_TRUE(read_input_file(in.c_str(), doc.input).ok());
    ASSERT_TRUE(load_document(doc).ok());
    ASSERT_TRUE(testutil::analyze(doc, a).ok());
    for (pdf_obj& rec : doc.objects.items)
        if (rec.has_stream) rec.stream_len = 1ull << 31;
    std::vector<text_store> texts;
    std::vector<out_slot> slots = serialize_objects(doc, a.tree, a.order, texts);
    trailer_extras extras = find_trailer_extras(doc, a.order);
    front_offsets front;
    ASSERT_TRUE(place_front(a.order, slots, extras, front).ok());
    ASSERT_TRUE(build_hint_stream(doc, a.reach, a.order, slots, front.hint_pos).ok());
    file_image image;
    status s = lay_out_file(a.tree, a.order, slots, extras, front, doc.version, image);
    EXPECT_EQ(testutil::message_of(s, in.c_str()), "linearized output of '" + in + "' would exceed 2 GiB");
}

}  // namespace

namespace {

// Offset of the object whose text (after its header) starts with marker...
// anywhere in its first line: the first header before the marker.
long object_holding(const std::string& file, const std::string& marker) {
    size_t m = file.find(marker);
    if (m == std::string::npos) return -1;
    size_t h = file.rfind(" 0 obj\n", m);
    if (h == std::string::npos) return -1;
    size_t start = file.rfind('\n', h);
    return start == std::string::npos ? 0 : static_cast<long>(start + 1);
}

bool qpdf_silent(const std::string& path) {
    if (!testutil::have_tool("qpdf")) return true;
    std::string report;
    testutil::run("qpdf --check-linearization " + path + " 2>&1", &report);
    return report == path + ": no linearization errors\n";
}

// A form: page 1 (object 3) takes its resources from the form's /DR (object
// 11) and shows field widget 20; page 5 (object 7) shows widget 21 and uses
// the font 10 of /DR too.
std::string form_pdf() {
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R /AcroForm 12 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 /MediaBox [0 0 200 200] >>", 2);
    b.add("<< /Type /Page /Parent 2 0 R /Resources 11 0 R /Contents 13 0 R /Annots [20 0 R] >>", 3);
    for (int n : {4, 5, 6}) b.add("<< /Type /Page /Parent 2 0 R >>", n);
    b.add("<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 10 0 R >> >> /Annots [21 0 R] >>", 7);
    b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Name /MarkerFont >>", 10);
    b.add("<< /Font << /Helv 10 0 R >> /MarkerResources true >>", 11);
    b.add("<< /Fields [20 0 R 21 0 R] /DR 11 0 R /DA (/Helv 0 Tf 0 g) /MarkerForm true >>", 12);
    b.add_stream("", "BT /Helv 12 Tf 10 10 Td (one) Tj ET", 13);
    b.add("<< /Type /Annot /Subtype /Widget /FT /Tx /T (first) /Rect [0 0 50 20] /P 3 0 R /MarkerFirst 1 >>", 20);
    b.add("<< /Type /Annot /Subtype /Widget /FT /Tx /T (fifth) /Rect [0 0 50 20] /P 7 0 R /MarkerFifth 1 >>", 21);
    return b.build(1);
}

TEST(FileImage, FirstPageCompleteBeforeE) {
    scratch_dir dir;
    optimized o = optimize_text(dir, form_pdf());
    const std::string& f = o.bytes;
    long e = value_after(f.substr(15, 256), "/E");
    std::map<long, long> first = section_entries(f, 271);
    auto in_first_part = [&](const std::string& marker) {
        long at = object_holding(f, marker);
        long num = object_at(f, at);
        return at > 0 && at < e && first.count(num) && first[num] == at;
    };
    // The font and the resources page 1 shares with the form, the form
    // itself and page 1's widget: all before /E, all in the first section.
    for (const char* m : {"/MarkerFont", "/MarkerResources", "/MarkerForm", "/MarkerFirst"})
        EXPECT_TRUE(in_first_part(m)) << m;
    // The widget only page 5 shows is not needed to open the document.
    EXPECT_GT(object_holding(f, "/MarkerFifth"), e);
    // The form dictionary comes right after the catalog, before the hint stream.
    long hint = value_after(f.substr(15, 256), "/H [");
    EXPECT_LT(object_holding(f, "/MarkerForm"), hint);
    EXPECT_TRUE(qpdf_silent(o.out));
}

TEST(FileImage, BalancedTreeForAFlatInput) {
    const int pages = 10000;
    pdf_builder b;
    std::string kids;
    for (int i = 0; i < pages; i++) kids += std::to_string(3 + i) + " 0 R ";
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
              " /MediaBox [0 0 300 400] /Rotate 90 /Resources << /Font << /F1 " + std::to_string(3 + pages) +
              " 0 R >> >> >>",
          2);
    for (int i = 0; i < pages; i++) b.add("<< /Type /Page /Parent 2 0 R >>", 3 + i);
    b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>", 3 + pages);
    scratch_dir dir;
    optimized o = optimize_text(dir, b.build(1));
    const std::string& f = o.bytes;

    // Every page keeps what it inherited and names a parent; nodes hold at
    // most PAGE_FANOUT children.
    std::map<long, std::string> dicts;  // number -> text of every object
    static const std::regex obj("(\\d+) 0 obj\\n(<<[^\\n]*>>)\\nendobj");
    for (auto it = std::sregex_iterator(f.begin(), f.end(), obj); it != std::sregex_iterator(); ++it)
        dicts[std::stol((*it)[1])] = (*it)[2];
    int seen_pages = 0;
    std::map<long, long> parent;
    for (const auto& [num, text] : dicts) {
        long p = value_after(text, "/Parent");
        if (text.find("/Type /Page ") != std::string::npos || text.rfind("<< /Type /Page /", 0) == 0) {
            seen_pages++;
            EXPECT_NE(text.find("/MediaBox [0 0 300 400]"), std::string::npos) << text;
            EXPECT_NE(text.find("/Rotate 90"), std::string::npos) << text;
            EXPECT_NE(text.find("/Resources << /Font << /F1 "), std::string::npos) << text;
        } else if (text.find("/Type /Pages") != std::string::npos) {
            size_t open = text.find('['), close = text.find(']');
            long kids_n = 0;
            for (size_t i = open; i < close; i++) kids_n += text[i] == 'R';
            EXPECT_LE(kids_n, PAGE_FANOUT) << text;
        } else {
            continue;
        }
        parent[num] = p;
    }
    EXPECT_EQ(seen_pages, pages);
    // No page deeper than the fan-out implies: 8^5 >= 10000.
    int deepest = 0;
    for (const auto& [num, p] : parent) {
        int depth = 0;
        for (long at = num; parent.count(at) && parent[at] > 0 && depth < 100; at = parent[at]) depth++;
        deepest = std::max(deepest, depth);
    }
    EXPECT_EQ(deepest, 5);
    EXPECT_TRUE(qpdf_silent(o.out));
    if (testutil::have_tool("qpdf")) {
        std::string n;
        testutil::run("qpdf --show-npages " + o.out, &n);
        EXPECT_EQ(n, std::to_string(pages) + "\n");
    }
}

}  // namespace
