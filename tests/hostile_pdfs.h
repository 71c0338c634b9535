// Hand-made inputs that stress one weakness each: sizes that make a
// quadratic step show, object look-alikes, numbers that do not fit, claims
// that cost memory. Shared by the tests (which judge the outputs) and the
// benchmarks (which time the series), so both see the same files.
#ifndef MORVEL_TESTS_HOSTILE_PDFS_H
#define MORVEL_TESTS_HOSTILE_PDFS_H

#include <zlib.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace hostile {

inline std::string ref(long num) { return std::to_string(num) + " 0 R"; }

// A file written object by object with a classic cross-reference table;
// objects may be added in any order and numbers may be left out.
class file_writer {
   public:
    file_writer() : out_("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n") {}
    void add(long num, const std::string& body) {
        if (static_cast<size_t>(num) >= offsets_.size()) offsets_.resize(static_cast<size_t>(num) + 1, 0);
        offsets_[static_cast<size_t>(num)] = out_.size();
        out_ += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    void add_stream(long num, const std::string& dict, const std::string& data) {
        add(num, "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
    }
    // Bytes that are no object of the table (junk, or a look-alike).
    void raw(const std::string& bytes) { out_ += bytes; }
    size_t size() const { return out_.size(); }
    std::string finish(long root) {
        size_t xref = out_.size();
        out_ += "xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n";
        char line[48];
        for (size_t n = 1; n < offsets_.size(); n++) {
            snprintf(line, sizeof line, offsets_[n] ? "%010zu 00000 n \n" : "%010zu 65535 f \n", offsets_[n]);
            out_ += line;
        }
        out_ += "trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root " + ref(root) + " >>\nstartxref\n" +
                std::to_string(xref) + "\n%%EOF\n";
        return std::move(out_);
    }

   private:
    std::string out_;
    std::vector<size_t> offsets_{0};
};

inline std::string deflated(const std::string& s) {
    uLongf n = compressBound(static_cast<uLong>(s.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(s.data()),
              static_cast<uLong>(s.size()), 6);
    out.resize(n);
    return out;
}

// Pages 3.. under one /Pages node 2 that gives them /MediaBox, /Rotate and
// /Resources (one font, object 1000000+): the flat tree of generated files.
inline std::string flat_tree(long pages) {
    file_writer w;
    const long font = pages + 3;
    std::string kids;
    kids.reserve(static_cast<size_t>(pages) * 10);
    for (long i = 0; i < pages; i++) kids += ref(3 + i) + " ";
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
                 " /MediaBox [0 0 300 400] /Rotate 90 /Resources << /Font << /F1 " + ref(font) + " >> >> >>");
    for (long i = 0; i < pages; i++) w.add(3 + i, "<< /Type /Page /Parent 2 0 R >>");
    w.add(font, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return w.finish(1);
}

// levels nested /Pages nodes above one page; the topmost gives /MediaBox,
// /Rotate and /Resources.
inline std::string deep_tree(int levels) {
    file_writer w;
    w.add(1, "<< /Type /Catalog /Pages 10 0 R >>");
    w.add(2, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    w.add_stream(3, "", "BT /F1 24 Tf 20 50 Td (Deep page) Tj ET");
    for (int k = 0; k < levels; k++) {
        long num = 10 + k, kid = 10 + k + 1;
        std::string extra = k == 0 ? " /MediaBox [0 0 200 300] /Rotate 90 /Resources << /Font << /F1 2 0 R >> >>" : "";
        std::string parent = k == 0 ? "" : " /Parent " + ref(num - 1);
        w.add(num, "<< /Type /Pages /Kids [" + ref(kid) + "] /Count 1" + parent + extra + " >>");
    }
    w.add(10 + levels, "<< /Type /Page /Parent " + ref(10 + levels - 1) + " /Contents 3 0 R >>");
    return w.finish(1);
}

// pages pages whose shared /Resources dictionary reaches `shared` fonts:
// every page reaches every one of them.
inline std::string pages_shared(long pages, long shared) {
    file_writer w;
    const long res = 3, first_font = 4, first_page = first_font + shared;
    std::string fonts, kids;
    for (long k = 0; k < shared; k++) fonts += "/F" + std::to_string(k) + " " + ref(first_font + k) + " ";
    for (long i = 0; i < pages; i++) kids += ref(first_page + i) + " ";
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    w.add(res, "<< /Font << " + fonts + ">> >>");
    for (long k = 0; k < shared; k++) w.add(first_font + k, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (long i = 0; i < pages; i++)
        w.add(first_page + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Resources 3 0 R >>");
    return w.finish(1);
}

// One page and n tiny objects that an array in the catalog reaches.
inline std::string tiny_objects(long n) {
    file_writer w;
    std::string list;
    list.reserve(static_cast<size_t>(n) * 10);
    for (long k = 0; k < n; k++) list += ref(10 + k) + " ";
    w.add(1, "<< /Type /Catalog /Pages 2 0 R /Extra 4 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>");
    w.add(4, "[" + list + "]");
    for (long k = 0; k < n; k++) w.add(10 + k, "<< /V " + std::to_string(k) + " >>");
    return w.finish(1);
}

// A one-page document followed by `sections` incremental updates, each a
// cross-reference stream with /Prev that redefines the page's /Info title.
inline std::string prev_chain(long sections) {
    file_writer w;
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>");
    w.add(4, "<< /Title (v0) >>");
    std::string out = w.finish(1);
    size_t prev = out.rfind("xref\n");
    for (long k = 1; k <= sections; k++) {
        size_t info_at = out.size();
        out += "4 0 obj\n<< /Title (v" + std::to_string(k) + ") >>\nendobj\n";
        size_t xref_at = out.size();
        // Entries for 4 (the new title) and 5 (this stream): type, offset, generation.
        std::string data;
        for (size_t off : {info_at, xref_at}) {
            data += '\x01';
            for (int b = 3; b >= 0; b--) data += static_cast<char>((off >> (8 * b)) & 0xFF);
            data += '\x00';
        }
        out += "5 0 obj\n<< /Type /XRef /Size 6 /Index [4 2] /W [1 4 1] /Root 1 0 R /Info 4 0 R /Prev " +
               std::to_string(prev) + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
               "\nendstream\nendobj\nstartxref\n" + std::to_string(xref_at) + "\n%%EOF\n";
        prev = xref_at;
    }
    return out;
}

// An object stream whose header lists `entries` pairs naming three numbers.
inline std::string objstm_claims(long entries) {
    file_writer w;
    std::string header;
    long rounds = entries / 3;
    for (long k = 0; k < rounds; k++) header += "10 0 11 4 12 8 ";
    std::string inner = header + "(a) (b) (c)";
    w.add(1, "<< /Type /Catalog /Pages 2 0 R /A 10 0 R /B 11 0 R /C 12 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>");
    w.add_stream(5, "/Type /ObjStm /N " + std::to_string(3 * rounds) + " /First " + std::to_string(header.size()) +
                        " /Filter /FlateDecode",
                 deflated(inner));
    return w.finish(1);
}

// A zlib stream of prefix then count copies of fill, made without holding
// the decoded bytes.
inline std::string deflated_run(const std::string& prefix, char fill, size_t count) {
    z_stream z{};
    deflateInit(&z, 9);
    std::string out, chunk(1 << 20, fill), buf(1 << 16, '\0');
    auto feed = [&](const std::string& in, size_t n, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf.data());
            z.avail_out = static_cast<uInt>(buf.size());
            deflate(&z, flush);
            out.append(buf.data(), buf.size() - z.avail_out);
        } while (z.avail_out == 0);
    };
    feed(prefix, prefix.size(), count ? Z_NO_FLUSH : Z_FINISH);
    for (size_t left = count; left > 0;) {
        size_t n = left < chunk.size() ? left : chunk.size();
        left -= n;
        feed(chunk, n, left ? Z_NO_FLUSH : Z_FINISH);
    }
    deflateEnd(&z);
    return out;
}

// One page whose font lives in an object stream that decodes to one byte
// more than the decoding limit.
inline std::string objstm_past_the_limit() {
    file_writer w;
    std::string prefix = "10 0 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Pad (";
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Resources << /Font << /F1 10 0 R >> >> >>");
    w.add_stream(5, "/Type /ObjStm /N 1 /First 5 /Filter /FlateDecode",
                 deflated_run(prefix, ' ', (size_t{256} << 20) + 1 - prefix.size()));
    return w.finish(1);
}

// A one-page document whose content stream holds text that looks like
// objects (a page among them); direct: /Length as an integer, else as a
// reference to an object written after the stream.
inline std::string look_alikes(bool direct) {
    const std::string data =
        "BT /F1 24 Tf 20 50 Td (Look) Tj ET\n% 7 0 obj << /Type /Page /Parent 2 0 R >> endobj\n"
        "% endstream endobj 8 0 obj 3 endobj\nBT /F1 12 Tf 20 20 Td (alike) Tj ET";
    file_writer w;
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 4 0 R"
             " /Resources << /Font << /F1 5 0 R >> >> >>");
    if (direct) {
        w.add_stream(4, "", data);
    } else {
        w.add(4, "<< /Length 6 0 R >>\nstream\n" + data + "\nendstream");
        w.add(6, std::to_string(data.size()));
    }
    w.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return w.finish(1);
}

// A valid one-page document beside an object numbered 2^32 + 1 that claims
// to be a catalog (read modulo 2^32 it would be object 1).
inline std::string number_past_32_bits() {
    file_writer w;
    w.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 4 0 R"
             " /Resources << /Font << /F1 5 0 R >> >> >>");
    w.add_stream(4, "", "BT /F1 24 Tf 20 50 Td (Thirty-two) Tj ET");
    w.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    w.raw("4294967297 0 obj\n<< /Type /Catalog /Pages 9 0 R >>\nendobj\n");
    return w.finish(1);
}

// A document with a signed signature field: its signature dictionary
// written as an object of its own, or inline as the field's value.
inline std::string signed_document(bool inline_value) {
    const std::string sig = "<< /Type /Sig /Filter /Adobe.PPKLite /ByteRange [0 100 200 300] /Contents <0102> >>";
    file_writer w;
    w.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] /SigFlags 3 >> >>");
    w.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Annots [4 0 R] >>");
    w.add(4, "<< /FT /Sig /T (Signature1) /Subtype /Widget /Rect [0 0 0 0] /P 3 0 R /V " +
                 (inline_value ? sig : std::string("5 0 R")) + " >>");
    if (!inline_value) w.add(5, sig);
    return w.finish(1);
}

}  // namespace hostile

#endif
