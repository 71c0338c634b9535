/*
 * The object scanner: every "N G obj" of the input becomes one record.
 */
#ifndef MORVEL_LOAD_OBJECT_SCAN_H
#define MORVEL_LOAD_OBJECT_SCAN_H

#include <vector>

#include "load/document.h"

// Every indirect object found by scanning the bytes, in file order.
void scan_objects(const input_file& input, std::vector<pdf_obj>& table);

#endif
