// Copying one item's stream into a file of an open folder, shared by Export
// this and Export all: the checks of what stands at the target, the copy
// (read in 4096-byte blocks, written in blocks of up to 1 MiB), and the
// item's inner name on every failure.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "catalogue/target_file.h"
#include "catalogue/uChmExtractor.h"
#include "catalogue/written_files.h"

namespace vexmor {


// When CopyItemTo looks at what stands at the target.
enum class TargetLook {
    AtCommit,         // only when the copy is complete: no extra call per file
    BeforeAndCommit,  // also before anything is read, so that a refusal comes at once
};

// A change made to the bytes of some streams on their way to disk (the
// site export repairs pages): a stream that `wants` accepts is read whole,
// up to `sizeLimit` bytes, and `rewrite` gives the bytes written instead.
struct ContentFilter {
    std::function<bool(const TChmItem&)> wants;
    std::function<std::string(const TChmItem&, std::string&& bytes)> rewrite;
    std::uint64_t sizeLimit = 0;
    // Read on a thread ahead of the writer (ReadingThread), an item that
    // `watches` takes and `wants` does not is shown to `watch` piece by
    // piece as it is read, on that thread; `last` marks its end, which an
    // item that fails or is abandoned never reaches.
    std::function<bool(const TChmItem&)> watches;
    std::function<void(const TChmItem&, std::string_view bytes, bool last)> watch;
};

// Whether `filter` takes `item`'s bytes whole.
bool Filters(const ContentFilter* filter, const TChmItem& item);
// `item`'s stream read whole and passed through `filter` (which Filters it).
std::string FilteredBytes(const TChmItem& item, storage::IStream& stream, const ContentFilter& filter);

// The bytes of an item read elsewhere, in pieces (ReadingThread): puts the
// next piece in `piece` and returns true when it was the last. Throws what
// the reading raised.
using PieceSource = std::function<bool(std::string& piece)>;

// Copies `item`'s stream to `name` in the folder `folder`, replacing what
// stands there only once the copy is complete. Refuses the open help file as
// the target and, when `written` is given, a file that an earlier item of the
// same export wrote (naming both items); `writtenFolder` is then the inner
// path of `folder` as written. Every failure names the item.
// Where the folder refuses `name`, the file is written at its substitute and
// the observer is told (ExportObserver::Renamed). The bytes come from
// `pieces` when given, else from the item's stream through `filter`.
// Returns the stamp of the file written.
FileStamp CopyItemTo(const TChmItem& item, int folder, const std::string& name, const WrittenFiles* written,
                     const std::string& writtenFolder, TargetLook look, ExportObserver* observer, const ContentFilter* filter = nullptr,
                     const PieceSource* pieces = nullptr);

// The file-layer error for `errnum`, its message followed by the inner path
// and name of `item`.
EInOutError NamedInOutError(int errnum, const TChmItem& item);

// Runs `work` on `item`'s stream; a file-layer or storage failure it raises
// is raised again with the item's inner path and name after its message. The
// help file found changed while it was read becomes EChmExtractError
// "帮助文件在读取时被改动-NAME (the storage's message)".
void WithItemName(const TChmItem& item, const std::function<void()>& work);

}  // namespace vexmor
