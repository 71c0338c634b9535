// Streams whose /Length is a reference: look-alike objects inside their
// data are skipped once the length is known, through the cross-reference
// chain or a length object defined once outside every known data range.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures.h"
#include "load/stream_bounds.h"

namespace {

using testutil::load;

// Data that holds a look-alike page object and a look-alike stream end.
const std::string kData = "q\n1 0 obj <</Type/Page>> endobj\nendstream\nendobj\n2 0 obj (junk) endobj\nQ";

struct file_parts {
    std::string text;
    std::vector<std::pair<int, size_t>> offsets;  // real objects only

    void object(int num, const std::string& body) {
        offsets.push_back({num, text.size()});
        text += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    // A classic cross-reference section for the real objects, numbers 0..8.
    std::string with_xref() const {
        std::string out = text;
        size_t at = out.size();
        out += "xref\n0 9\n0000000000 65535 f \n";
        for (int n = 1; n < 9; n++) {
            size_t off = 0;
            for (auto& [num, o] : offsets)
                if (num == n) off = o;
            char line[24];
            snprintf(line, sizeof line, off ? "%010zu 00000 n \n" : "%010zu 65535 f \n", off);
            out += line;
        }
        return out + "trailer\n<</Size 9>>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
    }
};

std::string data_of(bool fake_length) {
    std::string data = kData;
    if (fake_length) data.append("\n7 0 obj 3 endobj\n");
    return data;
}

// Stream 6 with /Length 7 0 R and kData, then its length object 7;
// fake_length puts a second "7 0 obj" inside the data.
file_parts stream_with_referenced_length(bool fake_length) {
    std::string data = data_of(fake_length);
    file_parts f;
    f.object(5, "<</Type/Catalog>>");
    f.object(6, "<</Length 7 0 R>>stream\n" + data + "\nendstream");
    f.object(7, std::to_string(data.size()));
    return f;
}

std::vector<int32_t> sorted_nums(const testutil::loaded& r) {
    std::vector<int32_t> v = r.nums();
    std::sort(v.begin(), v.end());
    return v;
}

TEST(StreamBounds, LookAlikesInsideReferencedLengthDataAreNoObjects) {
    struct {
        const char* name;
        bool fake_length;
        bool xref;
        bool data_intact;
    } cases[] = {
        {"length object defined once, no chain", false, false, true},
        {"length object located by the chain", false, true, true},
        {"a fake length object inside the data; the chain names the real one", true, true, true},
        // Two definitions and no chain: no usable length, the keyword rules stay.
        {"a fake length object inside the data, no chain", true, false, false},
    };
    for (const auto& c : cases) {
        file_parts f = stream_with_referenced_length(c.fake_length);
        auto r = load(c.xref ? f.with_xref() : f.text);
        ASSERT_TRUE(r.ok) << c.name;
        if (c.data_intact) {
            EXPECT_EQ(sorted_nums(r), (std::vector<int32_t>{5, 6, 7})) << c.name;
            std::string data = data_of(c.fake_length);
            EXPECT_EQ(r.data(6), data) << c.name;
            std::string length_body = std::to_string(data.size());
            length_body.insert(length_body.begin(), '\n');
            length_body.push_back('\n');
            EXPECT_EQ(r.get(7)->body, length_body) << c.name;
        } else {
            EXPECT_NE(r.get(1), nullptr) << c.name;
        }
    }
}

TEST(StreamBounds, NothingChangesWhenTheLengthAgrees) {
    file_parts f;
    f.object(6, "<</Length 7 0 R>>stream\nplain data\nendstream");
    f.object(7, "10");
    document doc;
    doc.input = testutil::input_from(f.text);
    scan_objects(doc.input, doc.objects.items);
    EXPECT_TRUE(referenced_stream_lengths(doc.input, doc.objects.items).empty());
}

TEST(StreamBounds, StreamsInsideKnownDataAreNotBounded) {
    // A look-alike stream with a referenced length inside a stream with a
    // direct one: the inner one is junk and bounds nothing.
    std::string inner = "8 0 obj <</Length 9 0 R>>stream\nabc\nendstream endobj";
    file_parts f;
    f.object(6, "<</Length " + std::to_string(inner.size()) + ">>stream\n" + inner + "\nendstream");
    f.object(9, "99");
    document doc;
    doc.input = testutil::input_from(f.text);
    scan_objects(doc.input, doc.objects.items);
    EXPECT_TRUE(referenced_stream_lengths(doc.input, doc.objects.items).empty());
    auto r = load(f.text);
    EXPECT_EQ(sorted_nums(r), (std::vector<int32_t>{6, 9}));
}

}  // namespace
