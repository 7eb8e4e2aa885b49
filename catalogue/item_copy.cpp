#include "catalogue/item_copy.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "catalogue/inner_name.h"
#include "catalogue/stream_blocks.h"
#include "platform/storage/storage_error.h"

namespace vexmor {

namespace {

constexpr std::uint32_t kCopyBlock = 4096;
// What the kernel is handed at once: few large writes cost far less than
// many small ones, above all on a disk mounted with `sync`.
constexpr std::size_t kWriteBlock = std::size_t{1} << 20;

std::string InnerNameOf(const TChmItem& item) { return InnerPathAndName(item.Path, item.Name); }

EInOutError Named(const EInOutError& e, const std::string& inner) {
    return EInOutError(e.ErrorCode, std::string(e.what()) + ": " + inner);
}

storage::EStorageError Named(const storage::EStorageError& e, const std::string& inner) {
    // The message is the code's text, then ": detail" when there is one.
    std::string detail = e.what();
    const std::string text = storage::MessageForCode(e.ErrorCode());
    if (detail.starts_with(text)) detail.erase(0, std::min(detail.size(), text.size() + 2));
    return storage::EStorageError(e.ErrorCode(), detail.empty() ? inner : detail + ": " + inner);
}

// The refusals that protect the open help file and the files an earlier
// item of the same export wrote.
// `name` in `folder`, whose inner path as written is `writtenFolder`.
struct TargetPlace {
    int folder;
    const std::string& writtenFolder;
};

void CheckTarget(const TChmItem& item, const struct stat& existing, const WrittenFiles* written,
                 const TargetPlace& place, const std::string& name) {
    const storage::FileIdentity source = item.Storage->SourceFile();
    if (source.inode != 0 && static_cast<std::uint64_t>(existing.st_dev) == source.device &&
        static_cast<std::uint64_t>(existing.st_ino) == source.inode)
        throw EChmExtractError("不能覆盖正在读取的帮助文件-" + InnerNameOf(item));
    if (written == nullptr) return;
    if (const TChmItem* earlier = written->Holding(existing, place.folder, place.writtenFolder, name))
        throw EChmExtractError("两项的目标是同一文件-" + InnerNameOf(*earlier) + ", " + InnerNameOf(item));
}

// Writes the pieces into `file` as they come.
void CopyPieces(const PieceSource& pieces, TargetFile& file, ExportObserver* observer) {
    std::string piece;
    for (bool last = false; !last;) {
        last = pieces(piece);
        file.Write(piece.data(), piece.size());
        if (observer) observer->Copied(piece.size());
    }
}

void CopyStream(const TChmItem& item, storage::IStream& stream, TargetFile& file, ExportObserver* observer,
                const ContentFilter* filter) {
    if (Filters(filter, item)) {
        const std::string out = FilteredBytes(item, stream, *filter);
        file.Write(out.data(), out.size());
        if (observer) observer->Copied(out.size());
        return;
    }
    // The whole stream when smaller: its size comes from the file, and a
    // stream that delivers more just fills the buffer once more.
    const std::size_t capacity = static_cast<std::size_t>(std::clamp<std::uint64_t>(item.Size, kCopyBlock, kWriteBlock));
    const std::unique_ptr<unsigned char[]> pending(new unsigned char[capacity]);
    std::size_t filled = 0;
    ReadInBlocks<kCopyBlock>(stream, [&](const unsigned char* data, std::uint32_t count) {
        if (capacity - filled < count) {
            file.Write(pending.get(), filled);
            filled = 0;
        }
        std::memcpy(pending.get() + filled, data, count);
        filled += count;
        if (observer) observer->Copied(count);
    });
    file.Write(pending.get(), filled);
}

FileStamp Copy(const TChmItem& item, int folder, const std::string& name, const WrittenFiles* written,
               const std::string& writtenFolder, TargetLook look, ExportObserver* observer, const ContentFilter* filter, const PieceSource* pieces) {
    // Declared before the file, so the file is gone before the stream.
    std::shared_ptr<storage::IStream> stream;
    if (pieces == nullptr) stream = item.Storage->OpenStreamAt(item.Name, item.Placement);
    if (look == TargetLook::BeforeAndCommit) {
        if (const std::optional<struct stat> existing = InspectTarget(folder, name))
            CheckTarget(item, *existing, written, TargetPlace{folder, writtenFolder}, name);
    }
    TargetFile file(folder, name);
    if (pieces != nullptr)
        CopyPieces(*pieces, file, observer);
    else
        CopyStream(item, *stream, file, observer, filter);
    const FileStamp stamp = file.Commit([&](const struct stat& existing, const std::string& at) {
        CheckTarget(item, existing, written, TargetPlace{folder, writtenFolder}, at);
    });
    if (observer && file.Name() != name) observer->Renamed(item, file.Name());
    return stamp;
}

}  // namespace

bool Filters(const ContentFilter* filter, const TChmItem& item) {
    return filter != nullptr && item.Size <= filter->sizeLimit && filter->wants(item);
}

std::string FilteredBytes(const TChmItem& item, storage::IStream& stream, const ContentFilter& filter) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(item.Size));
    ReadInBlocks<kCopyBlock>(stream, [&](const unsigned char* data, std::uint32_t count) {
        // The stream's size bounds what is held, whatever it delivers.
        if (bytes.size() + count > filter.sizeLimit)
            throw storage::EStorageError(storage::code::kReadFault, "a stream delivered more bytes than its size");
        bytes.append(reinterpret_cast<const char*>(data), count);
    });
    return filter.rewrite(item, std::move(bytes));
}

FileStamp CopyItemTo(const TChmItem& item, int folder, const std::string& name, const WrittenFiles* written,
                     const std::string& writtenFolder, TargetLook look, ExportObserver* observer,
                     const ContentFilter* filter, const PieceSource* pieces) {
    FileStamp stamp;
    WithItemName(item,
                 [&] { stamp = Copy(item, folder, name, written, writtenFolder, look, observer, filter, pieces); });
    return stamp;
}

void WithItemName(const TChmItem& item, const std::function<void()>& work) {
    try {
        work();
    } catch (const EInOutError& e) {
        throw Named(e, InnerNameOf(item));
    } catch (const storage::EStorageError& e) {
        // Said first in the window's words: the copy cannot be trusted, and
        // the file has to be opened again.
        if (e.ErrorCode() == storage::code::kChangedWhileRead)
            throw EChmExtractError("帮助文件在读取时被改动-" + InnerNameOf(item) + " (" + e.what() + ")");
        throw Named(e, InnerNameOf(item));
    }
}

EInOutError NamedInOutError(int errnum, const TChmItem& item) {
    return Named(InOutErrorFromErrno(errnum), InnerNameOf(item));
}

}  // namespace vexmor
