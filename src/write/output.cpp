/*
 * The layout of a linearized file and the texts that depend on offsets:
 * both cross-reference sections, both trailers and the linearization
 * dictionary.
 *
 * File order: header, linearization block (object K at 15), first-page
 * cross-reference section (at 271), catalog, hint stream, the first page's
 * objects, the other pages' objects, shared objects, every other object,
 * the main cross-reference section and the final trailer. The first-page
 * section's length does not depend on the offsets it holds (ten-digit
 * fields), so the catalog's offset is known before anything else is placed,
 * and every later offset follows by running sums.
 */
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"
#include "write/writer.h"

namespace {

constexpr char FILE_HEADER[] = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
constexpr int64_t HEADER_LEN = 15;
constexpr int64_t LIN_BLOCK_LEN = 256;
constexpr int64_t FIRST_SECTION_POS = HEADER_LEN + LIN_BLOCK_LEN;  // 271
constexpr char EOF_LINE[] = "%%EOF\n";
// The file identifier of an input that has none.
constexpr char FIXED_ID[] = "[<b9163e4b98b3fbaacd26f813d6603914><b9163e4b98b3fbaacd26f813d6603914>]";

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    out_buf b;
    va_list ap;
    va_start(ap, format);
    char tmp[512];
    int n = vsnprintf(tmp, sizeof tmp, format, ap);
    va_end(ap);
    if (n > 0) buf_bytes(b, tmp, std::min(static_cast<size_t>(n), sizeof tmp - 1));
    return std::move(b.data);
}

std::string xref_entry(int64_t offset) { return fmt("%010ld 00000 n \n", static_cast<long>(offset)); }

// The trailer's own entries after /Root: the information dictionary, when
// the input had one.
std::string info_entry(const trailer_extras& extras) {
    return extras.info > 0 ? fmt(" /Info %d 0 R", extras.info) : std::string();
}

std::string first_page_trailer(int32_t k, int32_t m, int64_t prev, const trailer_extras& extras) {
    return fmt("trailer << /Root %d 0 R", k + 1) + info_entry(extras) +
           fmt(" /Size %d /Prev %010ld /ID ", m, static_cast<long>(prev)) + extras.id +
           " >>\nstartxref\n0\n";
}

std::string final_trailer(int32_t k, const trailer_extras& extras) {
    return fmt("trailer << /Size %d /Root %d 0 R", k, k + 1) + info_entry(extras) + " /ID " +
           extras.id + fmt(" >>\nstartxref\n%ld\n%%%%EOF\n", static_cast<long>(FIRST_SECTION_POS));
}

// The 256-byte block holding the linearization dictionary: the object's
// text, then spaces, then a line feed.
std::string linearization_block(int32_t k, int64_t file_len, int64_t hint_pos, uint64_t hint_len,
                                int32_t first_page, int64_t first_end, int32_t pages,
                                int64_t main_entries) {
    std::string text = fmt(
        "%d 0 obj\n<< /Linearized 1 /L %ld /H [ %ld %zu ] /O %d /E %ld /N %d /T %ld >>\nendobj\n", k,
        static_cast<long>(file_len), static_cast<long>(hint_pos), static_cast<size_t>(hint_len),
        first_page, static_cast<long>(first_end), pages, static_cast<long>(main_entries));
    text.resize(text.size() - 1);
    text.resize(LIN_BLOCK_LEN - 1, ' ');
    text += '\n';
    return text;
}

struct placement {
    int32_t k = 0, f = 0, m = 0;
    trailer_extras extras;
    std::string first_header;
    std::vector<int64_t> offsets;  // by new number
    int64_t catalog_pos = 0, hint_pos = 0, first_end = 0, main_pos = 0;
};

int32_t slot_of(const page_layout& layout, int32_t old_num) {
    if (old_num < 0 || static_cast<size_t>(old_num) >= layout.new_num.size()) return 0;
    return layout.new_num[static_cast<size_t>(old_num)];
}

// Every list of objects in file order after the hint stream.
template <typename Fn>
void for_each_written(const page_layout& layout, Fn fn) {
    for (const auto* list : {&layout.page_groups[0], &layout.rest_objs, &layout.shared_objs,
                             &layout.other_objs})
        for (int32_t o : *list) fn(slot_of(layout, o));
}

void place_objects(const page_layout& layout, const std::vector<out_slot>& slots, placement& p) {
    p.offsets.assign(static_cast<size_t>(p.m), 0);
    p.offsets[static_cast<size_t>(p.k)] = HEADER_LEN;
    p.offsets[static_cast<size_t>(p.k) + 1] = p.catalog_pos;
    p.offsets[static_cast<size_t>(p.k) + 2] = p.hint_pos;
    int64_t at = p.hint_pos + static_cast<int64_t>(slots[static_cast<size_t>(p.k) + 2].len());
    size_t first_count = layout.page_groups[0].size();
    size_t seen = 0;
    p.first_end = at;
    for_each_written(layout, [&](int32_t n) {
        if (n > 0 && n < p.m) {
            p.offsets[static_cast<size_t>(n)] = at;
            at += static_cast<int64_t>(slots[static_cast<size_t>(n)].len());
        }
        if (++seen == first_count) p.first_end = at;
    });
    p.main_pos = at;
}

std::string main_section(const placement& p) {
    std::string text = fmt("xref\n0 %d\n", p.k) + "0000000000 65535 f \n";
    text.reserve(text.size() + 20 * static_cast<size_t>(p.k));
    for (int32_t n = 1; n < p.k; n++) text += xref_entry(p.offsets[static_cast<size_t>(n)]);
    return text;
}

std::string first_section(const placement& p) {
    std::string text = p.first_header;
    for (int32_t n = p.k; n < p.m; n++) text += xref_entry(p.offsets[static_cast<size_t>(n)]);
    return text + first_page_trailer(p.k, p.m, p.main_pos, p.extras) + EOF_LINE;
}

void gather_objects(const page_layout& layout, const std::vector<out_slot>& slots, int32_t k,
                    std::vector<iovec>& pieces) {
    slots[static_cast<size_t>(k) + 1].gather(pieces);
    slots[static_cast<size_t>(k) + 2].gather(pieces);
    int32_t m = static_cast<int32_t>(slots.size());
    for_each_written(layout, [&](int32_t n) {
        if (n > 0 && n < m) slots[static_cast<size_t>(n)].gather(pieces);
    });
}

}  // namespace

// An /Info entry is carried over when it names a dictionary that is written.
trailer_extras find_trailer_extras(const document& doc, const page_layout& layout) {
    trailer_extras extras;
    int32_t num = doc.trailer.info;
    const pdf_obj* rec = doc.objects.find(num);
    if (rec && rec->body.compare(0, 2, "<<") == 0 && num <= layout.max_num) {
        int32_t n = layout.new_num[static_cast<size_t>(num)];
        extras.info = n > 0 ? n : 0;
    }
    extras.id = doc.trailer.id.empty() ? FIXED_ID : doc.trailer.id;
    return extras;
}

status build_output(const document& doc, const page_layout& layout, std::vector<out_slot>& slots,
                    output_image& image) {
    const obj_list& objects = doc.objects;
    placement p;
    p.k = layout.lin_num;
    p.f = static_cast<int32_t>(layout.page_groups[0].size());
    p.m = p.k + 3 + p.f;
    p.extras = find_trailer_extras(doc, layout);
    p.first_header = fmt("xref\n%d %d\n", p.k, p.f + 3);
    p.catalog_pos = static_cast<int64_t>(first_page_trailer(p.k, p.m, 0, p.extras).size()) +
                    20 * (static_cast<int64_t>(p.f) + 3) + FIRST_SECTION_POS +
                    static_cast<int64_t>(strlen(EOF_LINE)) +
                    static_cast<int64_t>(p.first_header.size());
    p.hint_pos = p.catalog_pos + static_cast<int64_t>(slots[static_cast<size_t>(p.k) + 1].len());
    if (p.hint_pos > INT32_MAX) return failure(problem::output_too_large);
    if (!build_hint_stream(objects, layout, slots, static_cast<int32_t>(p.hint_pos)))
        return failure(problem::hint_compression);
    place_objects(layout, slots, p);

    std::string main_hdr = fmt("xref\n0 %d\n", p.k);
    image.back = main_section(p) + final_trailer(p.k, p.extras);
    int64_t file_len = p.main_pos + static_cast<int64_t>(image.back.size());
    if (file_len > INT32_MAX) return failure(problem::output_too_large);
    int64_t t = p.main_pos + static_cast<int64_t>(main_hdr.size()) - 1;
    int32_t first_page = slot_of(layout, layout.page_list.empty() ? 0 : layout.page_list[0]);
    image.front = std::string(FILE_HEADER, HEADER_LEN) +
                  linearization_block(p.k, file_len, p.hint_pos,
                                      slots[static_cast<size_t>(p.k) + 2].len(), first_page,
                                      p.first_end, static_cast<int32_t>(layout.page_list.size()), t) +
                  first_section(p);

    image.pieces.clear();
    image.pieces.push_back({image.front.data(), image.front.size()});
    gather_objects(layout, slots, p.k, image.pieces);
    image.pieces.push_back({image.back.data(), image.back.size()});
    image.total = static_cast<uint64_t>(file_len);
    return {};
}

status write_linearized(const document& doc, const page_layout& layout, const char* output_path) {
    std::vector<out_slot> slots(static_cast<size_t>(layout.lin_num) + 3 +
                                layout.page_groups[0].size());
    serialize_objects(doc.objects, layout, slots);
    output_image image;
    if (status s = build_output(doc, layout, slots, image); !s.ok()) return s;
    return write_output_file(output_path, image.pieces);
}
