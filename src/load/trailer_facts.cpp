/*
 * Trailer entries, found by scanning: every dictionary after a "trailer"
 * keyword and every cross-reference stream dictionary is a candidate, and
 * the last one in the file that has the key decides (an incremental update
 * repeats or replaces the entries of the trailer before it). The catalog's
 * number comes from the file's last "/Root", wherever it stands.
 */
#include "load/trailer_facts.h"

#include <algorithm>
#include <cstring>

#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

struct candidate {
    int64_t pos;     // where the dictionary stands in the input
    std::string text;
};

std::vector<candidate> trailer_dictionaries(const input_file& input, const std::vector<pdf_obj>& xref_streams,
                                            const std::vector<int32_t>& trailers) {
    std::vector<candidate> found;
    const char* data = input.data.get();
    int32_t len = input.len;
    for (int32_t t : trailers) {
        int32_t q = skip_space(data, len, t + 7);
        std::string dict = extract_dict_at(data, len, q);
        if (!dict.empty()) found.push_back({q, std::move(dict)});
    }
    for (const pdf_obj& x : xref_streams) {
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

// The /ID array "[ string string ]" exactly as written, or "".
std::string id_array(const std::vector<candidate>& dicts) {
    const candidate* c = nullptr;
    int32_t v = last_value(dicts, "ID", &c);
    if (v < 0) return std::string();
    const char* d = c->text.data();
    int32_t len = static_cast<int32_t>(c->text.size());
    int32_t i = v;
    if (i >= len || d[i] != '[') return std::string();
    for (int s = 0; s < 2; s++) {
        i = string_token_end(d, len, skip_space(d, len, i + (s == 0 ? 1 : 0)));
        if (i < 0) return std::string();
    }
    i = skip_space(d, len, i);
    if (i >= len || d[i] != ']') return std::string();
    return c->text.substr(static_cast<size_t>(v), static_cast<size_t>(i + 1 - v));
}

// The integer after the last "/Root" of the file (a whole name, not
// "/RootX"), or 0. Trailers sit at the end, so the search runs backwards;
// the last one found decides even when its value is unusable.
int32_t root_number(const input_file& input) {
    const char* d = input.data.get();
    int32_t len = input.len;
    if (!d || len < 5) return 0;
    int32_t last = len - 5;  // last offset where "/Root" fits
    while (last >= 0) {
        const void* hit = memrchr(d, '/', static_cast<size_t>(last) + 1);
        if (!hit) return 0;
        int32_t p = static_cast<int32_t>(static_cast<const char*>(hit) - d);
        if (memcmp(d + p, "/Root", 5) == 0 && !(p + 5 < len && is_alnum(byte_at(d, p + 5)))) {
            int32_t cursor = p + 5;
            int32_t n = parse_int_at(d, len, &cursor);
            return n > 0 ? n : 0;
        }
        last = p - 1;
    }
    return 0;
}

}  // namespace

trailer_facts find_trailer_facts(const input_file& input, const std::vector<pdf_obj>& xref_streams,
                                 const landmarks& marks) {
    std::vector<candidate> dicts = trailer_dictionaries(input, xref_streams, marks.trailer);
    trailer_facts facts;
    facts.root = root_number(input);
    facts.info = info_reference(dicts);
    facts.id = id_array(dicts);
    return facts;
}

trailer_facts find_trailer_facts(const input_file& input, const std::vector<pdf_obj>& xref_streams) {
    return find_trailer_facts(input, xref_streams, find_landmarks(input.data.get(), input.len));
}
