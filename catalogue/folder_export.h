// One export of catalogue items under a chosen folder: the order in which
// the items are written, and the writing of each. Export all and the
// command line's extract share it, so both follow the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/uChmExtractor.h"

namespace vexmor {

class FolderExport {
public:
    // `folder` may be empty (the current folder) and need not exist yet.
    // Throws EChmExtractError, before anything is written, when two items
    // claim the same bytes of the help file.
    FolderExport(const TChmItems& items, const std::string& folder);

    // Indexes into the items, in the order they are to be written: the
    // order of their bytes in the help file.
    const std::vector<std::size_t>& Order() const { return order_; }

    // Writes `item` below the folder, creating the inner folders it needs.
    // Throws on failure; what was written before stays.
    void Write(const TChmItem& item, ExportObserver* observer = nullptr);

private:
    const TChmItems& items_;
    std::string folder_;  // ends in kPathDelim
    std::vector<std::size_t> order_;
};

}  // namespace vexmor
