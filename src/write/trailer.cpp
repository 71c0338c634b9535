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

#include "pdf/dict.h"
#include "pdf/lexer.h"
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
        int32_t q = skip_space(data, len, t + 7);
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
        int32_t v = key_value(d.data(), static_cast<int32_t>(d.size()), key);
        if (v < 0) continue;
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
    int32_t num = 0, gen = 0;
    return reference_at(d.data(), static_cast<int32_t>(d.size()), v, &num, &gen) < 0 ? 0 : num;
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

// The /ID array "[ string string ]" exactly as written, or the fixed pair.
std::string id_array(const std::vector<candidate>& dicts) {
    const candidate* c = nullptr;
    int32_t v = last_value(dicts, "ID", &c);
    if (v < 0) return FIXED_ID;
    const char* d = c->text.data();
    int32_t len = static_cast<int32_t>(c->text.size());
    int32_t i = v;
    if (i >= len || d[i] != '[') return FIXED_ID;
    for (int s = 0; s < 2; s++) {
        i = string_token_end(d, len, skip_space(d, len, i + (s == 0 ? 1 : 0)));
        if (i < 0) return FIXED_ID;
    }
    i = skip_space(d, len, i);
    if (i >= len || d[i] != ']') return FIXED_ID;
    return c->text.substr(static_cast<size_t>(v), static_cast<size_t>(i + 1 - v));
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
