/*
 * The object table's number index, and the /Type of a record.
 */
#include "load/document.h"

#include <algorithm>

bool dense_numbers(int32_t max, size_t count) {
    return max <= MAX_OBJ_NUM && static_cast<size_t>(max) <= 4 * count + 4096;
}

void obj_list::build_index() {
    flat_.clear();
    sparse_.clear();
    int32_t max = 0;
    for (const pdf_obj& o : items) max = std::max(max, o.num);
    if (dense_numbers(max, items.size())) flat_.assign(static_cast<size_t>(max) + 1, -1);
    for (size_t i = 0; i < items.size(); i++) {
        int32_t n = items[i].num;
        if (n <= 0) continue;
        if (static_cast<size_t>(n) < flat_.size()) {
            if (flat_[static_cast<size_t>(n)] < 0) flat_[static_cast<size_t>(n)] = static_cast<int32_t>(i);
        } else {
            sparse_.emplace(n, static_cast<int32_t>(i));
        }
    }
}

int32_t obj_list::position(int32_t num) const {
    if (num <= 0) return -1;
    if (static_cast<size_t>(num) < flat_.size()) return flat_[static_cast<size_t>(num)];
    auto it = sparse_.find(num);
    return it == sparse_.end() ? -1 : it->second;
}

pdf_obj* obj_list::find(int32_t num) {
    int32_t p = position(num);
    return p < 0 ? nullptr : &items[static_cast<size_t>(p)];
}

const pdf_obj* obj_list::find(int32_t num) const {
    int32_t p = position(num);
    return p < 0 ? nullptr : &items[static_cast<size_t>(p)];
}

void classify_object(pdf_obj& obj) {
    obj.type = obj.has_body() ? check_dict_type(obj.body.data(), obj.body_len()) : TYPE_NONE;
}
