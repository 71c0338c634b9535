/*
 * What the input's trailers say: which object is the catalog, which the
 * document information dictionary, and the file identifier.
 */
#ifndef MORVEL_LOAD_TRAILER_FACTS_H
#define MORVEL_LOAD_TRAILER_FACTS_H

#include <vector>

#include "load/document.h"
#include "load/landmarks.h"

// The "trailer" keywords are those of marks, found over the same input.
trailer_facts find_trailer_facts(const input_file& input, const std::vector<pdf_obj>& xref_streams,
                                 const landmarks& marks);
trailer_facts find_trailer_facts(const input_file& input, const std::vector<pdf_obj>& xref_streams);

#endif
