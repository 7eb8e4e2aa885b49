#include "catalogue/storage_order.h"

#include <algorithm>
#include <numeric>

#include "catalogue/inner_name.h"
#include "catalogue/uChmExtractor.h"

namespace vexmor {

std::vector<std::size_t> StorageOrder(const TChmItems& items) {
    std::vector<std::size_t> order(items.Count());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // The sort compares copies held side by side rather than reaching into
    // the items' deque at every comparison.
    std::vector<storage::Placement> placements;
    placements.reserve(items.Count());
    for (std::size_t i = 0; i < items.Count(); ++i) placements.push_back(items[i].Placement);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const storage::Placement& pa = placements[a];
        const storage::Placement& pb = placements[b];
        return pa.area != pb.area ? pa.area < pb.area : pa.offset < pb.offset;
    });
    // Sorted by offset, an item overlaps an earlier one exactly when it
    // overlaps the one reaching furthest, the one kept here. An item that
    // passes starts at or past that one's end (or in a later area), so it
    // reaches further itself: no end is computed, none can pass 2^64.
    const TChmItem* furthest = nullptr;
    for (const std::size_t index : order) {
        const TChmItem& item = items[index];
        if (item.Placement.length == 0) continue;
        if (furthest && furthest->Placement.Overlaps(item.Placement))
            throw EChmExtractError("数据重叠的文件-" + InnerPathAndName(furthest->Path, furthest->Name) + " 与 " +
                                   InnerPathAndName(item.Path, item.Name));
        furthest = &item;
    }
    return order;
}

}  // namespace vexmor
