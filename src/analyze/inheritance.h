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
// values) is read once, and so is what it passes down, so neither a wide
// tree nor a deep one costs more than one look at each node per attribute.
// The whole ancestor chain counts, however long; a /Parent loop ends it.
class inheritance_cache {
   public:
    explicit inheritance_cache(const obj_list& table) : objects_(table) {}

    // The page's own /Resources dictionary, else that of its nearest
    // ancestor through /Parent. Empty when there is none.
    std::string resources(const pdf_obj* page);

    // The value of an inheritable attribute ("MediaBox", "CropBox",
    // "Rotate") that the page lacks, as written at its nearest ancestor
    // through /Parent: a reference "N G R", a balanced "[...]" array or a
    // number. Empty when the page has the key itself or no ancestor carries
    // a usable value.
    std::string value(const pdf_obj* page, const char* key);

   private:
    // For one attribute: the node whose own value a node passes down (null
    // when no node up its chain has one), and the node's own value text.
    struct for_key {
        std::string key;  // "Resources" or the attribute's name
        bool source_known = false;
        const pdf_obj* source = nullptr;
        bool own_known = false;
        std::string own;
    };
    struct node {
        bool parent_known = false;
        const pdf_obj* parent = nullptr;
        std::vector<for_key> keys;
    };
    const pdf_obj* parent(const pdf_obj& rec);
    for_key& entry(const pdf_obj& rec, const char* key);
    template <class Own>
    const std::string& own(const pdf_obj& rec, const char* key, Own read);
    template <class Own>
    std::string passed_down(const pdf_obj* from, const char* key, Own read);

    const obj_list& objects_;
    std::unordered_map<const pdf_obj*, node> nodes_;
};

#endif
