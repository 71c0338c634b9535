/*
 * Grouping hint table entries.
 *
 * Some readers of hint tables take an entry for its first object only, so
 * an entry stays one object unless the references of later pages to single
 * objects would outnumber the objects and pages many times (thousands of
 * pages that all reach the same thousands of objects): then a page refers
 * to a group once instead of to each of its objects.
 */
#include "analyze/hint_groups.h"

namespace {

constexpr int64_t GROUPING_RATIO = 64;

// The later pages that reach a set of pages' objects: all but page 0.
int64_t later_pages(const std::vector<int32_t>& set) {
    return static_cast<int64_t>(set.size()) - (!set.empty() && set[0] == 0 ? 1 : 0);
}

// The set index shared by all members of a unit, or -1 when they differ.
int32_t common_set(const obj_list& objects, const attribution& pages, const std::vector<int32_t>& members) {
    int32_t set = -1;
    for (int32_t num : members) {
        int32_t s = pages.set_of[static_cast<size_t>(objects.position(num))];
        if (set >= 0 && s != set) return -1;
        set = s;
    }
    return set;
}

// The later pages that reach any member: distinct sets counted once each,
// an upper bound when a unit's members have different sets.
int64_t unit_references(const obj_list& objects, const attribution& pages, const std::vector<int32_t>& members) {
    int64_t total = 0;
    int32_t last = -1;
    for (int32_t num : members) {
        int32_t s = pages.set_of[static_cast<size_t>(objects.position(num))];
        if (s != last) total += later_pages(pages.sets[static_cast<size_t>(s)]);
        last = s;
    }
    return total;
}

// Runs of consecutive entries with the same key; -1 never joins a run.
std::vector<int32_t> runs(const std::vector<int32_t>& keys) {
    std::vector<int32_t> out;
    for (size_t i = 0; i < keys.size(); i++) {
        if (out.empty() || keys[i] < 0 || keys[i] != keys[i - 1]) out.push_back(0);
        out.back()++;
    }
    return out;
}

}  // namespace

void group_hint_entries(const obj_list& objects, const attribution& pages, plan& out) {
    const std::vector<int32_t>& first = out.page_groups[0];
    int64_t singles = 0;
    for (int32_t num : first) singles += later_pages(pages.pages_of(objects.position(num)));
    for (const hint_unit& u : out.shared_units) singles += unit_references(objects, pages, u.members);
    int64_t budget =
        GROUPING_RATIO * (static_cast<int64_t>(objects.items.size()) + static_cast<int64_t>(out.page_groups.size()));
    if (singles <= budget) {
        out.first_groups.assign(first.size(), 1);
        out.shared_groups.assign(out.shared_units.size(), 1);
        return;
    }
    std::vector<int32_t> keys;
    for (int32_t num : first) keys.push_back(pages.set_of[static_cast<size_t>(objects.position(num))]);
    out.first_groups = runs(keys);
    keys.clear();
    for (const hint_unit& u : out.shared_units) keys.push_back(common_set(objects, pages, u.members));
    out.shared_groups = runs(keys);
}
