/*
 * Offsets by running sums over the slots, in file order.
 */
#include "write/file_image.h"

#include <climits>

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
// take the file for binary). The version is at least that of the output form.
std::string file_header(const std::string& input_version) {
    const char* v = input_version.size() == 3 && input_version > "1.4" ? input_version.c_str() : "1.4";
    return std::string("%PDF-") + v + "\n%\xE2\xE3\xCF\xD3\n";
}

void gather_objects(const plan& order, const std::vector<out_slot>& slots, std::vector<iovec>& pieces) {
    for_each_before_hints(order, [&](int32_t n) { slots[static_cast<size_t>(n)].gather(pieces); });
    slots[static_cast<size_t>(order.hint_num())].gather(pieces);
    for_each_after_hints(order, [&](int32_t n) { slots[static_cast<size_t>(n)].gather(pieces); });
}

}  // namespace

status place_front(const plan& order, const std::vector<out_slot>& slots, const trailer_extras& extras,
                   front_offsets& front) {
    int32_t k = order.lin_dict_num(), m = order.number_count();
    front.catalog_pos = static_cast<int64_t>(first_page_trailer(k, m, 0, extras).size()) + 20 * int64_t{m - k} +
                        FIRST_SECTION_POS + EOF_LINE_LEN + static_cast<int64_t>(first_section_header(k, m).size());
    int64_t hint_pos = front.catalog_pos;
    for_each_before_hints(order, [&](int32_t n) { hint_pos += static_cast<int64_t>(slots[static_cast<size_t>(n)].len()); });
    if (hint_pos > INT32_MAX) return failure(problem::output_too_large);
    front.hint_pos = static_cast<int32_t>(hint_pos);
    return {};
}

status lay_out_file(const page_tree& tree, const plan& order, const std::vector<out_slot>& slots,
                    const trailer_extras& extras, const front_offsets& front, const std::string& version,
                    file_image& image) {
    int32_t k = order.lin_dict_num(), m = order.number_count();
    placement p = place_objects(order, slots, front);
    image.back = main_section(k, p.offsets) + final_trailer(k, FIRST_SECTION_POS, extras);
    int64_t file_len = p.main_pos + static_cast<int64_t>(image.back.size());
    if (file_len > INT32_MAX) return failure(problem::output_too_large);

    linearization_values lin;
    lin.number = k;
    lin.file_len = file_len;
    lin.hint_pos = front.hint_pos;
    lin.hint_len = slots[static_cast<size_t>(order.hint_num())].len();
    lin.first_page = order.number_of(tree.page_list.empty() ? 0 : tree.page_list[0]);
    lin.first_end = p.first_end;
    lin.pages = static_cast<int32_t>(tree.page_list.size());
    // /T: the line feed that ends the main section's header.
    lin.main_first_entry = p.main_pos + static_cast<int64_t>(main_section_header(k).size()) - 1;
    image.front = file_header(version) + linearization_block(lin) +
                  first_section(k, m, p.offsets, p.main_pos, extras);

    image.pieces.clear();
    image.pieces.push_back({image.front.data(), image.front.size()});
    gather_objects(order, slots, image.pieces);
    image.pieces.push_back({image.back.data(), image.back.size()});
    image.total = static_cast<uint64_t>(file_len);
    return {};
}
