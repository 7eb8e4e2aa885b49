// One export of catalogue items under a chosen folder: the order in which
// the items are written, and the writing of each. Export all and the
// command line's extract share it, so both follow the same rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/descriptor.h"
#include "catalogue/folder_rule.h"
#include "catalogue/item_copy.h"
#include "catalogue/reading_thread.h"
#include "catalogue/uChmExtractor.h"

namespace vexmor {

class FolderExport {
public:
    // `folder` may be empty (the current folder) and need not exist yet.
    // Throws EChmExtractError, before anything is written, when two items
    // claim the same bytes of the help file.
    // `link` says whether the folder may be a link: it may when the user
    // named it.
    FolderExport(const TChmItems& items, const std::string& folder, FolderLink link = FolderLink::Follow);

    // Indexes into the items, in the order they are to be written: the
    // order of their bytes in the help file. Their compressed data is
    // decoded ahead on worker threads while the export lives; write them in
    // this order from one thread.
    const std::vector<std::size_t>& Order() const { return order_; }

    // Writes `item` below the folder, creating the inner folders it needs.
    // The folder itself is created when missing and opened at the first
    // item; everything below it is reached through folder descriptors, and
    // an inner level that is not a real folder is a failure, never followed.
    // A second item landing on the file of an earlier one is a failure too.
    // A folder or file name the target refuses is written as its substitute
    // (SubstituteName), and the observer is told once per item so written.
    // Throws on failure, naming the item; what was written before stays.
    void Write(const TChmItem& item, ExportObserver* observer = nullptr, const ContentFilter* filter = nullptr);

    // Writes a file the export makes itself (not a stream) at `name` in the
    // chosen folder, by the same rules: never through what stands there,
    // never over the help file or a file an item of this export wrote.
    // Throws EInOutError or EChmExtractError naming the file.
    void WriteMadeFile(const std::string& name, std::string_view bytes, const storage::FileIdentity& helpFile);

    // From here on, the items at `order` (a part of Order(), in its order)
    // are read and passed through `filter` on a thread of their own, ahead
    // of Write, which is then called for them only, in that order; `filter`
    // runs on that thread and must outlive the reading. StopReading ends it
    // (the destructor too); the storage may then be read here again.
    void ReadOnThread(std::vector<std::size_t> order, const ContentFilter* filter);
    // Also ends the decoding ahead, whose spans are then let go: for after
    // the last item, when what the export reads next is no longer the
    // items in their order.
    void StopReading() {
        reading_.reset();
        readAhead_.reset();
    }

private:
    // The descriptor of `item`'s folder, opened or created on the way;
    // writtenPath_ then holds its inner path as written.
    int FolderOf(const TChmItem& item);
    [[noreturn]] void FolderFailure(const TChmItem& item, const std::string& where, int errnum) const;

    const TChmItems& items_;
    std::string folder_;  // ends in kPathDelim
    FolderLink link_;
    std::vector<std::size_t> order_;
    Descriptor chosen_;  // the folder, once opened
    // The last inner folder reached, kept for the items after it: at most
    // two descriptors stay open between items.
    std::string cachedPath_;
    std::string cachedWrittenPath_;  // cachedPath_ with the substitutes of refused levels
    Descriptor cached_;
    std::string writtenPath_;  // the current item's inner path as written
    WrittenFiles written_;
    std::unique_ptr<storage::ReadAheadPlan> readAhead_;
    // After readAhead_: its reads end before the plan goes.
    std::unique_ptr<ReadingThread> reading_;
};

}  // namespace vexmor
