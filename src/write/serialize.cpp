/*
 * Object serialisation: the exact bytes of every renumbered object.
 *
 * Bodies go through the reference rewriter so that every reference names
 * the new numbers. A few objects are changed on the way: the page tree is
 * replaced by the balanced tree of the plan; the catalog points at its
 * root; pages receive the attributes they inherited from the nodes that are
 * no longer written and name their new node as their parent; and a stream
 * whose /Length does not match its data gets the true length.
 */
#include "write/serialize.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analyze/inheritance.h"
#include "base/buffer.h"
#include "base/parallel.h"
#include "load/stream_lengths.h"
#include "pdf/stream_extent.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"

namespace {

// Objects handed to a thread at a time, and objects per thread worth starting.
constexpr size_t BATCH = 256;
constexpr size_t OBJECTS_PER_THREAD = 8192;

// A replacement of body bytes [start, end) by text, made while the body is
// copied through the rewriter (start == end inserts).
struct text_edit {
    int32_t start;
    int32_t end;
    std::string text;
};

// Formats one integer into a short text (every format here is under 64 bytes).
std::string format_int(const char* fmt, int64_t value) {
    char tmp[64];
    int n = snprintf(tmp, sizeof tmp, fmt, static_cast<long long>(value));
    return std::string(tmp, n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof tmp - 1));
}

// An edit forcing the reference after the first /key to name new_number,
// whatever it named; none when the key is absent or its value is no reference.
void force_reference(const pdf_obj& rec, const char* key, int32_t new_number,
                     std::vector<text_edit>& edits) {
    const char* b = rec.body.data();
    int32_t len = rec.body_len();
    int32_t v = key_value(b, len, key);
    int32_t num = 0, gen = 0;
    int32_t end = v < 0 ? -1 : reference_at(b, len, v, &num, &gen);
    if (end < 0) return;
    edits.push_back({v, end, format_int("%lld 0 R", new_number)});
}

// The edit that makes a stream's /Length equal the data written. With
// direct_only (the compact form) a reference is replaced even when its
// object holds the right value: the length object is then not written.
void fix_stream_length(const obj_list& objects, const pdf_obj& rec, bool direct_only,
                       std::vector<text_edit>& edits) {
    length_fix fix = stream_length_fix(objects, rec);
    if (direct_only && fix.kind == length_fix::KEEP) {
        length_entry e = read_length_entry(rec.body.data(), rec.body_len());
        if (e.ref_end >= 0) fix = length_fix{length_fix::REPLACE, e.value_start, e.ref_end, true};
    }
    int64_t n = static_cast<int64_t>(rec.stream_len);
    if (fix.kind == length_fix::REPLACE) {
        edits.push_back({fix.value_start, fix.value_end, format_int("%lld", n)});
    } else if (fix.kind == length_fix::INSERT) {
        size_t close = rec.body.rfind(">>");
        if (close == std::string::npos) return;
        int32_t at = static_cast<int32_t>(close);
        edits.push_back({at, at, format_int(" /Length %lld", n)});
    }
}

// Copies the body through the rewriter, splicing the edits in.
void rewrite_with_edits(const pdf_obj& rec, std::vector<text_edit>& edits, const plan& order, out_buf& out) {
    std::stable_sort(edits.begin(), edits.end(),
                     [](const text_edit& a, const text_edit& b) { return a.start < b.start; });
    const char* b = rec.body.data();
    int32_t len = rec.body_len();
    int32_t at = 0;
    for (const text_edit& e : edits) {
        if (e.start < at || e.end > len) continue;
        rewrite_references(b + at, e.start - at, order.new_num.data(), order.max_num, out);
        buf_bytes(out, e.text.data(), e.text.size());
        at = e.end;
    }
    rewrite_references(b + at, len - at, order.new_num.data(), order.max_num, out);
}

std::string rewritten(std::string_view text, const plan& order) {
    out_buf out;
    rewrite_references(text.data(), static_cast<int32_t>(text.size()), order.new_num.data(), order.max_num, out);
    return std::move(out.data);
}

// The attributes a page lacks and takes from its ancestors, rewritten, in
// the order they are appended.
std::vector<std::pair<const char*, std::string>> inherited_attributes(inheritance_cache& inherited,
                                                                      const pdf_obj& page, const plan& order) {
    std::vector<std::pair<const char*, std::string>> found;
    const char* b = page.body.data();
    int32_t len = page.body_len();
    if (find_name(b, len, 0, len, "Resources") < 0) {
        std::string res = inherited.resources(&page);
        if (!res.empty()) {
            std::string text = rewritten(res, order);
            if (!text.empty()) found.emplace_back("Resources", std::move(text));
        }
    }
    for (const char* key : {"MediaBox", "CropBox", "Rotate"}) {
        if (find_name(b, len, 0, len, key) >= 0) continue;
        std::string value = inherited.value(&page, key);
        if (value.empty()) continue;
        std::string text = rewritten(value, order);
        if (!text.empty()) found.emplace_back(key, std::move(text));
    }
    return found;
}

// What ends a page dictionary's text before its closing ">>": not PDF white
// space as a whole (a NUL or a form feed there stays).
bool is_trailing_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

// A page's rewritten text with the closing ">>" replaced by the inherited
// attributes, a /Parent entry when it had none, and a new ">>".
void rebuild_page(std::string& text, const std::vector<std::pair<const char*, std::string>>& inherited,
                  bool add_parent, int32_t root) {
    size_t keep = text.size();
    while (keep > 0 && is_trailing_space(text[keep - 1])) keep--;
    keep = keep >= 2 ? keep - 2 : 0;
    text.resize(keep);
    for (const auto& [key, value] : inherited) {
        text += " /";
        text += key;
        text += ' ';
        text += value;
    }
    if (add_parent) text += format_int(" /Parent %lld 0 R", root);
    text += " >>";
}

// The dictionary of node i of the output's page tree.
std::string node_text(const page_tree& tree, const plan& order, int32_t i) {
    const tree_node& node = order.tree.nodes[static_cast<size_t>(i)];
    out_buf t;
    buf_printf(t, "<< /Type /Pages /Kids [");
    for (const tree_kid& k : node.kids) {
        int32_t n = k.is_page ? order.number_of(tree.page_list[static_cast<size_t>(k.index)]) : order.node_num(k.index);
        buf_printf(t, " %d 0 R", n);
    }
    buf_printf(t, " ] /Count %d", node.count);
    if (node.parent >= 0) buf_printf(t, " /Parent %d 0 R", order.node_num(node.parent));
    buf_printf(t, " >>");
    return std::move(t.data);
}

// Appends the body, rewritten with the edits spliced in, to out.
void append_rewritten(const pdf_obj& rec, std::vector<text_edit>& edits, const plan& order, std::string& out) {
    out_buf text{std::move(out)};
    rewrite_with_edits(rec, edits, order, text);
    out = std::move(text.data);
}

// By table position: the index of the page in the page list, or -1.
std::vector<int32_t> pages_by_position(const obj_list& objects, const page_tree& tree) {
    std::vector<int32_t> index(objects.items.size(), -1);
    for (size_t k = 0; k < tree.page_list.size(); k++) {
        int32_t pos = objects.position(tree.page_list[k]);
        if (pos >= 0) index[static_cast<size_t>(pos)] = static_cast<int32_t>(k);
    }
    return index;
}

struct serializer {
    const obj_list& objects;
    const page_tree& tree;
    const plan& order;
    std::vector<out_slot>& slots;
    const std::vector<int32_t>& page_index;
    const reference_graph* refs;
    text_store& store;
    inheritance_cache inherited{objects};
    std::string scratch;

    serializer(const obj_list& o, const page_tree& t, const plan& p, std::vector<out_slot>& s,
               const std::vector<int32_t>& pages, const reference_graph* g, text_store& k)
        : objects(o), tree(t), order(p), slots(s), page_index(pages), refs(g), store(k) {}

    void object(int32_t pos, const pdf_obj& rec, int32_t n);
    void body_text(int32_t pos, const pdf_obj& rec, std::string& out);
    void catalog_text(const pdf_obj& rec, std::vector<text_edit>& edits, std::string& out);
    void split_fields(const pdf_obj& rec, std::vector<text_edit>& edits);
    void page_text(const pdf_obj& rec, int32_t page, std::vector<text_edit>& edits, std::string& out);
    void plain_text(int32_t pos, const pdf_obj& rec, std::vector<text_edit>& edits, std::string& out);
};

// A body with nothing to splice in is renumbered from the tokens the
// reference graph read from it; otherwise it is tokenised around the edits.
void serializer::plain_text(int32_t pos, const pdf_obj& rec, std::vector<text_edit>& edits, std::string& out) {
    if (!edits.empty() || !refs || refs->token_start.size() != objects.items.size() + 1)
        return append_rewritten(rec, edits, order, out);
    out_buf text{std::move(out)};
    rewrite_tokens(rec.body.data(), rec.body_len(), refs->tokens_of(pos), order.new_num.data(), order.max_num, text);
    out = std::move(text.data);
}

void serializer::body_text(int32_t pos, const pdf_obj& rec, std::string& out) {
    obj_type type = tree.type_of(objects, pos);
    if (type == TYPE_PAGES || pos == tree.root) {
        out += node_text(tree, order, 0);
        return;
    }
    if (!rec.has_body()) return;
    std::vector<text_edit> edits;
    if (rec.has_stream && rec.stream) fix_stream_length(objects, rec, order.compact, edits);
    if (rec.num == order.form_old) split_fields(rec, edits);
    if (type == TYPE_PAGE)
        page_text(rec, page_index[static_cast<size_t>(pos)], edits, out);
    else if (type == TYPE_CATALOG)
        catalog_text(rec, edits, out);
    else
        plain_text(pos, rec, edits, out);
}

// The form dictionary's inline /Fields array becomes an object of its own.
void serializer::split_fields(const pdf_obj& rec, std::vector<text_edit>& edits) {
    const char* b = rec.body.data();
    int32_t len = rec.body_len();
    int32_t v = key_value(b, len, "Fields");
    int32_t end = balanced_end(b, len, v);
    // "/Fields[" has no white space to keep the number from the name.
    std::string ref = format_int(is_pdf_space(byte_at(b, v - 1)) ? "%lld 0 R" : " %lld 0 R", order.fields_num);
    edits.push_back({v, end, ref});
    slots[static_cast<size_t>(order.fields_num)].head = format_int("%lld 0 obj\n", order.fields_num) +
                                                        rewritten(rec.body.substr(static_cast<size_t>(v), static_cast<size_t>(end - v)), order) +
                                                        "\nendobj\n";
}

// The catalog keeps every entry; its /Pages names the new root, inserted
// before the final ">>" when the catalog had none.
void serializer::catalog_text(const pdf_obj& rec, std::vector<text_edit>& edits, std::string& out) {
    force_reference(rec, "Pages", order.root_num, edits);
    bool insert = find_name(rec.body.data(), rec.body_len(), 0, rec.body_len(), "Pages") < 0;
    size_t from = out.size();
    append_rewritten(rec, edits, order, out);
    if (!insert) return;
    size_t close = out.rfind(">>");
    if (close != std::string::npos && close >= from) out.insert(close, format_int(" /Pages %lld 0 R", order.root_num));
}

// A page names its node as its parent and carries what it inherited from
// the nodes that are no longer written. A page the tree does not list has
// the root as its parent.
void serializer::page_text(const pdf_obj& rec, int32_t page, std::vector<text_edit>& edits, std::string& out) {
    int32_t parent = page >= 0 ? order.parent_num(static_cast<size_t>(page)) : order.root_num;
    force_reference(rec, "Parent", parent, edits);
    bool has_parent = find_name(rec.body.data(), rec.body_len(), 0, rec.body_len(), "Parent") >= 0;
    auto attributes = inherited_attributes(inherited, rec, order);
    if (attributes.empty() && has_parent) return append_rewritten(rec, edits, order, out);
    std::string text;
    append_rewritten(rec, edits, order, text);
    rebuild_page(text, attributes, !has_parent, parent);
    out += text;
}

// The text is built in a buffer the serializer keeps, then copied into the
// store at exactly its size: held until the file is written, every spare
// byte would count.
void serializer::object(int32_t pos, const pdf_obj& rec, int32_t n) {
    out_slot& slot = slots[static_cast<size_t>(n)];
    char number[24];
    scratch.assign(number, static_cast<size_t>(put_decimal(number, static_cast<uint64_t>(n)) - number));
    scratch += " 0 obj\n";
    body_text(pos, rec, scratch);
    if (rec.has_stream && rec.stream) {
        scratch += "\nstream\n";
        slot.data = rec.stream;
        slot.data_len = rec.stream_len;
        slot.has_data = true;
    } else {
        scratch += "\nendobj\n";
    }
    slot.kept = store.keep(scratch);
}

}  // namespace

uint64_t out_slot::len() const { return text().size() + (has_data ? data_len + STREAM_TAIL_LEN : 0); }

void out_slot::gather(std::vector<iovec>& out) const {
    if (std::string_view t = text(); !t.empty()) out.push_back({const_cast<char*>(t.data()), t.size()});
    if (!has_data) return;
    if (data_len > 0) out.push_back({const_cast<char*>(data), data_len});
    out.push_back({const_cast<char*>(STREAM_TAIL), STREAM_TAIL_LEN});
}

// Blocks hold many objects' texts; one longer than a block gets its own.
constexpr size_t TEXT_BLOCK = size_t{256} << 10;

std::string_view text_store::keep(std::string_view text) {
    if (text.size() > left_) {
        size_t size = std::max(TEXT_BLOCK, text.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        at_ = blocks_.back().get();
        left_ = size;
    }
    if (!text.empty()) memcpy(at_, text.data(), text.size());
    std::string_view kept(at_, text.size());
    at_ += text.size();
    left_ -= text.size();
    return kept;
}

std::vector<out_slot> serialize_objects(const document& doc, const page_tree& tree, const plan& order,
                                        std::vector<text_store>& texts, const reference_graph* refs) {
    std::vector<out_slot> slots(static_cast<size_t>(order.number_count()));
    const obj_list& objects = doc.objects;
    // Every object has a slot of its own, so large documents write them on
    // a few threads, each with its own serializer (its inheritance cache
    // is its own).
    std::vector<int32_t> page_index = pages_by_position(objects, tree);
    size_t threads = threads_for(objects.items.size(), OBJECTS_PER_THREAD);
    std::vector<std::unique_ptr<serializer>> workers;
    texts.resize(threads);
    for (size_t t = 0; t < threads; t++)
        workers.push_back(std::make_unique<serializer>(objects, tree, order, slots, page_index, refs, texts[t]));
    for_each_item(objects.items.size(), threads, BATCH, [&](size_t i, size_t worker) {
        int32_t n = order.number_of(objects.items[i].num);
        if (n <= 0 || static_cast<size_t>(n) >= slots.size()) return;
        workers[worker]->object(static_cast<int32_t>(i), objects.items[i], n);
    });
    for (int32_t i = order.root_old == 0 ? 0 : 1; i < static_cast<int32_t>(order.tree.nodes.size()); i++)
        slots[static_cast<size_t>(order.node_num(i))].head =
            format_int("%lld 0 obj\n", order.node_num(i)) + node_text(tree, order, i) + "\nendobj\n";
    if (tree.catalog < 0)
        slots[static_cast<size_t>(order.catalog_num())].head =
            format_int("%lld 0 obj\n", order.catalog_num()) +
            format_int("<< /Type /Catalog /Pages %lld 0 R >>", order.root_num) + "\nendobj\n";
    return slots;
}
