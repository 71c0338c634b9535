/*
 * Page attributes inherited from the page tree (ISO 32000-1, 7.7.3.4):
 * /Resources, /MediaBox, /CropBox and /Rotate given at a Pages node apply to
 * every page below it that lacks them. The output copies them into each
 * page, so both the page walk and the writer ask for them.
 */
#ifndef MORVEL_ANALYZE_INHERITANCE_H
#define MORVEL_ANALYZE_INHERITANCE_H

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "load/document.h"

// The /Resources dictionary of a record itself: inline, or the dictionary
// its reference names. Empty when there is none.
std::string own_resources_text(const obj_list& objects, const pdf_obj* obj);

// What each ancestor holds (its /Parent, its resources, its attribute
// values) is read once, so the nodes of a wide tree are not scanned again
// for every page.
class inheritance_cache {
   public:
    explicit inheritance_cache(const obj_list& table) : objects_(table) {}

    // The page's own /Resources dictionary, else that of its nearest
    // ancestor through /Parent (up to 32 steps). Empty when there is none.
    std::string resources(const pdf_obj* page);

    // The value of an inheritable attribute ("MediaBox", "CropBox",
    // "Rotate") that the page lacks, as written at its nearest ancestor
    // through /Parent: a reference "N G R", a balanced "[...]" array or a
    // number. Empty when the page has the key itself or no ancestor carries
    // a usable value.
    std::string value(const pdf_obj* page, const char* key);

   private:
    struct node {
        bool parent_known = false;
        const pdf_obj* parent = nullptr;
        bool resources_known = false;
        std::string resources;
        std::vector<std::pair<std::string, std::string>> values;  // key, usable value or ""
    };
    const pdf_obj* parent(const pdf_obj& rec);

    const obj_list& objects_;
    std::unordered_map<const pdf_obj*, node> nodes_;
};

#endif
