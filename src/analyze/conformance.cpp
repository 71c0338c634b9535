/*
 * Reading the PDF/A part from the XMP metadata. XMP writes it as an
 * attribute (pdfaid:part="1") or as an element (<pdfaid:part>1</...>).
 */
#include "analyze/conformance.h"

#include <cstring>
#include <string_view>

#include "load/stream_decode.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

// The value after each "pdfaid:part" in text: its first digit after an
// '=' and a quote, or after a '>'.
bool names_part_one(std::string_view text) {
    for (size_t at = text.find("pdfaid:part"); at != std::string_view::npos; at = text.find("pdfaid:part", at + 1)) {
        size_t i = at + 11;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) i++;
        if (i < text.size() && text[i] == '=') {
            i++;
            while (i < text.size() && (text[i] == ' ' || text[i] == '"' || text[i] == '\'')) i++;
        } else if (i < text.size() && text[i] == '>') {
            i++;
        } else {
            continue;
        }
        if (i < text.size() && text[i] == '1' && (i + 1 == text.size() || !is_digit(static_cast<unsigned char>(text[i + 1]))))
            return true;
    }
    return false;
}

}  // namespace

bool declares_pdfa1(const document& doc, const page_tree& tree) {
    if (tree.catalog < 0) return false;
    const pdf_obj& catalog = doc.objects.items[static_cast<size_t>(tree.catalog)];
    int32_t num = 0;
    if (key_reference(catalog.body.data(), catalog.body_len(), "Metadata", &num) < 0) return false;
    const pdf_obj* meta = doc.objects.find(num);
    if (!meta || !meta->has_stream || !meta->stream) return false;
    decoded_stream data;
    if (decode_stream(*meta, data) != decode_result::decoded) return false;
    return names_part_one(std::string_view(data.bytes, static_cast<size_t>(data.len)));
}
