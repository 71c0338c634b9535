/*
 * The linearization check.
 *
 * A linearized file opens with an indirect object whose dictionary holds
 * /Linearized, /L (the file size), /H (hint stream offset and length), /O
 * (first page object), /E (end of the first page), /N (page count) and /T
 * (main cross-reference table). The check reads the first 1023 bytes once,
 * finds that dictionary and tests each entry for presence and plausibility.
 * Keys are found by a flat search of the dictionary text: a key of a nested
 * dictionary that comes first wins, as in the rest of the library.
 */
#include "api/check.h"

#include <sys/stat.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/error.h"
#include "morvel.h"
#include "pdf/lexer.h"

namespace {

struct head {
    char buf[CHECK_HEAD_MAX + 1];
    int32_t n;     // bytes read
    int32_t size;  // whole file size
};

// The first object "N G obj" with N > 0 in the head; -1 when there is none.
int32_t first_object(const head& h) {
    for (int32_t o = 5; o <= h.n - 4; o++) {
        int32_t num = 0, gen = 0;
        if (kw_at(h.buf, o, h.n, "obj") && parse_obj_head(h.buf, o, &num, &gen) >= 0 && num > 0)
            return o;
    }
    return -1;
}

// Offset of the "<<" that opens the object's dictionary, or -1 when "endobj"
// or the end of the head comes first.
int32_t dict_start(const head& h, int32_t obj_pos) {
    for (int32_t p = obj_pos + 3; p + 1 < h.n; p++) {
        if (h.buf[p] == '<' && h.buf[p + 1] == '<') return p;
        if (kw_at(h.buf, p, h.n, "endobj")) return -1;
    }
    return -1;
}

// End (exclusive) of the dictionary opening at p: past the matching ">>", or
// where the bytes read run out, so that a dictionary cut off by the head's
// limit is examined as far as it was read.
int32_t dict_end(const head& h, int32_t p) { return dict_brackets(h.buf, h.n, p).end; }

struct dict_view {
    const head& h;
    int32_t p, e;

    int32_t key(const char* name) const { return find_name(h.buf, h.n, p, e, name); }
    // Offset of the first byte after the key at k that is not PDF white space.
    int32_t value_at(int32_t k, int32_t key_len) const { return skip_space(h.buf, e, k + key_len); }
    // Integer after a one-letter key at k.
    int32_t int_after(int32_t k) const {
        int32_t c = k + 2;
        return parse_int_at(h.buf, e, &c);
    }
};

// Steps 8 to 14: the entries of the dictionary, each a message on failure.
bool check_entries(const dict_view& d) {
    const char* b = d.h.buf;
    int32_t k = d.key("Linearized");
    if (k < 0) return set_error("/Linearized key missing in first object dictionary"), false;
    int32_t v = d.value_at(k, 11);
    if (v >= d.e || !(is_digit(static_cast<unsigned char>(b[v])) || b[v] == '+'))
        return set_error("invalid /Linearized version value"), false;

    if ((k = d.key("L")) < 0) return set_error("/L key missing in linearization dictionary"), false;
    int32_t L = d.int_after(k);
    if (L != d.h.size)
        return set_error("/L mismatch: declared %ld vs actual %ld", static_cast<long>(L),
                         static_cast<long>(d.h.size)),
               false;

    if ((k = d.key("H")) < 0) return set_error("/H key missing in linearization dictionary"), false;
    v = d.value_at(k, 2);
    if (v >= d.e || b[v] != '[') return set_error("/H value is not an array"), false;
    int32_t c = v + 1;
    int32_t hint_off = parse_int_at(b, d.e, &c);
    int32_t hint_len = parse_int_at(b, d.e, &c);
    if (hint_off < 1 || hint_len < 1)
        return set_error("/H array does not contain valid offset and length"), false;

    if ((k = d.key("O")) < 0) return set_error("/O key missing in linearization dictionary"), false;
    if (d.int_after(k) < 1) return set_error("/O value invalid"), false;

    if ((k = d.key("E")) < 0) return set_error("/E key missing in linearization dictionary"), false;
    int32_t E = d.int_after(k);
    if (E < 1 || E > L) return set_error("/E value invalid (%ld)", static_cast<long>(E)), false;

    if ((k = d.key("N")) < 0) return set_error("/N key missing in linearization dictionary"), false;
    int32_t N = d.int_after(k);
    if (N < 1) return set_error("/N value invalid (%ld)", static_cast<long>(N)), false;

    if ((k = d.key("T")) < 0) return set_error("/T key missing in linearization dictionary"), false;
    int32_t T = d.int_after(k);
    if (T < 1 || T >= L) return set_error("/T value invalid (%ld)", static_cast<long>(T)), false;
    return true;
}

// Step 2: the size, for a file or a buffer called name.
bool size_acceptable(const char* name, int64_t size, head& h) {
    // Offsets are 32-bit: a size that does not fit must not wrap into a
    // plausible-looking small number.
    if (size > INT32_MAX)
        return set_error("file '%s' is too large (%lld bytes)", name, static_cast<long long>(size)), false;
    h.size = static_cast<int32_t>(size);
    if (h.size < 64)
        return set_error("file '%s' is too small (%ld bytes)", name, static_cast<long>(h.size)), false;
    return true;
}

// Steps 1 to 3: the size and the head of the file.
bool read_head(const char* path, head& h) {
    if (!path || !*path) return set_error("input_path is NULL or empty"), false;
    struct stat st;
    if (stat(path, &st) != 0) {
        int err = errno;
        set_error("cannot stat '%s'", path);
        set_error_errno(err);
        return false;
    }
    if (!size_acceptable(path, st.st_size, h)) return false;
    FILE* f = fopen(path, "rb");
    if (!f) {
        int err = errno;
        set_error("cannot open '%s'", path);
        set_error_errno(err);
        return false;
    }
    h.n = static_cast<int32_t>(fread(h.buf, 1, CHECK_HEAD_MAX, f));
    fclose(f);
    h.buf[h.n] = '\0';
    return true;
}

// The steps after reading: the header line and the linearization dictionary.
int check_head(const head& h) {
    if (h.n <= 7 || memcmp(h.buf, "%PDF-", 5) != 0)
        return set_error("file does not start with %%PDF-"), 0;
    int32_t o = first_object(h);
    if (o < 0) return set_error("no object header found in first 1024 bytes"), 0;
    int32_t p = dict_start(h, o);
    if (p < 0) return set_error("linearization dictionary not found in first object"), 0;
    if (!check_entries(dict_view{h, p, dict_end(h, p)})) return 0;
    clear_error();
    return 1;
}

}  // namespace

int check_bytes(const char* data, size_t len, const char* name) {
    head h;
    if (!size_acceptable(name, static_cast<int64_t>(len > INT64_MAX ? INT64_MAX : len), h)) return 0;
    h.n = static_cast<int32_t>(len < CHECK_HEAD_MAX ? len : CHECK_HEAD_MAX);
    memcpy(h.buf, data, static_cast<size_t>(h.n));
    h.buf[h.n] = '\0';
    return check_head(h);
}

extern "C" int morvel_check_mem(const void* input, size_t input_len) {
    if (!input) return set_error("input is NULL"), 0;
    return check_bytes(static_cast<const char*>(input), input_len, "<memory>");
}

extern "C" int morvel_check(const char* input_path) {
    head h;
    if (!read_head(input_path, h)) return 0;
    return check_head(h);
}
