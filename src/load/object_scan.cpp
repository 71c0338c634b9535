/*
 * The object scanner: every "N G obj" of the input becomes one record.
 *
 * Objects are found by their headers, not through the cross-reference
 * data (which may be missing or wrong). An object's text runs to its "endobj", or to the next object
 * header when that comes first, so bodies never overlap and a damaged file
 * costs linear time. A stream's data ends where its length says when
 * "endstream" stands there (then nothing inside the data is taken for a
 * header); otherwise at the "endstream" keyword, less one line end. The
 * length is a direct /Length, or one the loader worked out beforehand for a
 * /Length given by reference.
 */
#include <algorithm>
#include <cstring>

#include "load/object_scan.h"

#include "base/parallel.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/search_memo.h"
#include "pdf/stream_extent.h"

// The "obj" keyword of the first object header (object number above 0)
// whose "obj" lies in [from, below], or -1. Candidates are found by their
// rarer last letter.
static int32_t find_header_below(const char* buf, int32_t len, int32_t from, int32_t below) {
    const int32_t last = std::min(len - 4, below);  // the scan stops at len - 4
    for (int32_t j = from + 2; j <= last + 2;) {
        const void* hit = memchr(buf + j, 'j', static_cast<size_t>(last + 3 - j));
        if (!hit) return -1;
        j = static_cast<int32_t>(static_cast<const char*>(hit) - buf);
        int32_t p = j - 2;
        int32_t num, gen;
        if (buf[p] == 'o' && buf[p + 1] == 'b' && kw_at(buf, p, len, "obj") &&
            parse_obj_head(buf, p, &num, &gen) >= 0 && num > 0)
            return p;
        j++;
    }
    return -1;
}

static int32_t find_header(const char* buf, int32_t len, int32_t from, const char*) {
    return find_header_below(buf, len, from, len);
}

// Offset of the first digit of the header whose "obj" is at p.
static int32_t header_start(const char* buf, int32_t p) {
    int32_t num, gen;
    return parse_obj_head(buf, p, &num, &gen);
}

namespace {

// Walks the input from header to header and fills the scan table.
struct scanner {
    const char* buf;
    int32_t len;
    const std::vector<known_length>& known;
    search_memo headers{buf, len, "obj", find_header};
    search_memo endobjs{buf, len, "endobj", find_kw};
    search_memo streams{buf, len, "stream", find_kw};

    int32_t known_at(int32_t hdr_pos) const {
        auto it = std::lower_bound(known.begin(), known.end(), hdr_pos,
                                   [](const known_length& k, int32_t at) { return k.hdr_pos < at; });
        return it != known.end() && it->hdr_pos == hdr_pos ? it->length : -1;
    }
};

}  // namespace

// A direct /Length: an integer that is no reference. -1 otherwise.
static int32_t direct_length(const length_entry& e) { return e.value >= 0 && e.ref_end < 0 ? e.value : -1; }

static void set_data(pdf_obj& o, const char* buf, int32_t data_end) {
    o.data_end = data_end;
    o.data_len = data_end - o.data_pos;
    o.stream = buf + o.data_pos;
    o.stream_len = static_cast<uint64_t>(o.data_len);
}

// The end of an object whose "endobj" is e: the next header's first digit
// when that comes first.
static int32_t bounded_end(const char* buf, int32_t e, int32_t next_header) {
    if (next_header < 0) return e;
    int32_t h = header_start(buf, next_header);
    return h < e ? h : e;
}

// Completes a record that is kept: its end and its /Type.
static void finish_record(pdf_obj& o, int32_t endobj) {
    o.endobj_pos = endobj;
    o.end_pos = endobj + 6;
    classify_object(o);
}

// A stream object starting with the dictionary at q: its keyword, body and
// data start, given its dictionary's /Length entry.
static void open_stream(pdf_obj& o, const char* buf, int32_t len, int32_t q, int32_t s, const length_entry& e) {
    o.body_pos = q;
    o.stream_kw_pos = s;
    o.has_stream = 1;
    o.data_pos = data_start(buf, len, s);
    o.body = extract_dict_text(buf, q, s);
    o.length_ref = e.ref_end >= 0;
}

// Fills a stream object whose data a known length gives exactly, without
// searching the data; false when the object needs the general rules.
static bool scan_exact_stream(scanner& sc, int32_t pos, int32_t q, pdf_obj& o, bool& keep, int32_t& next) {
    const char* buf = sc.buf;
    int32_t s = sc.streams.next(q);
    if (s < 0 || !stream_follows_dict(buf, q, s)) return false;
    // Neither an "endobj" nor another header may come first.
    if (find_kw(buf, s, pos + 3, "endobj") >= 0 || find_header_below(buf, sc.len, pos + 1, s - 1) >= 0)
        return false;
    length_entry entry = read_length_entry(buf + q, s - q);
    int32_t length = direct_length(entry);
    if (length < 0) length = sc.known_at(o.hdr_pos);
    if (length < 0) return false;
    int32_t data_pos = data_start(buf, sc.len, s);
    int32_t es = endstream_after(buf, sc.len, static_cast<int64_t>(data_pos) + length);
    if (es < 0) return false;

    int32_t e = sc.endobjs.next(es + 9);
    if (e < 0) {
        keep = false;
        next = sc.headers.next(pos + 1);
        return true;
    }
    // Headers inside the data are not headers.
    next = sc.headers.next(data_pos + length);
    open_stream(o, buf, sc.len, q, s, entry);
    set_data(o, buf, data_pos + length);
    finish_record(o, bounded_end(buf, e, next));
    keep = true;
    return true;
}

// The general rules: the object ends at its "endobj" or the next header,
// whichever comes first, and the stream keyword and data lie before that.
static int32_t scan_bounded_object(scanner& sc, int32_t pos, int32_t q, pdf_obj& o, bool& keep) {
    const char* buf = sc.buf;
    int32_t next = sc.headers.next(pos + 1);
    int32_t a = pos + 3;
    int32_t e = sc.endobjs.next(a);
    if (e < 0) return next;
    e = bounded_end(buf, e, next);

    o.stream_kw_pos = -1;
    if (!(q + 1 < sc.len && buf[q] == '<' && buf[q + 1] == '<')) {
        o.body_pos = -1;
        o.body = extract_dict_text(buf, a, e);
    } else {
        int32_t s = find_kw(buf, e, q, "stream");
        if (s < 0 || !stream_follows_dict(buf, q, s)) {
            o.body_pos = q;
            o.body = extract_dict_text(buf, q, e);
        } else {
            length_entry entry = read_length_entry(buf + q, s - q);
            open_stream(o, buf, sc.len, q, s, entry);
            int32_t length = direct_length(entry);
            int32_t es = length >= 0 ? endstream_after(buf, sc.len, static_cast<int64_t>(o.data_pos) + length) : -1;
            if (es < 0) {
                set_data(o, buf, keyword_data_end(buf, o.data_pos, e));
            } else {
                // The data is known exactly: its "endobj" follows "endstream",
                // and headers inside it are not headers.
                set_data(o, buf, o.data_pos + length);
                e = sc.endobjs.next(es + 9);
                if (e < 0) return next;
                if (next >= 0 && next < o.data_end) next = sc.headers.next(o.data_end);
                e = bounded_end(buf, e, next);
            }
        }
    }
    finish_record(o, e);
    keep = true;
    return next;
}

// Fills a record for the header whose "obj" is at pos. Returns the "obj" of
// the header to look at next, and whether the record is to be kept.
static int32_t scan_object(scanner& sc, int32_t pos, pdf_obj& o, bool& keep) {
    const char* buf = sc.buf;
    keep = false;
    o.hdr_pos = parse_obj_head(buf, pos, &o.num, &o.gen);
    int32_t q = skip_space(buf, sc.len, pos + 3);
    int32_t next;
    if (q + 1 < sc.len && buf[q] == '<' && buf[q + 1] == '<' && scan_exact_stream(sc, pos, q, o, keep, next))
        return next;
    return scan_bounded_object(sc, pos, q, o, keep);
}

// Room for the records of a typical file, reserved at once: the table
// never moves while the whole input is in memory (a move holds both
// copies), and room never used costs no memory.
constexpr int32_t BYTES_PER_RECORD_GUESS = 1024;

// Inputs from this size on are scanned in parts side by side, each part at
// least PART_MIN bytes and at most MAX_PARTS of them (objects crowd where
// pages are, so parts are many and handed out as threads come free).
constexpr int32_t SPLIT_MIN = 8 << 20;
constexpr int32_t PART_MIN = 4 << 20;
constexpr int32_t MAX_PARTS = 16;
// A part's room is reserved for more records than the table's guess: a
// part of the file may hold most of its objects.
constexpr int32_t PART_BYTES_PER_RECORD_GUESS = 256;

// Scans the header whose "obj" is at pos into table if it is kept; the
// "obj" to look at next.
static int32_t step(scanner& sc, int32_t pos, std::vector<pdf_obj>& table) {
    pdf_obj o;
    bool keep;
    pos = scan_object(sc, pos, o, keep);
    if (keep) table.push_back(std::move(o));
    return pos;
}

namespace {

// The walk of one part: from the first header at or after the part's start
// until it reaches the next part's. Where it stood, how many records it had
// kept before each of those places, and where it stopped (-1: the end).
struct part_walk {
    std::vector<int32_t> visits;
    std::vector<size_t> kept_before;
    std::vector<pdf_obj> records;
    int32_t end = -1;
};

void walk_part(scanner& sc, int32_t from, int32_t stop, part_walk& out) {
    int32_t pos = sc.headers.next(from);
    while (pos >= 0 && (stop < 0 || pos < stop)) {
        out.visits.push_back(pos);
        out.kept_before.push_back(out.records.size());
        pos = step(sc, pos, out.records);
    }
    out.end = pos;
}

}  // namespace

// What the walk does at a header depends on nothing but the header's
// offset (the memos only remember searches). So each part's walk may start
// at the first header past the part's start, perhaps inside some stream's
// data that the walk before it passes over: once the walk so far stands
// where a part's walk stood, everything after is that part's, up to where
// it stopped. Where they never meet, the walk so far goes on alone. The
// table is the one a single walk makes.
void scan_objects(const input_file& input, std::vector<pdf_obj>& table, const std::vector<known_length>& known) {
    table.reserve(table.size() + static_cast<size_t>(input.len / BYTES_PER_RECORD_GUESS) + 16);
    scanner alone{input.data.get(), input.len, known};
    const int32_t parts = std::min(MAX_PARTS, input.len / PART_MIN);
    const size_t threads = input.len >= SPLIT_MIN ? threads_for(static_cast<size_t>(parts), 1) : 1;
    if (threads < 2) {
        for (int32_t pos = alone.headers.next(0); pos >= 0;) pos = step(alone, pos, table);
        return;
    }
    auto start_of = [&](int32_t k) { return static_cast<int32_t>(static_cast<int64_t>(input.len) * k / parts); };
    // Room reserved here, from one mapping each, given back whole as each
    // part joins the table: memory that grew on a worker's heap would
    // stay with it and add to the peak.
    std::vector<part_walk> walks(static_cast<size_t>(parts));
    for (int32_t k = 0; k < parts; k++) {
        size_t guess = static_cast<size_t>(start_of(k + 1) - start_of(k)) / PART_BYTES_PER_RECORD_GUESS + 16;
        part_walk& w = walks[static_cast<size_t>(k)];
        w.visits.reserve(guess);
        w.kept_before.reserve(guess);
        w.records.reserve(guess);
    }
    for_each_item(walks.size(), threads, 1, [&](size_t k, size_t) {
        scanner sc{input.data.get(), input.len, known};
        int32_t part = static_cast<int32_t>(k);
        walk_part(sc, start_of(part), part + 1 < parts ? start_of(part + 1) : -1, walks[k]);
    });
    int32_t pos = alone.headers.next(0);
    for (int32_t part = 0; part < parts; part++) {
        part_walk& w = walks[static_cast<size_t>(part)];
        const int32_t stop = part + 1 < parts ? start_of(part + 1) : -1;
        while (pos >= 0 && (stop < 0 || pos < stop)) {
            auto at = std::lower_bound(w.visits.begin(), w.visits.end(), pos);
            if (at == w.visits.end() || *at != pos) {
                pos = step(alone, pos, table);
                continue;
            }
            auto from = w.records.begin() + static_cast<std::ptrdiff_t>(w.kept_before[static_cast<size_t>(at - w.visits.begin())]);
            table.insert(table.end(), std::make_move_iterator(from), std::make_move_iterator(w.records.end()));
            pos = w.end;
        }
        w = part_walk();
    }
}
