// The order in which an export of several items writes them: the order of
// their bytes in the help file, so that each compressed span is decoded once
// whatever the order of the names. Items whose bytes overlap are refused
// before anything is written: a few bytes of file could otherwise claim
// gigabytes of output.
#pragma once

#include <cstddef>
#include <vector>

namespace vexmor {

class TChmItems;

// Indexes into `items`, by placement (area, then offset); items of equal
// placement, and items whose placement is unknown, keep their catalogue order.
// Throws EChmExtractError naming two items whose bytes overlap.
std::vector<std::size_t> StorageOrder(const TChmItems& items);

}  // namespace vexmor
