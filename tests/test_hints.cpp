// The hint tables: exact bytes of small cases, shared object identifiers,
// the outline hint table, and qpdf's reading of both outline placements.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fixtures.h"
#include "morvel.h"
#include "test_util.h"
#include "write/hints.h"

namespace {

using testutil::analysed;
using testutil::outlined;

std::string hex(const std::vector<uint8_t>& b, size_t from, size_t to) {
    std::string s;
    char t[3];
    for (size_t i = from; i < to && i < b.size(); i++) {
        snprintf(t, sizeof t, "%02X", b[i]);
        s += t;
    }
    return s;
}

// A plan given directly: one list of old numbers per page, the shared
// objects, which pages reach each object, and the length each object's
// slot gets.
struct hint_case {
    document doc;
    attribution reach;
    plan order;
    std::vector<out_slot> slots;

    void build(const std::vector<std::vector<int32_t>>& pages, const std::vector<int32_t>& shared,
               const std::vector<std::pair<int32_t, std::vector<int32_t>>>& reached,
               const std::vector<size_t>& lengths) {
        int32_t max_num = 0;
        for (auto& [num, refs] : reached) max_num = std::max(max_num, num);
        order.max_num = max_num;
        order.new_num.assign(static_cast<size_t>(max_num) + 1, 0);
        for (const auto& g : pages) order.page_groups.push_back(g);
        for (size_t k = 1; k < pages.size(); k++)
            order.rest_objs.insert(order.rest_objs.end(), pages[k].begin(), pages[k].end());
        order.shared_objs = shared;
        int32_t counter = 1;
        for (int32_t o : order.rest_objs) order.new_num[static_cast<size_t>(o)] = counter++;
        for (int32_t o : shared) order.new_num[static_cast<size_t>(o)] = counter++;
        order.lin_num = counter;
        for (size_t i = 0; i < pages[0].size(); i++)
            order.new_num[static_cast<size_t>(pages[0][i])] = counter + 3 + static_cast<int32_t>(i);
        for (auto& [num, refs] : reached) {
            pdf_obj o;
            o.num = num;
            o.body = "<< >>";
            doc.objects.items.push_back(o);
            // Equal sets are one set, as the page walks make them.
            auto same = std::find(reach.sets.begin(), reach.sets.end(), refs);
            reach.set_of.push_back(static_cast<int32_t>(same - reach.sets.begin()));
            if (same == reach.sets.end()) reach.sets.push_back(refs);
        }
        doc.objects.build_index();
        order.first_groups.assign(pages[0].size(), 1);
        order.shared_groups.assign(shared.size(), 1);
        int32_t start = 1;
        order.page_start.assign(pages.size() + 1, 0);
        for (size_t k = 1; k < pages.size(); k++) {
            order.page_start[k] = start;
            start += static_cast<int32_t>(pages[k].size());
        }
        order.page_start[pages.size()] = start;
        for (int32_t o : shared) order.shared_units.push_back({order.new_num[static_cast<size_t>(o)], {o}});
        slots.resize(static_cast<size_t>(order.number_count()));
        for (size_t i = 0; i < reached.size(); i++) {
            int32_t n = order.new_num[static_cast<size_t>(reached[i].first)];
            slots[static_cast<size_t>(n)].head.assign(lengths[i], 'x');
        }
    }
};

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

struct hinted {
    std::vector<text_store> texts;
    std::vector<out_slot> slots;
    std::vector<uint8_t> tables;
    size_t s = 0, o = 0;
    std::string dict;  // the hint stream's dictionary
    size_t packed = 0;  // its compressed data's length

    hinted(const analysed& a, int32_t hint_pos) {
        const testutil::analysis& l = a.x;
        slots = serialize_objects(a.doc, l.tree, l.order, texts);
        tables = hint_table_bytes(a.doc, l.reach, l.order, slots, hint_pos, &s, &o);
        EXPECT_TRUE(build_hint_stream(a.doc, l.reach, l.order, slots, hint_pos).ok());
        const std::string& head = slots[static_cast<size_t>(l.order.hint_num())].head;
        dict = head.substr(head.find("<<"), head.find(">>") + 2 - head.find("<<"));
        size_t data_at = head.find(">>\nstream\n") + 10;
        packed = head.size() - data_at - STREAM_TAIL_LEN;
        // The whole table data is compressed once, outline table included.
        std::vector<uint8_t> back(tables.size() + 1);
        uLongf back_len = back.size();
        EXPECT_EQ(uncompress(back.data(), &back_len, reinterpret_cast<const Bytef*>(head.data() + data_at), packed),
                  Z_OK);
        back.resize(back_len);
        EXPECT_TRUE(back == tables);
    }
    uint32_t len(const analysed& a, int32_t old_num) const {
        return static_cast<uint32_t>(slots[static_cast<size_t>(a.x.nn(old_num))].len());
    }
};

// "name: value" lines of one section of qpdf --show-linearization.
std::map<std::string, long> shown_section(const std::string& text, const std::string& title) {
    std::map<std::string, long> out;
    size_t p = text.find(title);
    if (p == std::string::npos) return out;
    for (size_t e; (e = text.find('\n', p)) != std::string::npos; p = e + 1) {
        std::string line = text.substr(p, e - p);
        size_t colon = line.find(": ");
        if (colon != std::string::npos && line[0] != ' ') out[line.substr(0, colon)] = atol(line.c_str() + colon + 2);
    }
    return out;
}

TEST(Hints, OnePageThreeObjectsExactBytes) {
    hint_case c;
    c.build({{10, 11, 12}}, {}, {{10, {0}}, {11, {0}}, {12, {0}}}, {100, 40, 60});
    size_t s = 0;
    std::vector<uint8_t> b = hint_table_bytes(c.doc, c.reach, c.order, c.slots, 500, &s);
    EXPECT_EQ(s, 36u);
    ASSERT_EQ(b.size(), 64u);
    EXPECT_EQ(hex(b, 0, 36),
              "00000003" "000001F4" "0000" "000000C8" "0000" "00000000" "0000" "000000C8" "0000"
              "0000" "0002" "0000" "0004");
    EXPECT_EQ(hex(b, 36, 64),
              "00000000" "00000000" "00000003" "00000003" "0000" "00000028" "0006" "F00500" "00");
}

TEST(Hints, SharedIdentifiersPerPageInTableOrder) {
    // Pages 0..2 of two objects each, all 10 bytes; shared objects 7 and 8.
    // Page 2 reaches the first page's page object (identifier 0) and both
    // shared objects (F + 0, F + 1); page 1 reaches shared object 7.
    hint_case c;
    c.build({{1, 2}, {3, 4}, {5, 6}}, {7, 8},
            {{1, {0, 2}}, {2, {0}}, {3, {1}}, {4, {1}}, {5, {2}}, {6, {2}}, {7, {1, 2}}, {8, {2}}},
            {10, 10, 10, 10, 10, 10, 10, 10});
    size_t s = 0;
    std::vector<uint8_t> b = hint_table_bytes(c.doc, c.reach, c.order, c.slots, 1000, &s);
    EXPECT_EQ(hex(b, 28, 32), "00020003");  // bits for counts 2, identifiers 3 (F+S = 4)
    // Counts 0, 1, 3 in 2 bits; then identifiers 2 | 0, 2, 3 in 3 bits.
    EXPECT_EQ(hex(b, 36, 39), "1C4130");
    EXPECT_EQ(s, 39u);
    // First shared object: new number 5, after the first page (20 bytes) and
    // pages 2 and 3 (40 bytes).
    EXPECT_EQ(hex(b, 39, 47), "00000005" "00000424");
    EXPECT_EQ(hex(b, 47, 55), "00000002" "00000004");
}

TEST(Hints, EqualPagesNeedNoPerPageBits) {
    hint_case c;
    c.build({{1, 2}, {3, 4}}, {}, {{1, {0}}, {2, {0}}, {3, {1}}, {4, {1}}}, {7, 9, 7, 9});
    size_t s = 0;
    std::vector<uint8_t> b = hint_table_bytes(c.doc, c.reach, c.order, c.slots, 300, &s);
    EXPECT_EQ(s, 36u);  // object counts, lengths and references all constant
}

TEST(OutlineHints, TableFollowsTheSharedObjectTable) {
    for (const char* mode : {"", "/PageMode/UseOutlines"}) {
        analysed a(outlined(std::string(mode) + "/Outlines 21 0 R"));
        hinted h(a, 1000);
        ASSERT_GT(h.o, h.s) << mode;
        ASSERT_EQ(h.tables.size(), h.o + 16) << mode;
        EXPECT_EQ(h.dict, "<< /Filter /FlateDecode /S " + std::to_string(h.s) + " /O " + std::to_string(h.o) +
                              " /Length " + std::to_string(h.packed) + " >>")
            << mode;
        // Written before the root: the first page's objects, and without
        // /UseOutlines also the second page (the page tree comes last).
        uint32_t before = h.len(a, 3) + h.len(a, 10);
        if (!*mode) before += h.len(a, 4);
        uint32_t run = h.len(a, 21) + h.len(a, 20) + h.len(a, 22) + h.len(a, 23);
        EXPECT_EQ(be32(h.tables, h.o), static_cast<uint32_t>(a.x.nn(21))) << mode;
        EXPECT_EQ(be32(h.tables, h.o + 4), 1000 + before) << mode;
        EXPECT_EQ(be32(h.tables, h.o + 8), 4u) << mode;
        EXPECT_EQ(be32(h.tables, h.o + 12), run) << mode;
    }
}

TEST(OutlineHints, NoTableWithoutTheRootInTheRun) {
    for (const char* extra : {"", "/Outlines<</First 20 0 R>>", "/Outlines 99 0 R"}) {
        analysed a(outlined(extra));
        hinted h(a, 1000);
        EXPECT_EQ(h.o, 0u) << extra;
        EXPECT_EQ(h.dict, "<< /Filter /FlateDecode /S " + std::to_string(h.s) + " /Length " +
                              std::to_string(h.packed) + " >>")
            << extra;
    }
}

TEST(OutlineHints, QpdfAcceptsBothPlacements) {
    if (!testutil::have_tool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
    for (const char* mode : {"", "/PageMode/UseOutlines"}) {
        testutil::scratch_dir dir;
        std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
        testutil::write_file(in, outlined(std::string(mode) + "/Outlines 21 0 R"));
        ASSERT_EQ(morvel_optimize(in.c_str(), out.c_str()), 1) << morvel_last_error();
        std::string report;
        testutil::run("qpdf --check-linearization " + out + " 2>&1", &report);
        EXPECT_EQ(report, out + ": no linearization errors\n") << mode;
        testutil::run("qpdf --show-linearization " + out + " 2>&1", &report);
        std::map<std::string, long> outline = shown_section(report, "Outlines Hint Table");
        std::map<std::string, long> top = shown_section(report, "linearization data");
        // qpdf shows locations with the hint stream added back: where the
        // file has the root.
        std::string file = testutil::read_file(out);
        size_t at = static_cast<size_t>(outline["first_object_offset"]);
        EXPECT_EQ(file.compare(at, std::to_string(outline["first_object"]).size() + 6,
                               std::to_string(outline["first_object"]) + " 0 obj"),
                  0)
            << mode;
        EXPECT_EQ(outline["nobjects"], 4) << mode;
        EXPECT_EQ(file.find("/Outlines " + std::to_string(outline["first_object"]) + " 0 R") != std::string::npos, true)
            << mode;
        if (*mode) {
            EXPECT_EQ(at + static_cast<size_t>(outline["group_length"]), static_cast<size_t>(top["first_page_end"]));
        }
    }
}

}  // namespace
