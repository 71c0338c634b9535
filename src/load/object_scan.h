/*
 * The object scanner: every "N G obj" of the input becomes one record.
 */
#ifndef MORVEL_LOAD_OBJECT_SCAN_H
#define MORVEL_LOAD_OBJECT_SCAN_H

#include <vector>

#include "load/document.h"

// The data length of a stream whose /Length is a reference, known before
// the scan: the object whose header starts at hdr_pos.
struct known_length {
    int32_t hdr_pos;
    int32_t length;
};

// Every indirect object found by scanning the bytes, in file order. A
// stream whose length is known (directly, or in `known`, ascending by
// header offset) ends exactly there when "endstream" follows, and nothing
// inside its data is taken for an object.
void scan_objects(const input_file& input, std::vector<pdf_obj>& table, const std::vector<known_length>& known = {});

#endif
