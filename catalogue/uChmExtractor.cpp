#include "catalogue/uChmExtractor.h"

#include <fcntl.h>

#include <cerrno>

#include "catalogue/folder_export.h"
#include "catalogue/item_copy.h"
#include "catalogue/read_plan.h"

namespace vexmor {

void TChmItem::SaveToFile(const std::string& target, ExportObserver* observer) const {
    // The folder part is opened as the user gave it; the last level is
    // never followed, but replaced once the copy is complete.
    const std::size_t delim = target.rfind(kPathDelim);
    const std::string name = delim == std::string::npos ? target : target.substr(delim + 1);
    if (name.empty()) throw NamedInOutError(target.empty() ? ENOENT : EISDIR, *this);
    const std::string folderPath = delim == std::string::npos ? "." : target.substr(0, delim + 1);
    const Descriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen()) throw NamedInOutError(errno, *this);
    const std::unique_ptr<storage::ReadAheadPlan> readAhead = PlanReadsOf(*this);
    // One file: a refusal (read-only, a folder, the help file) is worth a
    // look before the stream is read.
    CopyItemTo(*this, folder.Get(), name, nullptr, {}, TargetLook::BeforeAndCommit, observer);
}

TChmItem& TChmItems::Add() {
    return items_.emplace_back(this);
}

void TChmItems::ExtractAll(const std::string& folder, ExportObserver* observer) const {
    FolderExport run(*this, folder);
    for (const std::size_t index : run.Order()) {
        const TChmItem& item = items_[index];
        if (observer && !observer->BeforeItem(item)) return;
        run.Write(item, observer);
    }
}

TChmExtractor::TChmExtractor(StorageMaker makeStorage) : makeStorage_(std::move(makeStorage)) {}

TChmExtractor::~TChmExtractor() { Clear(); }

void TChmExtractor::Open(const std::string& path) {
    // An empty FileName means nothing is open, so an empty path is opened
    // (and fails) rather than taken for the open file. The open path is
    // opened anew when the file there is no longer the one read: others may
    // write to it or replace it while it is open.
    if (!FileName_.empty() && path == FileName_ && RootStorage_ &&
        storage::IdentityOfPath(path) == RootStorage_->SourceFile())
        return;
    Clear();
    StorageFactory_ = makeStorage_();
    RootStorage_ = StorageFactory_->StgOpenStorage(path);
    ScanStorage(RootStorage_, std::string());
    FileName_ = path;
}

void TChmExtractor::Clear() {
    RootStorage_.reset();
    StorageFactory_.reset();
    FileName_.clear();
    Items_.Clear();
}

void TChmExtractor::ScanStorage(const std::shared_ptr<storage::IStorage>& storage, const std::string& path) {
    // An explicit stack instead of recursion: the depth comes from the file.
    // Each level keeps its storage only while its elements are fetched; the
    // items found in it hold it afterwards.
    struct Level {
        std::shared_ptr<storage::IStorage> storage;
        std::shared_ptr<storage::IEnumElements> elements;
        std::size_t pathLength;  // length of this level's inner path in `current`
    };
    std::string current = path;
    std::vector<Level> levels;
    levels.push_back({storage, storage->EnumElements(), current.size()});
    storage::ElementInfo element;
    while (!levels.empty()) {
        Level& level = levels.back();
        current.resize(level.pathLength);
        if (!level.elements || level.elements->Next(element) != storage::kOk) {
            levels.pop_back();
            continue;
        }
        switch (element.type) {
            case storage::ElementType::Stream: {
                TChmItem& item = Items_.Add();
                item.Name = element.name;
                item.Path = current;
                item.Storage = level.storage;
                item.Size = element.size;
                item.Placement = element.placement;
                break;
            }
            case storage::ElementType::Storage: {
                std::shared_ptr<storage::IStorage> sub = level.storage->OpenStorage(element.name);
                // Joined by level, not by emptiness, so that an empty storage
                // name below the first level still shows as an empty level.
                if (levels.size() > 1 || !path.empty()) current += kPathDelim;
                current += element.name;
                std::shared_ptr<storage::IEnumElements> subElements = sub->EnumElements();
                levels.push_back({std::move(sub), std::move(subElements), current.size()});
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace vexmor
