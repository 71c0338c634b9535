/*
 * Page structure analysis.
 */
#include "pages.h"

bool analyze_pages(const input_file&, obj_list&, const char*, page_layout&) { return false; }
