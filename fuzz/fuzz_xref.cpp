// libFuzzer target: the cross-reference chain reader (classic sections,
// streams, hybrids, /Prev loops) over what the scan finds in any bytes.
// Every answer must name a definition that exists or nothing at all.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/input_file.h"
#include "load/object_scan.h"
#include "load/xref_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input_file input;
    if (!copy_input(data, size, input).ok()) return 0;
    std::vector<pdf_obj> table;
    scan_objects(input, table);
    std::vector<int32_t> numbers;
    for (const pdf_obj& o : table) numbers.push_back(o.num);
    numbers.push_back(1);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<int64_t> offsets;
    chain_offsets(input, table, numbers, offsets);
    if (offsets.size() != numbers.size()) abort();
    std::vector<int32_t> winner;
    chain_live_definitions(input, table, {}, numbers, winner);
    for (size_t k = 0; k < winner.size(); k++)
        if (winner[k] >= 0 && (static_cast<size_t>(winner[k]) >= table.size() || table[static_cast<size_t>(winner[k])].num != numbers[k]))
            abort();
    return 0;
}
