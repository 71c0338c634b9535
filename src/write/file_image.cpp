/*
 * Offsets by running sums over the slots, in file order.
 */
#include "write/file_image.h"

#include <algorithm>
#include <climits>

#include "write/xref_streams.h"

namespace {

constexpr int64_t HEADER_LEN = 15;
constexpr int64_t FIRST_SECTION_POS = HEADER_LEN + LIN_BLOCK_LEN;  // 271
constexpr int64_t EOF_LINE_LEN = 6;                                 // "%%EOF\n"

struct placement {
    std::vector<int64_t> offsets;  // by new number
    int64_t first_end = 0;         // just past the first page's objects: /E
    int64_t main_pos = 0;          // the main cross-reference section
};

placement place_objects(const plan& order, const std::vector<out_slot>& slots, const front_offsets& front) {
    placement p;
    int32_t k = order.lin_dict_num();
    p.offsets.assign(static_cast<size_t>(order.number_count()), 0);
    p.offsets[static_cast<size_t>(k)] = HEADER_LEN;
    int64_t at = front.catalog_pos;
    for_each_before_hints(order, [&](int32_t n) {
        p.offsets[static_cast<size_t>(n)] = at;
        at += static_cast<int64_t>(slots[static_cast<size_t>(n)].len());
    });
    p.offsets[static_cast<size_t>(order.hint_num())] = front.hint_pos;
    at = front.hint_pos + static_cast<int64_t>(slots[static_cast<size_t>(order.hint_num())].len());
    for_each_after_hints(order, [&](int32_t n) {
        if (n == 1) p.first_end = at;
        p.offsets[static_cast<size_t>(n)] = at;
        at += static_cast<int64_t>(slots[static_cast<size_t>(n)].len());
    });
    if (k == 1) p.first_end = at;
    p.main_pos = at;
    return p;
}

// The header line and a comment of bytes above 127 (so that transfer tools
// take the file for binary). The version is at least that of the output
// form: 1.4, or 1.5 for object and cross-reference streams.
std::string file_header(const std::string& input_version, const char* least) {
    const char* v = input_version.size() == 3 && input_version > least ? input_version.c_str() : least;
    return std::string("%PDF-") + v + "\n%\xE2\xE3\xCF\xD3\n";
}

// What follows the first-page section, as after a first-page table.
constexpr char FIRST_SECTION_END[] = "startxref\n0\n%%EOF\n";

void gather_objects(const plan& order, const std::vector<out_slot>& slots, std::vector<iovec>& pieces) {
    for_each_before_hints(order, [&](int32_t n) { slots[static_cast<size_t>(n)].gather(pieces); });
    slots[static_cast<size_t>(order.hint_num())].gather(pieces);
    for_each_after_hints(order, [&](int32_t n) { slots[static_cast<size_t>(n)].gather(pieces); });
}

// The linearization dictionary's values, given the layout.
linearization_values lin_values(const page_tree& tree, const plan& order, const std::vector<out_slot>& slots,
                                const front_offsets& front, const placement& p, int64_t file_len,
                                int64_t main_first_entry) {
    linearization_values lin;
    lin.number = order.lin_dict_num();
    lin.file_len = file_len;
    lin.hint_pos = front.hint_pos;
    lin.hint_len = slots[static_cast<size_t>(order.hint_num())].len();
    lin.first_page = order.number_of(tree.page_list.empty() ? 0 : tree.page_list[0]);
    lin.first_end = p.first_end;
    lin.pages = static_cast<int32_t>(tree.page_list.size());
    lin.main_first_entry = main_first_entry;
    return lin;
}

// The file's pieces in order: the front, every object, the back.
void gather_image(const plan& order, const std::vector<out_slot>& slots, int64_t file_len, file_image& image) {
    image.pieces.clear();
    image.pieces.push_back({image.front.data(), image.front.size()});
    gather_objects(order, slots, image.pieces);
    image.pieces.push_back({image.back.data(), image.back.size()});
    image.total = static_cast<uint64_t>(file_len);
}

// Where the hint stream starts: after what precedes it from the catalog on.
status place_hint_stream(const plan& order, const std::vector<out_slot>& slots, front_offsets& front) {
    int64_t hint_pos = front.catalog_pos;
    for_each_before_hints(order, [&](int32_t n) { hint_pos += static_cast<int64_t>(slots[static_cast<size_t>(n)].len()); });
    if (hint_pos > INT32_MAX) return failure(problem::output_too_large);
    front.hint_pos = static_cast<int32_t>(hint_pos);
    return {};
}

}  // namespace

status place_front(const plan& order, const std::vector<out_slot>& slots, const trailer_extras& extras,
                   front_offsets& front) {
    int32_t k = order.lin_dict_num(), m = order.number_count();
    front.catalog_pos = static_cast<int64_t>(first_page_trailer(k, m, 0, extras).size()) + 20 * int64_t{m - k} +
                        FIRST_SECTION_POS + EOF_LINE_LEN + static_cast<int64_t>(first_section_header(k, m).size());
    return place_hint_stream(order, slots, front);
}

status lay_out_file(const page_tree& tree, const plan& order, const std::vector<out_slot>& slots,
                    const trailer_extras& extras, const front_offsets& front, const std::string& version,
                    file_image& image) {
    int32_t k = order.lin_dict_num(), m = order.number_count();
    placement p = place_objects(order, slots, front);
    image.back = main_section(k, p.offsets) + final_trailer(k, FIRST_SECTION_POS, extras);
    int64_t file_len = p.main_pos + static_cast<int64_t>(image.back.size());
    if (file_len > INT32_MAX) return failure(problem::output_too_large);

    // /T: the line feed that ends the main section's header.
    linearization_values lin = lin_values(tree, order, slots, front, p, file_len,
                                          p.main_pos + static_cast<int64_t>(main_section_header(k).size()) - 1);
    image.front = file_header(version, "1.4") + linearization_block(lin) +
                  first_section(k, m, p.offsets, p.main_pos, extras);
    gather_image(order, slots, file_len, image);
    return {};
}

namespace {

// The rows of a section covering numbers [from, to): objects at offsets,
// and those inside object streams by their stream and index. Numbers
// without an object are free (the main section's 0 among them).
std::vector<xref_row> section_rows(const plan& order, const std::vector<out_slot>& slots, const placement& p,
                                   int32_t from, int32_t to) {
    std::vector<xref_row> rows(static_cast<size_t>(to - from), xref_row{0, 0, 0});
    for (int32_t n = std::max(from, 1); n < to; n++)
        if (slots[static_cast<size_t>(n)].len() > 0 || n == order.main_xref_num || n == order.first_xref_num())
            rows[static_cast<size_t>(n - from)] = {1, p.offsets[static_cast<size_t>(n)], 0};
    for (const packed_stream& s : order.packed)
        for (size_t i = 0; i < s.members.size(); i++)
            if (s.members[i] >= from && s.members[i] < to)
                rows[static_cast<size_t>(s.members[i] - from)] = {2, s.num, static_cast<int64_t>(i)};
    return rows;
}

}  // namespace

status place_front_packed(const plan& order, const std::vector<out_slot>& slots, int64_t reserved,
                          front_offsets& front) {
    front.catalog_pos = FIRST_SECTION_POS + reserved;
    return place_hint_stream(order, slots, front);
}

status lay_out_packed(const page_tree& tree, const plan& order, const std::vector<out_slot>& slots,
                      const trailer_extras& extras, const front_offsets& front, const std::string& version,
                      int64_t reserved, file_image& image, int64_t* needed) {
    int32_t k = order.lin_dict_num(), m = order.number_count();
    placement p = place_objects(order, slots, front);
    p.offsets[static_cast<size_t>(order.first_xref_num())] = FIRST_SECTION_POS;
    // The main stream follows every object: those inside object streams
    // take no room.
    p.offsets[static_cast<size_t>(order.main_xref_num)] = p.main_pos;
    image.back = xref_stream_object(section_rows(order, slots, p, 0, k), {order.main_xref_num, 0, k, order.catalog_num()}, extras) +
                 "startxref\n" + std::to_string(FIRST_SECTION_POS) + "\n%%EOF\n";
    int64_t file_len = p.main_pos + static_cast<int64_t>(image.back.size());
    if (file_len > INT32_MAX) return failure(problem::output_too_large);

    std::vector<xref_row> first = section_rows(order, slots, p, k, m);
    first[0] = {1, p.offsets[static_cast<size_t>(k)], 0};
    xref_stream_dict dict{order.first_xref_num(), k, m, order.catalog_num(), p.main_pos};
    std::string section = xref_stream_object(first, dict, extras) + FIRST_SECTION_END;
    *needed = static_cast<int64_t>(section.size());
    if (*needed > reserved) return {};
    section.resize(static_cast<size_t>(reserved), ' ');

    linearization_values lin = lin_values(tree, order, slots, front, p, file_len, p.main_pos);
    image.front = file_header(version, "1.5") + linearization_block(lin) + section;
    gather_image(order, slots, file_len, image);
    return {};
}
