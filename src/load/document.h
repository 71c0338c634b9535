/*
 * The document as loading leaves it: the input buffer, one record per
 * indirect object in an indexed table, the cross-reference streams, and
 * what the input's trailers say. Nothing in it points anywhere but into the
 * input buffer, which lives as long as the document.
 */
#ifndef MORVEL_LOAD_DOCUMENT_H
#define MORVEL_LOAD_DOCUMENT_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/input_file.h"
#include "pdf/dict.h"

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
    // The object's text: a view into the input buffer, or into the decoded
    // data of its object stream, which the document keeps. Empty when none.
    std::string_view body;
    const char* stream = nullptr;  // stream data inside the input buffer
    uint64_t stream_len = 0;
    obj_type type = TYPE_NONE;  // from the body's /Type; the analysis may settle the catalog otherwise
    // A stream whose first /Length reads as a reference ("12 0 R"): the
    // stages that follow such lengths pass the other streams over unread.
    bool length_ref = false;

    bool has_body() const { return !body.empty(); }
    int32_t body_len() const { return static_cast<int32_t>(body.size()); }
};

// Sets type from the body's /Type.
void classify_object(pdf_obj& obj);

// The object table. Order is meaningful (file order, as the loader met the
// objects); find() gives the first record with a number, through an index.
struct obj_list {
    std::vector<pdf_obj> items;

    pdf_obj* find(int32_t num);
    const pdf_obj* find(int32_t num) const;
    int32_t position(int32_t num) const;  // table position of find(num), or -1
    // Rebuilds the number index; call after the table changes.
    void build_index();

   private:
    std::vector<int32_t> flat_;  // by number, when the numbers are dense
    std::unordered_map<int32_t, int32_t> sparse_;  // numbers beyond flat_
};

// Whether a flat array by number (0 to max) stays small next to a table of
// count records; beyond that, lookups by number go through a hash map.
bool dense_numbers(int32_t max, size_t count);

// The largest object number that duplicate resolution and the renumbering
// accept.
inline constexpr int32_t MAX_OBJ_NUM = 0x7FFFFF;

// What the input's trailers (and cross-reference stream dictionaries) say.
struct trailer_facts {
    int32_t root = 0;  // the number after the file's last "/Root", 0 when none
    int32_t info = 0;  // the number /Info names in the last dictionary that has it, 0 when none
    std::string id;    // the /ID array as written there, empty when it is unusable
};

// Bytes that records' bodies view besides the input buffer: the decoded
// data of object streams.
using owned_bytes = std::unique_ptr<uint8_t[], free_deleter>;

struct document {
    input_file input;
    obj_list objects;
    std::vector<owned_bytes> unpacked;
    // Cross-reference streams, taken out of the table during expansion but
    // kept (file order) for the chain and the trailer entries they carry.
    std::vector<pdf_obj> xref_streams;
    trailer_facts trailer;
    std::string version;  // "d.d" of the header line, empty when unreadable
};

#endif
