// Fixtures shared by the tests: PDF files built from object texts,
// documents from bytes or from hand-made tables, the analysis run as the
// optimizer runs it, and the message a failure would give.
#ifndef MORVEL_TEST_FIXTURES_H
#define MORVEL_TEST_FIXTURES_H

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "analyze/attribution.h"
#include "analyze/doc_users.h"
#include "analyze/page_tree.h"
#include "analyze/plan.h"
#include "api/messages.h"
#include "base/error.h"
#include "load/document.h"
#include "load/loader.h"
#include "load/object_scan.h"
#include "load/trailer_facts.h"
#include "pdf/dict.h"
#include "pdf/stream_extent.h"
#include "test_util.h"

namespace testutil {

// An input buffer holding bytes, as reading a file would leave it.
inline input_file input_from(const std::string& bytes) {
    input_file in;
    in.data.reset(static_cast<char*>(std::malloc(bytes.size() + 1)));
    std::memcpy(in.data.get(), bytes.data(), bytes.size());
    in.data[bytes.size()] = '\0';
    in.len = static_cast<int32_t>(bytes.size());
    return in;
}

// Gives a document whose table was built by hand the input text that its
// trailer facts are read from.
inline void set_input(document& doc, const std::string& bytes) {
    doc.input = input_from(bytes);
    doc.trailer = find_trailer_facts(doc.input, doc.xref_streams);
}

// A document loaded from bytes as the optimizer loads a file.
inline status load_from(document& doc, const std::string& bytes) {
    doc.input = input_from(bytes);
    return load_document(doc);
}

// The message the library would give for a failed status.
inline std::string message_of(const status& s, const char* in = "in.pdf", const char* out = "out.pdf") {
    clear_error();
    report(s, in, out);
    return error_text();
}

// A document and what loading, or only the object scan, made of its bytes.
struct loaded {
    document doc;
    bool ok = false;

    const obj_list& objs() const { return doc.objects; }
    const pdf_obj* get(int32_t num) const {
        for (const pdf_obj& o : doc.objects.items)
            if (o.num == num) return &o;
        return nullptr;
    }
    // A record's stream data, "<none>" without one.
    std::string data(int32_t num) const {
        const pdf_obj* o = get(num);
        return o && o->stream ? std::string(o->stream, o->stream_len) : std::string("<none>");
    }
    std::vector<int32_t> nums() const {
        std::vector<int32_t> v;
        for (const pdf_obj& o : doc.objects.items) v.push_back(o.num);
        return v;
    }
};

inline loaded scan_only(const std::string& bytes) {
    loaded r;
    r.doc.input = input_from(bytes);
    scan_objects(r.doc.input, r.doc.objects.items);
    r.ok = true;
    return r;
}
inline loaded load(const std::string& bytes) {
    loaded r;
    r.ok = load_from(r.doc, bytes).ok();
    return r;
}

// "N 0 obj\n<<dict /Length len>>stream\n" data "\nendstream\nendobj\n".
inline std::string stream_obj(int num, const std::string& dict, const std::string& data) {
    return std::to_string(num) + " 0 obj\n<<" + dict + "/Length " + std::to_string(data.size()) + ">>stream\n" + data +
           "\nendstream\nendobj\n";
}

inline std::string zlib_compress(const std::string& s) {
    uLongf n = compressBound(static_cast<uLong>(s.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(s.data()),
              static_cast<uLong>(s.size()), 9);
    out.resize(n);
    return out;
}

// What the analysis stages make of a document, in the optimizer's order.
struct analysis {
    page_tree tree;
    attribution reach;
    doc_users users;
    plan order;

    int32_t nn(int32_t old_num) const { return order.number_of(old_num); }
};

inline status analyze(const document& doc, analysis& a) {
    if (status s = find_page_tree(doc, a.tree); !s.ok()) return s;
    a.reach = attribute_pages(doc, a.tree);
    a.users = find_doc_users(doc, a.tree, a.reach);
    return make_plan(doc, a.tree, a.reach, a.users, plan_options(), a.order);
}

// A table record with its text and the /Type the scanner would find.
inline pdf_obj typed_record(int32_t num, const std::string& body) {
    pdf_obj o;
    o.num = num;
    o.body = kept(body);
    o.type = check_dict_type(body.data(), static_cast<int32_t>(body.size()));
    return o;
}

// A document whose object table is built by hand, as the loader would
// leave it for a classic file, with the stream data its records point
// into; its input text (what trailer facts are read from) is set when it
// is analysed.
class doc_table {
   public:
    document doc;

    doc_table& add(int32_t num, const std::string& body) {
        doc.objects.items.push_back(typed_record(num, body));
        doc.objects.build_index();
        return *this;
    }
    // A stream record; its dictionary text is dict and a line feed.
    doc_table& add_stream(int32_t num, const std::string& dict, const std::string& bytes) {
        add(num, dict + "\n");
        data_.push_back(bytes);
        pdf_obj& o = doc.objects.items.back();
        o.has_stream = 1;
        o.length_ref = read_length_entry(o.body.data(), o.body_len()).ref_end >= 0;  // as the scan notes it
        o.stream = data_.back().data();
        o.stream_len = data_.back().size();
        o.data_len = static_cast<int32_t>(bytes.size());
        return *this;
    }
    const pdf_obj& rec(int32_t num) const { return *doc.objects.find(num); }
    int32_t pos(int32_t num) const { return doc.objects.position(num); }
    status analyze(analysis& a, const std::string& input_text) {
        set_input(doc, input_text);
        return testutil::analyze(doc, a);
    }

   private:
    std::deque<std::string> data_;
};

// Builds "%PDF-1.4" files from object texts. Objects are numbered in the
// order they are added unless a number is given; the trailer names /Root.
class pdf_builder {
   public:
    // body is what stands between "N 0 obj\n" and "\nendobj\n".
    int add(const std::string& body, int num = 0) {
        if (num == 0) num = next_++;
        else if (num >= next_) next_ = num + 1;
        objs_.emplace_back(num, body);
        return num;
    }
    // A stream object with a correct /Length; dict_extra goes inside << >>.
    int add_stream(const std::string& dict_extra, const std::string& data, int num = 0) {
        return add("<< " + dict_extra + " /Length " + std::to_string(data.size()) + " >>\nstream\n" +
                       data + "\nendstream",
                   num);
    }
    std::string build(int root, const std::string& trailer_extra = "") const {
        std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
        std::vector<std::pair<int, size_t>> offs;
        int size = 1;
        for (const auto& [num, body] : objs_) {
            offs.emplace_back(num, out.size());
            out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
            if (num + 1 > size) size = num + 1;
        }
        std::vector<size_t> at(static_cast<size_t>(size), SIZE_MAX);
        for (const auto& [num, o] : offs) at[static_cast<size_t>(num)] = o;
        size_t xref = out.size();
        out += "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
        for (int n = 1; n < size; n++) {
            bool found = at[static_cast<size_t>(n)] != SIZE_MAX;
            char line[32];
            snprintf(line, sizeof line, "%010zu %05d %c \n", found ? at[static_cast<size_t>(n)] : 0,
                     found ? 0 : 65535, found ? 'n' : 'f');
            out += line;
        }
        out += "trailer\n<< /Size " + std::to_string(size) + " /Root " + std::to_string(root) +
               " 0 R" + trailer_extra + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

   private:
    std::vector<std::pair<int, std::string>> objs_;
    int next_ = 1;
};

// A minimal document with n pages: catalog 1, page tree 2, then for each
// page its content stream and its page object, then one shared font.
inline std::string simple_pdf(int pages) {
    const int font = 2 * pages + 3;
    std::string kids;
    for (int i = 0; i < pages; i++) kids += std::to_string(4 + 2 * i) + " 0 R ";
    pdf_builder b;
    b.add("<< /Type /Catalog /Pages 2 0 R >>", 1);
    b.add("<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages) + " >>", 2);
    for (int i = 0; i < pages; i++) {
        int content = b.add_stream(
            "", "BT /F1 24 Tf 72 720 Td (Page " + std::to_string(i + 1) + ") Tj ET", 3 + 2 * i);
        b.add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                  std::to_string(content) + " 0 R /Resources << /Font << /F1 " +
                  std::to_string(font) + " 0 R >> >> >>",
              4 + 2 * i);
    }
    b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>", font);
    return b.build(1);
}

// The dictionary of a page under parent.
inline std::string page_object(int32_t parent, const std::string& extra = "") {
    return "<</Type/Page/Parent " + std::to_string(parent) + " 0 R" + extra + ">>";
}

// Two pages (3 and 4) under root 2, catalog 1 with extra entries.
inline pdf_builder two_pages(const std::string& catalog_extra, const std::string& first_extra = "",
                             const std::string& second_extra = "") {
    pdf_builder b;
    b.add("<</Type/Catalog/Pages 2 0 R" + catalog_extra + ">>", 1);
    b.add("<</Type/Pages/Kids[3 0 R 4 0 R]/Count 2>>", 2);
    b.add(page_object(2, first_extra), 3);
    b.add(page_object(2, second_extra), 4);
    return b;
}

// Catalog 1, root 2, pages 3 and 4; outline items 20 and 22 around the
// outline root 21 in table order, item 22 reached by page 4 too.
inline std::string outlined(const std::string& catalog_extra) {
    pdf_builder b = two_pages(catalog_extra, "/Contents 10 0 R", "/Annots[22 0 R]");
    b.add_stream("", "q Q", 10);
    b.add("<</Title(a)/Parent 21 0 R/Next 22 0 R/Dest[3 0 R/Fit]>>", 20);
    b.add("<</Type/Outlines/First 20 0 R/Last 22 0 R/Count 2>>", 21);
    b.add("<</Title(b)/Parent 21 0 R/Prev 20 0 R/A 23 0 R>>", 22);
    b.add("<</S/GoTo/D[4 0 R/Fit]>>", 23);
    b.add("<</Producer(z)>>", 24);
    return b.build(1);
}

// A file loaded and analysed as the optimizer does it.
struct analysed {
    document doc;
    const obj_list& objects = doc.objects;
    analysis x;

    explicit analysed(const std::string& pdf) {
        EXPECT_TRUE(load_from(doc, pdf).ok());
        EXPECT_TRUE(analyze(doc, x).ok());
    }
    uint8_t users(int32_t num) const { return x.users.of(objects.position(num)); }
    std::vector<int32_t> refs(int32_t num) const {
        return x.reach.pages_of(objects.position(num));
    }
    // The objects after the shared ones: the page-tree root (0 for one the
    // writer creates), then the other objects in file order.
    std::vector<int32_t> others() const {
        std::vector<int32_t> v{x.order.root_old};
        v.insert(v.end(), x.order.other_objs.begin(), x.order.other_objs.end());
        return v;
    }
};

// Each new number belongs to one object.
inline void expect_distinct_numbers(const analysed& a) {
    std::vector<char> seen(static_cast<size_t>(a.x.order.number_count()) + 1, 0);
    for (const pdf_obj& r : a.objects.items) {
        int32_t n = a.x.nn(r.num);
        if (n > 0) {
            EXPECT_FALSE(seen[static_cast<size_t>(n)]) << "number " << n << " twice";
            seen[static_cast<size_t>(n)] = 1;
        }
    }
}

}  // namespace testutil

#endif
