/*
 * Who besides the pages reaches an object: the walks from the catalog's
 * entries, from the pages' thumbnails and from the trailer's /Info. The
 * grouping uses them to keep the outline hierarchy together and to leave
 * forms, actions and thumbnails out of the pages' sections.
 */
#ifndef MORVEL_ANALYZE_DOC_USERS_H
#define MORVEL_ANALYZE_DOC_USERS_H

#include <cstdint>
#include <vector>

#include "analyze/attribution.h"
#include "analyze/page_tree.h"
#include "load/document.h"

// /Outlines; /AcroForm, /OpenAction, /ViewerPreferences, /Threads and
// /PageMode; any other catalog key but /Pages, and /Info; a page's /Thumb.
// USER_OPEN marks what a viewer needs to open the document (ISO 32000-1,
// F.3.4): the indirect values of /ViewerPreferences, /PageMode and
// /OpenAction, the /AcroForm dictionary with its /DR and /DA, and the
// /Threads array with the thread dictionaries it lists; when the first page
// has annotations, the structure tree root with its /RoleMap and
// /ParentTree (a viewer resolving the annotations' structure parents reads
// them before it draws the page: pdf.js does).
enum : uint8_t { USER_OUTLINES = 1, USER_DOCUMENT = 2, USER_OTHER = 4, USER_THUMBNAIL = 8, USER_OPEN = 16 };

struct doc_users {
    std::vector<uint8_t> users;  // by table position: USER_* bits
    int32_t outline_root = 0;    // object the catalog's first /Outlines names; 0 when none
    bool use_outlines = false;   // the catalog's first /PageMode is /UseOutlines
    int32_t form = 0;            // the interactive form dictionary the first /AcroForm names; 0 when none

    uint8_t of(int32_t pos) const { return pos >= 0 && static_cast<size_t>(pos) < users.size() ? users[static_cast<size_t>(pos)] : 0; }
};

// pages is what attribute_pages made: its reference graph is walked too.
doc_users find_doc_users(const document& doc, const page_tree& tree, const attribution& pages);

#endif
