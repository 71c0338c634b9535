/*
 * Conformance a document declares that limits how it may be written.
 * PDF/A-1 (ISO 19005-1) is based on PDF 1.4: it allows neither object
 * streams nor cross-reference streams.
 */
#ifndef MORVEL_ANALYZE_CONFORMANCE_H
#define MORVEL_ANALYZE_CONFORMANCE_H

#include "analyze/page_tree.h"
#include "load/document.h"

// Whether the catalog's /Metadata stream (XMP, unfiltered or
// FlateDecode) declares pdfaid:part 1.
bool declares_pdfa1(const document& doc, const page_tree& tree);

#endif
