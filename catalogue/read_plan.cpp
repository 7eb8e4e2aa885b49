#include "catalogue/read_plan.h"

#include "catalogue/uChmExtractor.h"

namespace vexmor {

std::unique_ptr<storage::ReadAheadPlan> PlanReadsOf(const TChmItems& items, const std::vector<std::size_t>& order) {
    // The items of one catalogue share one opened file, whichever storage
    // of it holds them: any of them takes the plan for all.
    storage::IStorage* storage = nullptr;
    std::vector<storage::Placement> placements;
    placements.reserve(order.size());
    for (const std::size_t index : order) {
        const TChmItem& item = items[index];
        if (!item.Storage) continue;
        if (!storage) storage = item.Storage.get();
        placements.push_back(item.Placement);
    }
    return storage ? storage->PlanReads(placements) : nullptr;
}

std::unique_ptr<storage::ReadAheadPlan> PlanReadsOf(const TChmItem& item) {
    return item.Storage ? item.Storage->PlanReads({item.Placement}) : nullptr;
}

}  // namespace vexmor
