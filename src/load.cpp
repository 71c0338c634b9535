/*
 * Document loading: reading the input, the object table and its index.
 */
#include "load.h"

#include "api.h"

void obj_list::build_index() {
    flat_.clear();
    sparse_.clear();
    int32_t max = 0;
    for (const pdf_obj& o : items)
        if (o.num > max) max = o.num;
    flat_.assign(static_cast<size_t>(max < MAX_OBJ_NUM ? max : MAX_OBJ_NUM) + 1, -1);
    for (size_t i = 0; i < items.size(); i++) {
        int32_t n = items[i].num;
        if (n <= 0) continue;
        if (n <= MAX_OBJ_NUM) {
            if (flat_[static_cast<size_t>(n)] < 0) flat_[static_cast<size_t>(n)] = static_cast<int32_t>(i);
        } else {
            sparse_.emplace(n, static_cast<int32_t>(i));
        }
    }
}

int32_t obj_list::position(int32_t num) const {
    if (num <= 0) return -1;
    if (num <= MAX_OBJ_NUM) return static_cast<size_t>(num) < flat_.size() ? flat_[static_cast<size_t>(num)] : -1;
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

bool read_input(const char* input_path, const char* output_path, input_file&) {
    if (!input_path || !*input_path || !output_path || !*output_path)
        return set_error("input_path or output_path is NULL/empty"), false;
    set_error("optimization is not available yet");
    return false;
}

bool load_objects(const input_file&, const char*, obj_list&) { return false; }
