/*
 * Catalog, root and page list.
 *
 * The tree is flattened depth first with an explicit stack, so a deep or
 * cyclic tree costs neither stack nor repeated work: each Pages node is
 * expanded once and each page listed once, at its first position.
 */
#include "analyze/page_tree.h"

#include "analyze/walk_stack.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

int32_t first_typed(const obj_list& objects, obj_type type) {
    for (size_t i = 0; i < objects.items.size(); i++)
        if (objects.items[i].type == type) return static_cast<int32_t>(i);
    return -1;
}

bool has_name(const pdf_obj& rec, const char* name) {
    return find_name(rec.body.data(), rec.body_len(), 0, rec.body_len(), name) >= 0;
}

// The catalog named by /Root wins over the typed one when it is usable
// (a dictionary without a stream) and either nothing else is typed /Catalog
// or it has a /Pages entry. The typed one it displaces is demoted.
void choose_catalog(const document& doc, page_tree& tree) {
    const obj_list& objects = doc.objects;
    int32_t typed = first_typed(objects, TYPE_CATALOG);
    tree.catalog = typed;
    int32_t pos = objects.position(doc.trailer.root);
    if (pos < 0) return;
    const pdf_obj& o = objects.items[static_cast<size_t>(pos)];
    if (!o.has_body() || o.has_stream) return;
    if (typed >= 0 && !has_name(o, "Pages")) return;
    tree.catalog = pos;
    if (typed >= 0 && typed != pos) tree.demoted = typed;
}

int32_t choose_root(const obj_list& objects, int32_t catalog) {
    if (catalog >= 0) {
        const pdf_obj& c = objects.items[static_cast<size_t>(catalog)];
        int32_t cursor = after_key(c.body.data(), c.body_len(), "Pages");
        if (cursor >= 0) {
            int32_t pos = objects.position(parse_int_at(c.body.data(), c.body_len(), &cursor));
            if (pos >= 0) return pos;
        }
    }
    return first_typed(objects, TYPE_PAGES);
}

// Reads the kids of a /Kids array whose "[" ends just before i. An entry is
// an object number, an optional generation and an optional R; anything else
// is stepped over. At most cap entries are taken.
void parse_kids(const char* t, int32_t len, int32_t i, size_t cap, std::vector<int32_t>& kids) {
    while (i < len && kids.size() < cap) {
        unsigned char c = byte_at(t, i);
        if (is_pdf_space(c)) {
            i++;
            continue;
        }
        if (c == ']') return;
        if (!is_digit(c)) {
            i++;
            continue;
        }
        int32_t before = i;
        int32_t a = parse_int_at(t, len, &i);
        if (i == before) {  // digits too many for a number: no kid
            while (i < len && is_digit(byte_at(t, i))) i++;
            continue;
        }
        parse_int_at(t, len, &i);  // generation, not needed
        i = skip_space(t, len, i);
        if (i < len && t[i] == 'R') i++;
        if (a > 0) kids.push_back(a);
    }
}

size_t kid_cap(int32_t text_len) { return static_cast<size_t>(text_len / 4) + 1; }

// Parses the array of a /Kids value given by reference: the referenced
// object's text must be the array itself.
void parse_indirect_kids(const obj_list& objects, const pdf_obj& node, int32_t i, std::vector<int32_t>& kids) {
    const pdf_obj* arr = objects.find(parse_int_at(node.body.data(), node.body_len(), &i));
    if (!arr || !arr->has_body()) return;
    const char* t = arr->body.data();
    int32_t len = arr->body_len();
    int32_t j = skip_space(t, len, 0);
    if (j < len && t[j] == '[') parse_kids(t, len, j + 1, kid_cap(len), kids);
}

std::vector<int32_t> kids_of(const obj_list& objects, const pdf_obj& node) {
    std::vector<int32_t> kids;
    const char* t = node.body.data();
    int32_t len = node.body_len();
    int32_t i = key_value(t, len, "Kids");
    if (i < 0 || i >= len) return kids;
    if (t[i] == '[')
        parse_kids(t, len, i + 1, kid_cap(len), kids);
    else if (is_digit(byte_at(t, i)))
        parse_indirect_kids(objects, node, i, kids);
    return kids;
}

struct tree_walk {
    const obj_list& objects;
    const page_tree& tree;
    std::vector<int32_t>& pages;
    std::vector<char> expanded;  // by table position: Pages nodes already read
    std::vector<char> listed;    // by table position: pages already in the list
    walk_stack kids;

    tree_walk(const obj_list& o, page_tree& t)
        : objects(o), tree(t), pages(t.page_list), expanded(o.items.size(), 0), listed(o.items.size(), 0) {}

    void list_page(int32_t pos) {
        if (listed[static_cast<size_t>(pos)]) return;
        listed[static_cast<size_t>(pos)] = 1;
        pages.push_back(objects.items[static_cast<size_t>(pos)].num);
    }

    // A page joins the list; a Pages node seen for the first time has its
    // whole /Kids array read and becomes the next level of the walk.
    void visit(int32_t num) {
        int32_t pos = objects.position(num);
        if (pos < 0) return;
        const pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
        if (!rec.has_body()) return;
        obj_type type = tree.type_of(objects, pos);
        if (type == TYPE_PAGE) return list_page(pos);
        if (type != TYPE_PAGES || expanded[static_cast<size_t>(pos)]) return;
        expanded[static_cast<size_t>(pos)] = 1;
        kids.push(kids_of(objects, rec));
    }

    void run(int32_t root_num) {
        visit(root_num);
        for (int32_t kid; kids.next(kid);) visit(kid);  // may push the next level
    }
};

}  // namespace

status find_page_tree(const document& doc, page_tree& tree) {
    const obj_list& objects = doc.objects;
    tree = page_tree();
    choose_catalog(doc, tree);
    int32_t found = choose_root(objects, tree.catalog);
    tree_walk walk(objects, tree);
    if (found >= 0) walk.run(objects.items[static_cast<size_t>(found)].num);
    if (tree.page_list.empty()) {
        for (size_t i = 0; i < objects.items.size(); i++)
            if (tree.type_of(objects, static_cast<int32_t>(i)) == TYPE_PAGE)
                walk.list_page(objects.position(objects.items[i].num));
    }
    if (found >= 0 && found != tree.catalog && tree.type_of(objects, found) != TYPE_PAGE) tree.root = found;
    if (tree.page_list.empty()) return failure(problem::no_pages, 0);
    return {};
}
