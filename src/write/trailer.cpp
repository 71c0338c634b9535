/*
 * What the output's trailers carry over from the input: the document
 * information dictionary and the file identifier.
 *
 * The input's cross-reference data is never read, so the trailer entries
 * are found by scanning: every dictionary after a "trailer" keyword and
 * every cross-reference stream dictionary is a candidate, and the last one
 * in the file that has the key decides (an incremental update repeats or
 * replaces the entries of the trailer before it).
 */
#include <algorithm>
#include <cstring>

#include "pdf/scan.h"
#include "write/writer.h"

namespace {

constexpr char FIXED_ID[] =
    "[<b9163e4b98b3fbaacd26f813d6603914><b9163e4b98b3fbaacd26f813d6603914>]";

struct candidate {
    int64_t pos;     // where the dictionary stands in the input
    std::string text;
};

std::vector<candidate> trailer_dictionaries(const input_file& input, const obj_list& objects) {
    std::vector<candidate> found;
    const char* data = input.data.get();
    int32_t len = input.len;
    for (int32_t t = find_kw(data, len, 0, "trailer"); t >= 0;
         t = find_kw(data, len, t + 7, "trailer")) {
        int32_t q = t + 7;
        while (q < len && is_pdf_space(static_cast<unsigned char>(data[q]))) q++;
        std::string dict = extract_dict_at(data, len, q);
        if (!dict.empty()) found.push_back({q, std::move(dict)});
    }
    for (const pdf_obj& x : objects.xref_streams) {
        std::string dict = extract_dict_at(x.body.data(), x.body_len(), 0);
        if (!dict.empty()) found.push_back({x.body_pos >= 0 ? x.body_pos : x.hdr_pos, std::move(dict)});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const candidate& a, const candidate& b) { return a.pos < b.pos; });
    return found;
}

// Offset of the value of the first /key, white space skipped, in the last
// candidate that has the key; that candidate in *which. -1 when none has it.
int32_t last_value(const std::vector<candidate>& dicts, const char* key, const candidate** which) {
    for (size_t i = dicts.size(); i-- > 0;) {
        const std::string& d = dicts[i].text;
        int32_t len = static_cast<int32_t>(d.size());
        int32_t k = find_name(d.data(), len, 0, len, key);
        if (k < 0) continue;
        int32_t v = k + 1 + static_cast<int32_t>(strlen(key));
        while (v < len && is_pdf_space(static_cast<unsigned char>(d[v]))) v++;
        *which = &dicts[i];
        return v;
    }
    return -1;
}

// The number the /Info reference names, 0 when the value is no reference.
int32_t info_reference(const std::vector<candidate>& dicts) {
    const candidate* c = nullptr;
    int32_t v = last_value(dicts, "Info", &c);
    if (v < 0) return 0;
    const std::string& d = c->text;
    if (reference_end(d.data(), static_cast<int32_t>(d.size()), v) < 0) return 0;
    int32_t cursor = v;
    return parse_int_at(d.data(), static_cast<int32_t>(d.size()), &cursor);
}

int32_t info_number(const std::vector<candidate>& dicts, const obj_list& objects,
                    const page_layout& layout) {
    int32_t num = info_reference(dicts);
    const pdf_obj* rec = objects.find(num);
    if (!rec || rec->body.compare(0, 2, "<<") != 0) return 0;
    if (num > layout.max_num) return 0;
    int32_t n = layout.new_num[static_cast<size_t>(num)];
    return n > 0 ? n : 0;
}

// End of the string starting at i (literal with nesting and escapes, or
// hexadecimal), or -1 when there is none.
int32_t string_end(const std::string& d, size_t i) {
    if (i >= d.size()) return -1;
    if (d[i] == '<') {
        if (i + 1 < d.size() && d[i + 1] == '<') return -1;
        size_t close = d.find('>', i + 1);
        return close == std::string::npos ? -1 : static_cast<int32_t>(close + 1);
    }
    if (d[i] != '(') return -1;
    int depth = 1;
    for (size_t j = i + 1; j < d.size(); j++) {
        if (d[j] == '\\') j++;
        else if (d[j] == '(') depth++;
        else if (d[j] == ')' && --depth == 0) return static_cast<int32_t>(j + 1);
    }
    return -1;
}

size_t skip_space(const std::string& d, size_t i) {
    while (i < d.size() && is_pdf_space(static_cast<unsigned char>(d[i]))) i++;
    return i;
}

// The /ID array "[ string string ]" exactly as written, or the fixed pair.
std::string id_array(const std::vector<candidate>& dicts) {
    const candidate* c = nullptr;
    int32_t v = last_value(dicts, "ID", &c);
    if (v < 0) return FIXED_ID;
    const std::string& d = c->text;
    size_t i = static_cast<size_t>(v);
    if (i >= d.size() || d[i] != '[') return FIXED_ID;
    for (int s = 0; s < 2; s++) {
        int32_t end = string_end(d, skip_space(d, i + (s == 0 ? 1 : 0)));
        if (end < 0) return FIXED_ID;
        i = static_cast<size_t>(end);
    }
    i = skip_space(d, i);
    if (i >= d.size() || d[i] != ']') return FIXED_ID;
    return d.substr(static_cast<size_t>(v), i + 1 - static_cast<size_t>(v));
}

}  // namespace

int32_t trailer_info_ref(const input_file& input, const obj_list& objects) {
    return info_reference(trailer_dictionaries(input, objects));
}

trailer_extras find_trailer_extras(const input_file& input, const obj_list& objects,
                                   const page_layout& layout) {
    std::vector<candidate> dicts = trailer_dictionaries(input, objects);
    trailer_extras extras;
    extras.info = info_number(dicts, objects, layout);
    extras.id = id_array(dicts);
    return extras;
}
