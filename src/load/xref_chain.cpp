/*
 * Reading the cross-reference chain: classic sections, cross-reference
 * streams, hybrid files (/XRefStm) and the /Prev links between sections.
 *
 * Entries are consulted newest first: the section that "startxref" names,
 * then each /Prev in turn. Within a classic section its in-use entries come
 * first, then the cross-reference stream its /XRefStm names, then its free
 * entries. The first entry met for a number decides alone. Any damage makes
 * the whole chain unusable: a half-read chain could pick a stale definition
 * with confidence.
 */

#include "load/xref_chain.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "load/stream_decode.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

enum entry_type : int32_t { FREE = 0, AT_OFFSET = 1, IN_OBJSTM = 2, OTHER = 3 };

struct xref_entry {
    int32_t type = FREE;
    int64_t field = 0;  // offset for AT_OFFSET, object stream number for IN_OBJSTM
};

struct damaged {};  // thrown inside the reader only, caught before it returns

struct chain_reader {
    const char* buf;
    int32_t len;
    const std::vector<pdf_obj>& table;
    const std::vector<pdf_obj>& xref_streams;
    std::unordered_map<int64_t, size_t> wanted;  // number -> index into the caller's list
    std::vector<xref_entry> first;
    std::vector<char> seen;
    std::unordered_set<int32_t> read_offsets;
    // Cross-reference stream records by header offset, made at first use:
    // a chain of many sections looks one up per section.
    std::unordered_map<int32_t, const pdf_obj*> streams_at;
    bool indexed = false;

    void note(int64_t num, xref_entry e) {
        auto it = wanted.find(num);
        if (it == wanted.end() || seen[it->second]) return;
        seen[it->second] = 1;
        first[it->second] = e;
    }
};

// A run of at least one digit at i, as a non-negative value; damage on
// overflow past 64 bits' worth of sense (more than 18 digits).
int64_t read_digits(const char* b, int32_t len, int32_t& i) {
    int32_t start = i;
    int64_t v = 0;
    while (i < len && is_digit(byte_at(b, i))) {
        if (i - start >= 18) throw damaged{};
        v = v * 10 + (b[i] - '0');
        i++;
    }
    if (i == start) throw damaged{};
    return v;
}

// The value of the first /key of a dictionary: absent gives -1, a present
// key without a non-negative integer after it is damage.
int64_t offset_entry(std::string_view dict, const char* key) {
    int32_t n = static_cast<int32_t>(dict.size());
    int32_t k = find_name(dict.data(), n, 0, n, key);
    if (k < 0) return -1;
    int32_t i = skip_space(dict.data(), n, k + 1 + static_cast<int32_t>(strlen(key)));
    return read_digits(dict.data(), n, i);
}

// "[" integers "]" after the first /key; the integers, or damage.
std::vector<int64_t> int_array(std::string_view dict, int32_t key_pos, size_t key_len) {
    const char* b = dict.data();
    int32_t n = static_cast<int32_t>(dict.size());
    int32_t i = skip_space(b, n, key_pos + 1 + static_cast<int32_t>(key_len));
    if (i >= n || b[i] != '[') throw damaged{};
    std::vector<int64_t> out;
    for (i = skip_space(b, n, i + 1); i < n && b[i] != ']'; i = skip_space(b, n, i))
        out.push_back(read_digits(b, n, i));
    if (i >= n) throw damaged{};
    return out;
}

// Consults every entry of the cross-reference stream r; returns its /Prev.
int64_t read_stream_section(chain_reader& c, const pdf_obj& r) {
    std::string_view d = r.body;
    int32_t n = r.body_len();
    int32_t wk = find_name(d.data(), n, 0, n, "W");
    if (wk < 0) throw damaged{};
    std::vector<int64_t> w = int_array(d, wk, 1);
    if (w.size() != 3 || w[0] + w[1] + w[2] <= 0) throw damaged{};
    std::vector<int64_t> index;
    int32_t ik = find_name(d.data(), n, 0, n, "Index");
    if (ik >= 0) {
        index = int_array(d, ik, 5);
        if (index.size() % 2) throw damaged{};
    } else {
        int32_t size = dict_int(d.data(), n, "Size");
        if (size < 0) throw damaged{};
        index = {0, size};
    }
    int64_t width = w[0] + w[1] + w[2], entries = 0;
    for (size_t k = 1; k < index.size(); k += 2) {
        if (index[k] > (int64_t{1} << 40)) throw damaged{};  // more than any data can hold
        entries += index[k];
    }
    decoded_stream data;
    if (decode_stream(r, data) != decode_result::decoded) throw damaged{};
    if (data.len / width < entries) throw damaged{};

    const auto* p = reinterpret_cast<const uint8_t*>(data.bytes);
    auto field = [&p](int64_t bytes) {
        uint64_t v = 0;
        for (int64_t b = 0; b < bytes; b++) v = (v << 8) | *p++;
        return v;
    };
    for (size_t k = 0; k < index.size(); k += 2) {
        for (int64_t j = 0; j < index[k + 1]; j++) {
            uint64_t type = w[0] ? field(w[0]) : 1;
            uint64_t f2 = field(w[1]);
            field(w[2]);
            int32_t t = type <= 2 ? static_cast<int32_t>(type) : OTHER;
            c.note(index[k] + j, xref_entry{t, static_cast<int64_t>(f2 & 0x7FFFFFFFFFFFFFFF)});
        }
    }
    return offset_entry(d, "Prev");
}

const pdf_obj* stream_record_at(chain_reader& c, int32_t x) {
    if (!c.indexed) {
        for (const pdf_obj& r : c.xref_streams) c.streams_at.emplace(r.hdr_pos, &r);
        for (const pdf_obj& r : c.table)
            if (has_type(r.body.data(), r.body_len(), "XRef")) c.streams_at.emplace(r.hdr_pos, &r);
        c.indexed = true;
    }
    auto it = c.streams_at.find(x);
    return it == c.streams_at.end() ? nullptr : it->second;
}

struct classic_entry {
    int64_t num;
    int64_t offset;
};

// Reads the classic section at x: its entries split into in-use and free,
// and its trailer dictionary.
void parse_classic(const chain_reader& c, int32_t x, std::vector<classic_entry>& used,
                   std::vector<classic_entry>& freed, std::string& trailer) {
    const char* b = c.buf;
    int32_t len = c.len;
    int32_t i = x + 4;
    for (;;) {
        i = skip_space(b, len, i);
        if (i >= len) throw damaged{};
        if (kw_at(b, i, len, "trailer")) break;
        int64_t start = read_digits(b, len, i);
        if (i >= len || !is_pdf_space(byte_at(b, i))) throw damaged{};
        i = skip_space(b, len, i);
        int64_t count = read_digits(b, len, i);
        i = skip_space(b, len, i);
        for (int64_t k = 0; k < count; k++, i += 20) {
            if (len - i < 20) throw damaged{};
            const char* e = b + i;
            int64_t off = 0;
            for (int d = 0; d < 10; d++) {
                if (!is_digit(static_cast<unsigned char>(e[d]))) throw damaged{};
                off = off * 10 + (e[d] - '0');
            }
            for (int d = 11; d < 16; d++)
                if (!is_digit(static_cast<unsigned char>(e[d]))) throw damaged{};
            bool eol = (e[18] == ' ' && (e[19] == '\r' || e[19] == '\n')) ||
                       (e[18] == '\r' && e[19] == '\n');
            if (e[10] != ' ' || e[16] != ' ' || (e[17] != 'n' && e[17] != 'f') || !eol) throw damaged{};
            (e[17] == 'n' ? used : freed).push_back(classic_entry{start + k, off});
        }
    }
    trailer = extract_dict_at(b, len, skip_space(b, len, i + 7));
    if (trailer.empty()) throw damaged{};
}

// Follows the chain from offset x; false when it is damaged.
void walk(chain_reader& c, int64_t x) {
    while (x >= 0) {
        if (x >= c.len) throw damaged{};
        int32_t at = static_cast<int32_t>(x);
        if (!c.read_offsets.insert(at).second) return;
        if (!kw_at(c.buf, at, c.len, "xref")) {
            const pdf_obj* r = stream_record_at(c, at);
            if (!r) throw damaged{};
            x = read_stream_section(c, *r);
            continue;
        }
        std::vector<classic_entry> used, freed;
        std::string trailer;
        parse_classic(c, at, used, freed, trailer);
        for (const classic_entry& e : used) c.note(e.num, xref_entry{AT_OFFSET, e.offset});
        int64_t stm = offset_entry(trailer, "XRefStm");
        if (stm >= 0) {
            if (stm >= c.len) throw damaged{};
            if (!c.read_offsets.insert(static_cast<int32_t>(stm)).second) return;
            const pdf_obj* r = stream_record_at(c, static_cast<int32_t>(stm));
            if (!r) throw damaged{};
            read_stream_section(c, *r);
        }
        for (const classic_entry& e : freed) c.note(e.num, xref_entry{FREE, e.offset});
        x = offset_entry(trailer, "Prev");
    }
}

// The integer after the last "startxref" keyword, or -1.
int64_t startxref_value(const char* b, int32_t len) {
    for (int32_t i = len - 9; i >= 0; i--) {
        const void* hit = memrchr(b, 's', static_cast<size_t>(i) + 1);
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const char*>(hit) - b);
        if (kw_at(b, i, len, "startxref")) {
            int32_t cur = i + 9;
            int32_t v = parse_int_at(b, len, &cur);
            return v >= 0 && v < len ? v : -1;
        }
    }
    return -1;
}

// The table position of the one definition of num that the entry names, or -1.
int32_t settle(const std::vector<pdf_obj>& table, const std::vector<int32_t>& defs, xref_entry e) {
    int32_t hit = -1, hits = 0;
    for (int32_t pos : defs) {
        const pdf_obj& r = table[static_cast<size_t>(pos)];
        bool match = (e.type == AT_OFFSET && r.hdr_pos >= 0 && r.hdr_pos == e.field) ||
                     (e.type == IN_OBJSTM && r.objstm_num > 0 && r.objstm_num == e.field);
        if (match) hit = pos, hits++;
    }
    return hits == 1 ? hit : -1;
}

}  // namespace

// Reads the chain for numbers into c; false when it is missing or damaged.
static bool read_chain(chain_reader& c, const std::vector<int32_t>& numbers) {
    for (size_t k = 0; k < numbers.size(); k++) c.wanted.emplace(numbers[k], k);
    c.first.resize(numbers.size());
    c.seen.assign(numbers.size(), 0);
    int64_t start = startxref_value(c.buf, c.len);
    if (start < 0) return false;
    try {
        walk(c, start);
    } catch (const damaged&) {
        return false;
    }
    return true;
}

bool chain_live_definitions(const input_file& input, const std::vector<pdf_obj>& table,
                            const std::vector<pdf_obj>& xref_streams,
                            const std::vector<int32_t>& numbers, std::vector<int32_t>& winner) {
    winner.assign(numbers.size(), -1);
    if (numbers.empty()) return true;
    chain_reader c{input.data.get(), input.len, table, xref_streams, {}, {}, {}, {}, {}, false};
    if (!read_chain(c, numbers)) return false;

    std::vector<std::vector<int32_t>> defs(numbers.size());
    for (size_t pos = 0; pos < table.size(); pos++) {
        auto it = c.wanted.find(table[pos].num);
        if (it != c.wanted.end()) defs[it->second].push_back(static_cast<int32_t>(pos));
    }
    for (size_t k = 0; k < numbers.size(); k++)
        if (c.seen[k]) winner[k] = settle(table, defs[k], c.first[k]);
    return true;
}

bool chain_offsets(const input_file& input, const std::vector<pdf_obj>& table, const std::vector<int32_t>& numbers,
                   std::vector<int64_t>& offsets) {
    offsets.assign(numbers.size(), -1);
    if (numbers.empty()) return true;
    const std::vector<pdf_obj> no_streams;
    chain_reader c{input.data.get(), input.len, table, no_streams, {}, {}, {}, {}, {}, false};
    if (!read_chain(c, numbers)) return false;
    for (size_t k = 0; k < numbers.size(); k++)
        if (c.seen[k] && c.first[k].type == AT_OFFSET) offsets[k] = c.first[k].field;
    return true;
}
