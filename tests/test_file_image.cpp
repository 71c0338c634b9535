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
    std::vector<out_slot> slots = serialize_objects(doc, a.tree, a.order);
    trailer_extras extras = find_trailer_extras(doc, a.order);
    front_offsets front;
    ASSERT_TRUE(place_front(a.order, slots, extras, front).ok());
    ASSERT_TRUE(build_hint_stream(doc, a.reach, a.order, slots, front.hint_pos).ok());
    file_image image;
    status s = lay_out_file(a.tree, a.order, slots, extras, front, image);
    EXPECT_EQ(testutil::message_of(s, in.c_str()), "linearized output of '" + in + "' would exceed 2 GiB");
}

}  // namespace
