/*
 * The page walks, one page after another in list order: first what the
 * page's dictionary leads to, then what its inherited values lead to. A
 * stamp per record says whether the page being walked has been there.
 *
 * Page sets are built as pages arrive, always by adding the page being
 * walked, which is larger than every page already in a set. So a set is
 * its predecessor plus one page: a node of a tree whose paths from the root
 * are the sets. Objects that have the same set and are reached by the next
 * page move to the same new node, found through a per-node note of where
 * that page leads. The cost is one step per (page, object) pair that the
 * walks meet, and memory follows the distinct sets, not the pairs.
 */
#include "analyze/attribution.h"

#include <algorithm>
#include <string>

#include "analyze/inheritance.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"

namespace {

// Deeper reference chains are recorded but not followed.
constexpr int32_t MAX_WALK_DEPTH = 201;

// The sets as a tree: node 0 is the empty set, every other node its parent's
// set plus one page.
struct set_tree {
    std::vector<int32_t> parent{0}, page{-1};
    // Where a node leads with the page being walked, valid when its stamp
    // is that page's.
    std::vector<int32_t> next{0}, next_stamp{-1};

    int32_t with_page(int32_t node, int32_t p) {
        if (next_stamp[static_cast<size_t>(node)] == p) return next[static_cast<size_t>(node)];
        int32_t added = static_cast<int32_t>(parent.size());
        parent.push_back(node);
        page.push_back(p);
        next.push_back(0);
        next_stamp.push_back(-1);
        next_stamp[static_cast<size_t>(node)] = p;
        next[static_cast<size_t>(node)] = added;
        return added;
    }
};

struct page_walk {
    const obj_list& objects;
    const page_tree& tree;
    const reference_graph& refs;
    std::vector<int32_t> node_of;  // by table position
    std::vector<int32_t> stamp;    // by table position: the last page that reached it, or -1
    set_tree sets;

    page_walk(const obj_list& o, const page_tree& t, const reference_graph& g)
        : objects(o), tree(t), refs(g), node_of(o.items.size(), 0), stamp(o.items.size(), -1) {}

    bool stops_walk(int32_t pos, int32_t depth) const {
        obj_type type = tree.type_of(objects, pos);
        return !objects.items[static_cast<size_t>(pos)].has_body() || (type == TYPE_PAGE && depth > 0) ||
               type == TYPE_PAGES || type == TYPE_CATALOG;
    }

    // Records the page at pos; false when the page was there already.
    bool arrive(int32_t pos, int32_t page) {
        size_t at = static_cast<size_t>(pos);
        if (stamp[at] == page) return false;
        stamp[at] = page;
        node_of[at] = sets.with_page(node_of[at], page);
        return true;
    }

    void mark(int32_t pos, int32_t page, int32_t depth);
    void walk_page(int32_t pos, int32_t page);
    void mark_inherited(const std::string& value, int32_t page);
    attribution result() const;
};

void page_walk::mark(int32_t pos, int32_t page, int32_t depth) {
    if (depth >= MAX_WALK_DEPTH || stops_walk(pos, depth) || !arrive(pos, page)) return;
    for (int32_t p : refs.of(pos)) mark(p, page, depth + 1);
}

// A page's thumbnail image is not part of the page (viewers fetch it for
// navigation): the page's own walk passes its /Thumb over.
void page_walk::walk_page(int32_t pos, int32_t page) {
    if (stops_walk(pos, 0)) return;
    arrive(pos, page);
    const pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
    int32_t thumb = 0;
    int32_t thumb_at = key_reference(rec.body.data(), rec.body_len(), "Thumb", &thumb);
    for (int32_t n : body_references(objects, rec, thumb_at)) {
        int32_t p = objects.position(n);
        if (p >= 0) mark(p, page, 1);
    }
}

void page_walk::mark_inherited(const std::string& value, int32_t page) {
    if (value.empty()) return;
    std::vector<int32_t> nums;
    collect_references(value.data(), static_cast<int32_t>(value.size()), nums, value.size());
    for (int32_t n : nums) {
        int32_t p = objects.position(n);
        if (p >= 0) mark(p, page, 1);
    }
}

// Each set in use, spelled out once: its pages from the root of the tree.
attribution page_walk::result() const {
    attribution out;
    out.set_of.assign(node_of.size(), 0);
    std::vector<int32_t> index_of(sets.parent.size(), -1);
    index_of[0] = 0;
    for (size_t i = 0; i < node_of.size(); i++) {
        int32_t node = node_of[i];
        if (index_of[static_cast<size_t>(node)] < 0) {
            index_of[static_cast<size_t>(node)] = static_cast<int32_t>(out.sets.size());
            std::vector<int32_t> pages;
            for (int32_t n = node; n != 0; n = sets.parent[static_cast<size_t>(n)]) pages.push_back(sets.page[static_cast<size_t>(n)]);
            std::reverse(pages.begin(), pages.end());
            out.sets.push_back(std::move(pages));
        }
        out.set_of[i] = index_of[static_cast<size_t>(node)];
    }
    return out;
}

}  // namespace

bool attribution::reached_by(int32_t pos, int32_t page) const {
    const std::vector<int32_t>& r = pages_of(pos);
    return std::binary_search(r.begin(), r.end(), page);
}

attribution attribute_pages(const document& doc, const page_tree& tree) {
    const obj_list& objects = doc.objects;
    const std::vector<int32_t>& page_list = tree.page_list;
    reference_graph refs = read_reference_graph(objects);
    page_walk walk(objects, tree, refs);
    inheritance_cache inherited(objects);
    int32_t count = static_cast<int32_t>(page_list.size());
    for (int32_t i = 0; i < count; i++) {
        int32_t pos = objects.position(page_list[static_cast<size_t>(i)]);
        if (pos < 0) continue;
        walk.walk_page(pos, i);
        const pdf_obj* page = &objects.items[static_cast<size_t>(pos)];
        if (!page->has_body()) continue;
        if (find_name(page->body.data(), page->body_len(), 0, page->body_len(), "Resources") < 0)
            walk.mark_inherited(inherited.resources(page), i);
        for (const char* key : {"MediaBox", "CropBox", "Rotate"}) walk.mark_inherited(inherited.value(page, key), i);
    }
    attribution out = walk.result();
    out.refs = std::move(refs);
    return out;
}
