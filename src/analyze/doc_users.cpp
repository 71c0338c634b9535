/*
 * The document-level walks: depth first in reference order, through Pages
 * nodes and the catalog, never into a page. A walk with a given flag reaches
 * the same objects from an object whoever started it, so one visited set per
 * flag serves all walks of that flag; a thumbnail walk also avoids what its
 * own page reached, so it has its own.
 */
#include "analyze/doc_users.h"

#include <initializer_list>
#include <string>
#include <string_view>

#include "analyze/walk_stack.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"

namespace {

uint8_t entry_user(const std::string& key) {
    if (key == "Outlines") return USER_OUTLINES;
    for (const char* k : {"AcroForm", "OpenAction", "ViewerPreferences", "Threads", "PageMode"})
        if (key == k) return USER_DOCUMENT;
    return USER_OTHER;
}

struct user_walk {
    const obj_list& objects;
    const page_tree& tree;
    const attribution& pages;
    std::vector<uint8_t>& users;
    std::vector<uint8_t> done;          // by table position: flags walked through here
    std::vector<int32_t> thumb_walked;  // by table position: 1 + the page whose thumbnail walk came here
    walk_stack stack;

    user_walk(const obj_list& o, const page_tree& t, const attribution& a, std::vector<uint8_t>& u)
        : objects(o), tree(t), pages(a), users(u), done(o.items.size(), 0), thumb_walked(o.items.size(), 0) {
        users.assign(o.items.size(), 0);
    }

    void enter(int32_t num, uint8_t flag, int32_t page) { enter_at(objects.position(num), flag, page); }

    void enter_at(int32_t pos, uint8_t flag, int32_t page) {
        if (pos < 0) return;
        const pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
        if (!rec.has_body() || tree.type_of(objects, pos) == TYPE_PAGE) return;
        size_t at = static_cast<size_t>(pos);
        if (page >= 0) {
            if (thumb_walked[at] == page + 1 || pages.reached_by(pos, page)) return;
            thumb_walked[at] = page + 1;
        } else {
            if (done[at] & flag) return;
            done[at] = static_cast<uint8_t>(done[at] | flag);
        }
        users[at] = static_cast<uint8_t>(users[at] | flag);
        stack.push(pages.refs.of(pos));
    }

    // page >= 0 for the walk from that page's thumbnail.
    void run(const std::vector<int32_t>& starts, uint8_t flag, int32_t page = -1) {
        for (int32_t s : starts) {
            enter(s, flag, page);
            for (int32_t p; stack.next(p);) enter_at(p, flag, page);
        }
    }
};

// Marks the record num as needed to open the document.
void mark_open(user_walk& walk, int32_t num) {
    int32_t pos = walk.objects.position(num);
    if (pos >= 0) walk.users[static_cast<size_t>(pos)] = static_cast<uint8_t>(walk.users[static_cast<size_t>(pos)] | USER_OPEN);
}

// The references among the values of a dictionary's keys, or the
// dictionary's own entries when it is given by reference: what the form
// dictionary's /DR and /DA are, what the /Threads array lists.
void mark_open_values(user_walk& walk, const char* v, int32_t v_len, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        int32_t num = 0;
        if (key_reference(v, v_len, key, &num) >= 0) mark_open(walk, num);
    }
}

// The part of the document-level objects that opening it needs.
void open_objects(user_walk& walk, const std::string& key, const char* v, int32_t v_len, bool annotated_first) {
    bool form = key == "AcroForm", threads = key == "Threads";
    bool structure = key == "StructTreeRoot" && annotated_first;
    if (!form && !threads && !structure && key != "OpenAction" && key != "ViewerPreferences" && key != "PageMode")
        return;
    int32_t num = 0, gen = 0;
    const pdf_obj* target = nullptr;
    if (reference_at(v, v_len, 0, &num, &gen) >= 0) {
        mark_open(walk, num);
        target = walk.objects.find(num);
        if (!target || !target->has_body()) return;
        v = target->body.data();
        v_len = target->body_len();
    }
    if (form) mark_open_values(walk, v, v_len, {"DR", "DA"});
    if (structure) mark_open_values(walk, v, v_len, {"RoleMap", "ParentTree"});
    if (threads) {
        std::vector<int32_t> listed;
        collect_references(v, v_len, listed, static_cast<size_t>(v_len));
        for (int32_t n : listed) mark_open(walk, n);
    }
}

// Whether the first page's dictionary has /Annots.
bool first_page_annotated(const user_walk& walk) {
    if (walk.tree.page_list.empty()) return false;
    const pdf_obj* page = walk.objects.find(walk.tree.page_list[0]);
    return page && find_name(page->body.data(), page->body_len(), 0, page->body_len(), "Annots") >= 0;
}

void catalog_users(user_walk& walk, int32_t catalog, doc_users& out) {
    if (catalog < 0) return;
    bool annotated_first = first_page_annotated(walk);
    std::string_view body = walk.objects.items[static_cast<size_t>(catalog)].body;
    bool seen_outlines = false, seen_mode = false;
    for (const dict_entry& e : dict_entries(body)) {
        const char* v = body.data() + e.value_start;
        int32_t v_len = e.value_end - e.value_start;
        if (e.key == "Outlines" && !seen_outlines) {
            seen_outlines = true;
            int32_t num = 0, gen = 0;
            if (reference_at(v, v_len, 0, &num, &gen) >= 0) out.outline_root = num;
        }
        if (e.key == "PageMode" && !seen_mode) {
            seen_mode = true;
            out.use_outlines = std::string_view(v, static_cast<size_t>(v_len)) == "/UseOutlines";
        }
        if (e.key == "AcroForm" && out.form == 0) {
            int32_t num = 0, gen = 0;
            if (reference_at(v, v_len, 0, &num, &gen) >= 0) out.form = num;
        }
        if (e.key == "Pages") continue;
        std::vector<int32_t> nums;
        collect_references(v, v_len, nums, static_cast<size_t>(v_len));
        walk.run(nums, entry_user(e.key));
        open_objects(walk, e.key, v, v_len, annotated_first);
    }
}

void thumbnail_users(user_walk& walk, const std::vector<int32_t>& page_list) {
    for (size_t i = 0; i < page_list.size(); i++) {
        const pdf_obj* page = walk.objects.find(page_list[i]);
        int32_t thumb = 0;
        if (!page || !page->has_body() || key_reference(page->body.data(), page->body_len(), "Thumb", &thumb) < 0)
            continue;
        walk.run({thumb}, USER_THUMBNAIL, static_cast<int32_t>(i));
    }
}

}  // namespace

doc_users find_doc_users(const document& doc, const page_tree& tree, const attribution& pages) {
    doc_users out;
    user_walk walk(doc.objects, tree, pages, out.users);
    catalog_users(walk, tree.catalog, out);
    thumbnail_users(walk, tree.page_list);
    if (doc.trailer.info > 0) walk.run({doc.trailer.info}, USER_OTHER);
    return out;
}
