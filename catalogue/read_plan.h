// Decoding ahead of the reads of an export or a copy, in the order they come.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/storage/storage.h"

namespace vexmor {

class TChmItems;
class TChmItem;

// For the items at `order`, to be read whole in that order from the calling
// thread. Keep the result while reading; null when there is nothing to gain.
std::unique_ptr<storage::ReadAheadPlan> PlanReadsOf(const TChmItems& items, const std::vector<std::size_t>& order);
// For one item's stream, read whole.
std::unique_ptr<storage::ReadAheadPlan> PlanReadsOf(const TChmItem& item);

}  // namespace vexmor
