// The cross-reference chain choosing among duplicate definitions: classic
// sections, streams (plain and compressed with predictors), hybrid files,
// /Prev chains, and damaged chains that are not used at all.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"
#include "load/xref_chain.h"
#include "fixtures.h"

namespace {

struct entry {
    int num;
    long offset;
    char kind;  // 'n' or 'f'
};

std::string classic(const std::vector<entry>& entries, const std::string& trailer) {
    std::string s = "xref\n";
    for (const entry& e : entries) {
        char line[64];
        snprintf(line, sizeof line, "%d 1\n%010ld 00000 %c \n", e.num, e.offset, e.kind);
        s += line;
    }
    return s + "trailer\n" + trailer + "\n";
}

// A file under construction, with the table the scanner would make of it.
struct doc {
    std::string bytes = "%PDF-1.4\n";
    std::vector<pdf_obj> table, xref_streams;

    long object(int num, const std::string& text, int objstm = 0) {
        long at = static_cast<long>(bytes.size());
        bytes += std::to_string(num) + " 0 obj\n" + text + "\nendobj\n";
        pdf_obj r;
        r.num = num;
        r.hdr_pos = static_cast<int32_t>(at);
        r.body = testutil::kept(text);
        table.push_back(r);
        if (objstm) table.back().hdr_pos = -1, table.back().objstm_num = objstm;
        return at;
    }
    // A cross-reference stream object holding `data` after the dictionary `dict`.
    long xref_stream(int num, const std::string& dict, const std::string& data) {
        long at = static_cast<long>(bytes.size());
        bytes += std::to_string(num) + " 0 obj\n";
        std::string body = dict;
        bytes += body + "\nstream\n";
        pdf_obj r;
        r.num = num;
        r.hdr_pos = static_cast<int32_t>(at);
        r.has_stream = 1;
        r.body = testutil::kept(body);
        r.data_pos = static_cast<int32_t>(bytes.size());
        bytes += data;
        r.data_end = static_cast<int32_t>(bytes.size());
        bytes += "\nendstream\nendobj\n";
        xref_streams.push_back(r);
        return at;
    }
    long here() const { return static_cast<long>(bytes.size()); }
    void startxref(long x) { bytes += "startxref\n" + std::to_string(x) + "\n%%EOF\n"; }

    // Winner positions for the given numbers, or {} when the chain is unusable.
    std::vector<int32_t> winners(const std::vector<int32_t>& nums) const {
        input_file in = testutil::input_from(bytes);
        std::vector<pdf_obj> streams = xref_streams;  // their data lies in this copy of the bytes
        for (pdf_obj& r : streams) {
            r.stream = in.data.get() + r.data_pos;
            r.stream_len = static_cast<uint64_t>(r.data_end - r.data_pos);
        }
        std::vector<int32_t> w;
        if (!chain_live_definitions(in, table, streams, nums, w)) return {};
        return w;
    }
};

std::string be(uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; i--) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

TEST(XrefChain, ClassicSectionNamesTheLiveDefinition) {
    doc d;
    long a = d.object(5, "(old)");
    d.object(5, "(stale copy)");
    long x = d.here();
    d.bytes += classic({{5, a, 'n'}}, "<< /Size 6 >>");
    d.startxref(x);
    EXPECT_EQ(d.winners({5}), std::vector<int32_t>{0});
}

TEST(XrefChain, FreeOrUnmatchedEntriesDoNotSettle) {
    doc d;
    long a = d.object(5, "(a)");
    d.object(5, "(b)");
    d.object(7, "(c)");
    d.object(7, "(d)");
    long x = d.here();
    d.bytes += classic({{5, a, 'f'}, {7, a, 'n'}}, "<< /Size 8 >>");  // 7's offset hits object 5
    d.startxref(x);
    EXPECT_EQ(d.winners({5, 7}), (std::vector<int32_t>{-1, -1}));
}

TEST(XrefChain, NewestSectionDecidesAlongPrev) {
    doc d;
    long a = d.object(5, "(a)");
    long b = d.object(5, "(b)");
    long c = d.object(6, "(c)");
    d.object(6, "(d)");
    long old_x = d.here();
    d.bytes += classic({{5, b, 'n'}, {6, c, 'n'}}, "<< /Size 7 >>");
    long new_x = d.here();
    d.bytes += classic({{5, a, 'n'}}, "<< /Size 7 /Prev " + std::to_string(old_x) + " >>");
    d.startxref(new_x);
    // 5: the newest section names a; 6: only the older section names it.
    EXPECT_EQ(d.winners({5, 6}), (std::vector<int32_t>{0, 2}));
}

TEST(XrefChain, PrevLoopEndsTheWalk) {
    doc d;
    long a = d.object(5, "(a)");
    d.object(5, "(b)");
    long x = d.here();
    d.bytes += classic({{5, a, 'n'}}, "<< /Size 6 /Prev " + std::to_string(x) + " >>");
    d.startxref(x);
    EXPECT_EQ(d.winners({5}), std::vector<int32_t>{0});
}

TEST(XrefChain, PlainStreamSection) {
    doc d;
    d.object(5, "(a)");
    long b = d.object(5, "(b)");
    d.object(9, "(in stream 12)", 12);
    d.object(9, "(in stream 13)", 13);
    std::string data = be(1, 1) + be(static_cast<uint32_t>(b), 2) + be(0, 1) + be(2, 1) + be(13, 2) + be(0, 1);
    long x = d.xref_stream(20, "<< /Type /XRef /W [1 2 1] /Index [5 1 9 1] /Size 21 /Length 8 >>", data);
    d.startxref(x);
    EXPECT_EQ(d.winners({5, 9}), (std::vector<int32_t>{1, 3}));
}

TEST(XrefChain, CompressedPredictedStreamSection) {
    doc d;
    long a = d.object(5, "(a)");
    d.object(5, "(b)");
    // Rows of 4 bytes with the PNG Up filter, then zlib.
    std::string rows = be(0, 4) + be(1, 1) + be(static_cast<uint32_t>(a), 2) + be(0, 1);
    std::string filtered;
    std::string prev(4, '\0');
    for (size_t r = 0; r < rows.size(); r += 4) {
        filtered += '\x02';
        for (size_t i = 0; i < 4; i++) filtered += static_cast<char>(rows[r + i] - prev[i]);
        prev = rows.substr(r, 4);
    }
    uLongf zlen = compressBound(filtered.size());
    std::string z(zlen, '\0');
    compress(reinterpret_cast<Bytef*>(z.data()), &zlen, reinterpret_cast<const Bytef*>(filtered.data()),
             filtered.size());
    z.resize(zlen);
    long x = d.xref_stream(20,
                           "<< /Type /XRef /W [1 2 1] /Size 6 /Index [4 2] /Filter /FlateDecode "
                           "/DecodeParms << /Predictor 12 /Columns 4 >> >>",
                           z);
    d.startxref(x);
    EXPECT_EQ(d.winners({5}), std::vector<int32_t>{0});
}

TEST(XrefChain, HybridStreamComesBetweenUsedAndFreeEntries) {
    doc d;
    d.object(5, "(top-level)");
    d.object(5, "(in stream 12)", 12);
    long b = d.object(6, "(b)");
    d.object(6, "(c)");
    std::string data = be(2, 1) + be(12, 2) + be(0, 1) + be(1, 1) + be(0, 2) + be(0, 1);
    long s = d.xref_stream(20, "<< /Type /XRef /W [1 2 1] /Index [5 2] /Size 21 >>", data);
    long x = d.here();
    // 5 is free in the table, the stream names it in object stream 12; the
    // table's in-use entry for 6 comes before the stream's entry for 6.
    d.bytes += classic({{5, 0, 'f'}, {6, b, 'n'}}, "<< /Size 21 /XRefStm " + std::to_string(s) + " >>");
    d.startxref(x);
    EXPECT_EQ(d.winners({5, 6}), (std::vector<int32_t>{1, 2}));
}

TEST(XrefChain, DamageMeansNoChain) {
    auto file_with = [](const std::string& section, bool good_startxref = true) {
        doc d;
        long a = d.object(5, "(a)");
        d.object(5, "(b)");
        long x = d.here();
        std::string s = section;
        for (size_t p; (p = s.find("@A")) != std::string::npos;) s.replace(p, 2, std::to_string(a));
        d.bytes += s;
        d.startxref(good_startxref ? x : 3);
        return d;
    };
    char good_entry[32];
    snprintf(good_entry, sizeof good_entry, "%010d 00000 n \n", 9);
    std::vector<std::string> damaged = {
        "xref\n5 1\n0000000009 00000 n\n\ntrailer\n<< >>\n",         // entry ends "n" LF LF
        "xref\n5 1\n0000000009 00000 x \ntrailer\n<< >>\n",          // neither n nor f
        "xref\n5 2\n0000000009 00000 n \ntrailer\n<< >>\n",          // fewer entries than counted
        "xref\n5 1\n0000000009 00000 n \ntrailer\n",                 // no trailer dictionary
        "xref\n5 1\n0000000009 00000 n \ntrailer\n<< /Prev x >>\n",  // /Prev not an integer
        "xref\n5 1\n0000000009 00000 n \ntrailer\n<< /Prev 99999 >>\n",  // /Prev outside the file
        "xref\n5 1\n0000000009 00000 n \ntrailer\n<< /Prev 20 >>\n",     // /Prev hits no section
        "xref\n-5 1\n0000000009 00000 n \ntrailer\n<< >>\n",
    };
    for (const std::string& s : damaged) EXPECT_TRUE(file_with(s).winners({5}).empty()) << s;
    EXPECT_TRUE(file_with(classic({{5, 9, 'n'}}, "<< >>"), false).winners({5}).empty());

    doc none;
    none.object(5, "(a)");
    none.object(5, "(b)");
    EXPECT_TRUE(none.winners({5}).empty());  // no startxref at all
}

// A tool left a stale object stream after the current top-level object:
// the chain keeps the live one, where the last definition in the file would
// be the stale copy. Without a usable chain the last definition stays.
TEST(XrefChain, LoaderKeepsTheLiveDefinition) {
    std::string head = "%PDF-1.4\n";
    std::string live = "5 0 obj\n(live)\nendobj\n";
    std::string objstm_data = "5 0 (stale)";
    std::string objstm = "10 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length " +
                         std::to_string(objstm_data.size()) + " >>\nstream\n" + objstm_data +
                         "\nendstream\nendobj\n";
    std::string body = head + live + objstm;
    long x = static_cast<long>(body.size());
    std::string with_chain = body + classic({{5, 9, 'n'}}, "<< /Size 11 >>") + "startxref\n" +
                             std::to_string(x) + "\n%%EOF\n";
    std::string broken_chain = body + "startxref\n3\n%%EOF\n";

    auto body_of_5 = [](const std::string& bytes) {
        document doc;
        EXPECT_TRUE(testutil::load_from(doc, bytes).ok());
        const pdf_obj* o = doc.objects.find(5);
        return o ? o->body : std::string("(none)");
    };
    EXPECT_EQ(body_of_5(with_chain), "\n(live)\n");
    EXPECT_EQ(body_of_5(broken_chain), "(stale)");
}

}  // namespace
