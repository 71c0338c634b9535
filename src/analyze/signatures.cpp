/*
 * Finding signature dictionaries among the objects.
 */
#include "analyze/signatures.h"

#include "pdf/lexer.h"

bool has_signatures(const document& doc) {
    for (const pdf_obj& o : doc.objects.items) {
        const char* b = o.body.data();
        int32_t n = o.body_len();
        if (find_name(b, n, 0, n, "ByteRange") >= 0 && find_name(b, n, 0, n, "Contents") >= 0) return true;
    }
    return false;
}
