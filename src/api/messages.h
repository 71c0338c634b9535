/*
 * The messages of morvel_optimize: every failure a stage can report, turned
 * into the text the caller reads, with the path it concerns.
 */
#ifndef MORVEL_API_MESSAGES_H
#define MORVEL_API_MESSAGES_H

#include "base/status.h"

// Sets the error text for a failed status (nothing for a success).
void report(const status& s, const char* input_path, const char* output_path);

#endif
