/*
 * The explicit stack of a depth-first walk: each level is the list of
 * objects (numbers or table positions) that an entered object leads to,
 * taken in order, so a deep or cyclic graph costs no call stack.
 */
#ifndef MORVEL_ANALYZE_WALK_STACK_H
#define MORVEL_ANALYZE_WALK_STACK_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

class walk_stack {
   public:
    void push(std::vector<int32_t> level) {
        levels_.push_back({std::move(level), {}});
        levels_.back().items = levels_.back().owned;
        next_.push_back(0);
    }
    // A level that lives elsewhere, as long as the walk.
    void push(std::span<const int32_t> level) {
        levels_.push_back({{}, level});
        next_.push_back(0);
    }

    // The next item to visit, depth first; false when the walk is over.
    bool next(int32_t& item) {
        while (!levels_.empty()) {
            if (next_.back() < levels_.back().items.size()) {
                item = levels_.back().items[next_.back()++];
                return true;
            }
            levels_.pop_back();
            next_.pop_back();
        }
        return false;
    }

   private:
    // A moved vector keeps its elements where they are, so items stays
    // valid as levels_ grows.
    struct stack_level {
        std::vector<int32_t> owned;
        std::span<const int32_t> items;
    };
    std::vector<stack_level> levels_;
    std::vector<size_t> next_;
};

#endif
