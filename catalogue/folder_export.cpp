#include "catalogue/folder_export.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>

#include "catalogue/folder_rule.h"
#include "catalogue/inner_name.h"
#include "catalogue/read_plan.h"
#include "catalogue/refused_name.h"
#include "catalogue/storage_order.h"

namespace vexmor {

FolderExport::FolderExport(const TChmItems& items, const std::string& folder, FolderLink link)
    : items_(items),
      folder_(WithTrailingDelim(folder)),
      link_(link),
      order_(StorageOrder(items)),
      readAhead_(PlanReadsOf(items, order_)) {}

namespace {

// Passes the observer calls of one item's copy on, and keeps the name the
// file was written at when it is not the item's own.
class RenameCatcher : public ExportObserver {
public:
    explicit RenameCatcher(ExportObserver* outer) : outer_(outer) {}
    bool BeforeItem(const TChmItem& item) override { return outer_ == nullptr || outer_->BeforeItem(item); }
    void Copied(std::uint64_t bytes) override {
        if (outer_ != nullptr) outer_->Copied(bytes);
    }
    void Renamed(const TChmItem&, const std::string& writtenAs) override { writtenName_ = writtenAs; }
    const std::string& WrittenName() const { return writtenName_; }

private:
    ExportObserver* outer_;
    std::string writtenName_;
};

}  // namespace

void FolderExport::Write(const TChmItem& item, ExportObserver* observer, const ContentFilter* filter) {
    if (!IsSafeInnerName(item.Path, item.Name))
        throw EChmExtractError("不安全的文件名-" + InnerPathAndName(item.Path, item.Name));
    // Root items go into the chosen folder itself.
    const int folder = FolderOf(item);
    // Most targets are new: what stands at a taken name is looked at once
    // the copy is complete, before it is replaced, which keeps a fresh
    // export at one call per file more than writing in place.
    RenameCatcher catcher(observer);
    FileStamp stamp;
    if (reading_) {
        const PieceSource pieces = [&](std::string& piece) {
            ReadPiece next = reading_->Next(item);
            if (next.failure) std::rethrow_exception(next.failure);
            piece = std::move(next.bytes);
            return next.last;
        };
        stamp = CopyItemTo(item, folder, item.Name, &written_, writtenPath_, TargetLook::AtCommit, &catcher, nullptr, &pieces);
    } else {
        stamp = CopyItemTo(item, folder, item.Name, &written_, writtenPath_, TargetLook::AtCommit, &catcher, filter);
    }
    const bool nameRenamed = !catcher.WrittenName().empty();
    written_.Add(stamp, writtenPath_, nameRenamed ? catcher.WrittenName() : item.Name, &item);
    if (observer != nullptr && (nameRenamed || writtenPath_ != item.Path))
        observer->Renamed(item, InnerPathAndName(writtenPath_, nameRenamed ? catcher.WrittenName() : item.Name));
}

void FolderExport::ReadOnThread(std::vector<std::size_t> order, const ContentFilter* filter) {
    reading_ = std::make_unique<ReadingThread>(items_, std::move(order), filter);
}

void FolderExport::WriteMadeFile(const std::string& name, std::string_view bytes,
                                 const storage::FileIdentity& helpFile) {
    if (!chosen_.IsOpen()) {
        chosen_ = OpenChosenFolder(folder_, link_);
        if (!chosen_.IsOpen()) {
            const int errnum = errno;
            throw EChmExtractError("不能创建文件夹-" + folder_ + ": " + InOutErrorFromErrno(errnum).what());
        }
    }
    try {
        TargetFile file(chosen_.Get(), name);
        file.Write(bytes.data(), bytes.size());
        file.Commit([&](const struct stat& existing, const std::string& at) {
            if (helpFile.inode != 0 && static_cast<std::uint64_t>(existing.st_dev) == helpFile.device &&
                static_cast<std::uint64_t>(existing.st_ino) == helpFile.inode)
                throw EChmExtractError("不能覆盖正在读取的帮助文件-" + name);
            if (const TChmItem* earlier = written_.Holding(existing, chosen_.Get(), std::string(), at))
                throw EChmExtractError("两项的目标是同一文件-" + InnerPathAndName(earlier->Path, earlier->Name) + ", " +
                                       name);
        });
    } catch (const EInOutError& e) {
        throw EInOutError(e.ErrorCode, std::string(e.what()) + ": " + name);
    }
}

int FolderExport::FolderOf(const TChmItem& item) {
    if (!chosen_.IsOpen()) {
        chosen_ = OpenChosenFolder(folder_, link_);
        if (!chosen_.IsOpen()) {
            const int errnum = errno;
            FolderFailure(item, folder_, errnum);
        }
    }
    if (item.Path.empty()) {
        writtenPath_.clear();
        return chosen_.Get();
    }
    if (cached_.IsOpen() && item.Path == cachedPath_) {
        writtenPath_ = cachedWrittenPath_;
        return cached_.Get();
    }
    // Every level is a name of at least one byte, so this also bounds the
    // depth; a longer path could not be named by other programs anyway.
    if (item.Path.size() + 1 + item.Name.size() >= PATH_MAX) FolderFailure(item, item.Path, ENAMETOOLONG);

    // Down from the cached folder when the path goes on below it, else from
    // the chosen one, one level at a time.
    Descriptor current;
    std::size_t done = 0;
    std::string written;
    if (cached_.IsOpen() && item.Path.starts_with(cachedPath_) && item.Path[cachedPath_.size()] == kPathDelim) {
        current = std::move(cached_);
        done = cachedPath_.size() + 1;
        written = cachedWrittenPath_;
    }
    cached_.Reset();
    cachedPath_.clear();
    cachedWrittenPath_.clear();
    while (done < item.Path.size()) {
        std::size_t end = item.Path.find(kPathDelim, done);
        if (end == std::string::npos) end = item.Path.size();
        const int parent = current.IsOpen() ? current.Get() : chosen_.Get();
        Descriptor next;
        // A level the target refuses is created under its substitute.
        const NameOutcome level = TryNameThenSubstitute(
            item.Path.substr(done, end - done),
            [&](const std::string& name) {
                next = OpenInnerFolder(parent, name);
                return next.IsOpen() ? 0 : errno;
            },
            [&](const std::string& name) {
                struct stat info {};
                return ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
            });
        if (!written.empty()) written += kPathDelim;
        written += level.name;
        if (level.errnum != 0) FolderFailure(item, written, level.errnum);
        current = std::move(next);
        done = end + 1;
    }
    cached_ = std::move(current);
    cachedPath_ = item.Path;
    cachedWrittenPath_ = written;
    writtenPath_ = std::move(written);
    return cached_.Get();
}

void FolderExport::FolderFailure(const TChmItem& item, const std::string& where, int errnum) const {
    const std::string why =
        errnum == ENOTDIR || errnum == ELOOP ? std::string("not a folder") : InOutErrorFromErrno(errnum).what();
    throw EChmExtractError("不能创建文件夹-" + item.Path + ": " + InnerPathAndName(item.Path, item.Name) + " (" +
                           where + ": " + why + ")");
}

}  // namespace vexmor
