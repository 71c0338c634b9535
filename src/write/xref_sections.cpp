/*
 * Cross-reference sections, trailers, the linearization dictionary.
 */
#include "write/xref_sections.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/buffer.h"

namespace {

constexpr char EOF_LINE[] = "%%EOF\n";
// The file identifier of an input that has none.
constexpr char FIXED_ID[] = "[<b9163e4b98b3fbaacd26f813d6603914><b9163e4b98b3fbaacd26f813d6603914>]";

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char tmp[512];
    int n = vsnprintf(tmp, sizeof tmp, format, ap);
    va_end(ap);
    return n > 0 ? std::string(tmp, std::min(static_cast<size_t>(n), sizeof tmp - 1)) : std::string();
}

// Appends one "%010ld 00000 n \n" entry per offset.
void append_entries(std::string& text, const int64_t* offsets, size_t count) {
    size_t at = text.size();
    text.resize(at + 20 * count);
    char* p = text.data() + at;
    for (size_t i = 0; i < count; i++, p += 20) {
        put_ten_digits(p, static_cast<uint64_t>(offsets[i]));
        memcpy(p + 10, " 00000 n \n", 10);
    }
}

// The trailer's own entries after /Root: the information dictionary, when
// the input had one.
std::string info_entry(const trailer_extras& extras) {
    return extras.info > 0 ? fmt(" /Info %d 0 R", extras.info) : std::string();
}

}  // namespace

// An /Info entry is carried over when it names a dictionary that is written.
trailer_extras find_trailer_extras(const document& doc, const plan& order) {
    trailer_extras extras;
    int32_t num = doc.trailer.info;
    const pdf_obj* rec = doc.objects.find(num);
    if (rec && rec->body.compare(0, 2, "<<") == 0 && num <= order.max_num) {
        int32_t n = order.new_num[static_cast<size_t>(num)];
        extras.info = n > 0 ? n : 0;
    }
    extras.id = doc.trailer.id.empty() ? FIXED_ID : doc.trailer.id;
    return extras;
}

std::string first_section_header(int32_t k, int32_t m) { return fmt("xref\n%d %d\n", k, m - k); }

std::string first_page_trailer(int32_t k, int32_t m, int64_t main_pos, const trailer_extras& extras) {
    return fmt("trailer << /Root %d 0 R", k + 1) + info_entry(extras) +
           fmt(" /Size %d /Prev %010ld /ID ", m, static_cast<long>(main_pos)) + extras.id + " >>\nstartxref\n0\n";
}

std::string first_section(int32_t k, int32_t m, const std::vector<int64_t>& offsets, int64_t main_pos,
                          const trailer_extras& extras) {
    std::string text = first_section_header(k, m);
    append_entries(text, offsets.data() + k, static_cast<size_t>(m - k));
    return text + first_page_trailer(k, m, main_pos, extras) + EOF_LINE;
}

std::string main_section_header(int32_t k) { return fmt("xref\n0 %d\n", k); }

std::string main_section(int32_t k, const std::vector<int64_t>& offsets) {
    std::string text = main_section_header(k) + "0000000000 65535 f \n";
    if (k > 1) append_entries(text, offsets.data() + 1, static_cast<size_t>(k - 1));
    return text;
}

std::string final_trailer(int32_t k, int64_t first_pos, const trailer_extras& extras) {
    return fmt("trailer << /Size %d /Root %d 0 R", k, k + 1) + info_entry(extras) + " /ID " + extras.id +
           fmt(" >>\nstartxref\n%ld\n%%%%EOF\n", static_cast<long>(first_pos));
}

std::string linearization_block(const linearization_values& v) {
    std::string text =
        fmt("%d 0 obj\n<< /Linearized 1 /L %ld /H [ %ld %zu ] /O %d /E %ld /N %d /T %ld >>\nendobj\n", v.number,
            static_cast<long>(v.file_len), static_cast<long>(v.hint_pos), static_cast<size_t>(v.hint_len),
            v.first_page, static_cast<long>(v.first_end), v.pages, static_cast<long>(v.main_first_entry));
    text.resize(text.size() - 1);
    text.resize(LIN_BLOCK_LEN - 1, ' ');
    text += '\n';
    return text;
}
