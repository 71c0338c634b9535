/*
 * The explicit stack of a depth-first walk: each level is the list of
 * object numbers that an entered object leads to, taken in order, so a deep
 * or cyclic graph costs no call stack.
 */
#ifndef MORVEL_ANALYZE_WALK_STACK_H
#define MORVEL_ANALYZE_WALK_STACK_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class walk_stack {
   public:
    void push(std::vector<int32_t> level) {
        levels_.push_back(std::move(level));
        next_.push_back(0);
    }

    // The next number to visit, depth first; false when the walk is over.
    bool next(int32_t& num) {
        while (!levels_.empty()) {
            if (next_.back() < levels_.back().size()) {
                num = levels_.back()[next_.back()++];
                return true;
            }
            levels_.pop_back();
            next_.pop_back();
        }
        return false;
    }

   private:
    std::vector<std::vector<int32_t>> levels_;
    std::vector<size_t> next_;
};

#endif
