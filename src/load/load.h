/*
 * Document loading: the input buffer and the object table.
 *
 * The loader reads the whole input into memory, refuses encrypted files,
 * finds every indirect object by scanning the bytes for "N G obj", unpacks
 * object streams and keeps one definition per object number. Later phases
 * read the table; nothing in it points anywhere but into the input buffer,
 * which lives as long as the table.
 */
#ifndef MORVEL_LOAD_H
#define MORVEL_LOAD_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/input_file.h"
#include "base/status.h"

// One indirect object of the input.
struct pdf_obj {
    int32_t num = 0;
    int32_t gen = 0;
    int32_t hdr_pos = 0;        // first digit of the object number; -1 from an object stream
    int32_t body_pos = 0;       // "<<" opening the body; -1 when it is not a dictionary
    int32_t stream_kw_pos = 0;  // "stream" keyword; -1 without a stream
    int32_t data_pos = 0;       // first stream data byte; 0 without a stream
    int32_t data_end = 0;       // just past the last stream data byte
    int32_t endobj_pos = 0;     // "endobj" keyword; 0 from an object stream
    int32_t end_pos = 0;        // endobj_pos + 6
    int32_t data_len = 0;
    int32_t has_stream = 0;
    int32_t objstm_num = 0;  // number of the object stream it was unpacked from, 0 if top-level
    std::string body;        // the object's text; empty when nothing was copied
    const char* stream = nullptr;  // stream data inside the input buffer
    uint64_t stream_len = 0;
    int32_t is_page = 0;
    int32_t is_pages = 0;
    int32_t is_catalog = 0;
    std::vector<int32_t> ref_pages;  // indices into page_list of the pages reaching it

    bool has_body() const { return !body.empty(); }
    int32_t body_len() const { return static_cast<int32_t>(body.size()); }
};

// The object table. Order is meaningful (file order, as the loader met the
// objects); find() gives the first record with a number, through an index.
struct obj_list {
    std::vector<pdf_obj> items;
    // Cross-reference streams, taken out of the table during expansion but
    // kept (file order) for the trailer entries they carry (/Info, /ID, /Prev).
    std::vector<pdf_obj> xref_streams;

    pdf_obj* find(int32_t num);
    const pdf_obj* find(int32_t num) const;
    int32_t position(int32_t num) const;  // table position of find(num), or -1
    // Rebuilds the number index; call after the table changes.
    void build_index();

   private:
    std::vector<int32_t> flat_;  // by number, when the numbers are dense
    std::unordered_map<int32_t, int32_t> sparse_;  // numbers beyond flat_
};

// The largest object number that duplicate resolution and the renumbering
// accept.
inline constexpr int32_t MAX_OBJ_NUM = 0x7FFFFF;

// Encryption refusal, object scan, object-stream expansion, duplicate
// resolution, stream lengths given by reference, and the empty check.
// Leaves the table indexed.
status load_objects(const input_file& input, obj_list& objects);

// The steps of the two phases, in the order they run.

// 1 when "/Encrypt" stands near a "trailer" or a "/XRef" of buf.
bool mentions_encryption(const char* buf, int32_t len);

// Every indirect object found by scanning the bytes, in file order.
void scan_objects(const input_file& input, std::vector<pdf_obj>& table);

// Replaces each readable object stream by the objects inside it and moves
// cross-reference streams out of the table into xref_streams.
void expand_object_streams(std::vector<pdf_obj>& table, std::vector<pdf_obj>& xref_streams);

// The data of a stream as object streams and cross-reference streams are
// read: FlateDecode (with PNG predictors) or no filter at all. Either a view
// of the input or an owned inflated buffer.
struct decoded_stream {
    std::unique_ptr<uint8_t[], free_deleter> owned;
    const char* bytes = nullptr;
    int32_t len = 0;
};
// False for another filter, or data that does not decode.
bool decode_stream(const pdf_obj& stm, decoded_stream& out);

// Keeps one record per object number: the one the input's cross-reference
// chain names as live, else the last one in table order.
void resolve_duplicates(const input_file& input, obj_list& objects);

// The result of a forward search, remembered so that searches from
// increasing positions pass over the buffer once in all: the first hit of
// find(buf, len, x, kw) at or after x.
struct search_memo {
    const char* buf;
    int32_t len;
    const char* kw;
    int32_t (*find)(const char* buf, int32_t len, int32_t from, const char* kw);
    int32_t from = -1;
    int32_t hit = -1;

    int32_t next(int32_t x) {
        if (from >= 0 && x >= from && (hit < 0 || x <= hit)) return hit;
        from = x;
        hit = find(buf, len, x, kw);
        return hit;
    }
};

// Sets the type flags from the body's /Type.
void classify_object(pdf_obj& obj);

#endif
