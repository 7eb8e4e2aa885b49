// The catalogue of one open help file: a flat, ordered list of its streams,
// and the copying of those streams to disk.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/in_out_error.h"
#include "catalogue/path_delim.h"
#include "platform/storage/storage.h"

namespace vexmor {

// The catalogue's own failures; the message is what the user reads.
class EChmExtractError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TChmItems;
class TChmItem;

// Told how an export goes, on the thread that runs it.
class ExportObserver {
public:
    virtual ~ExportObserver() = default;
    // Before each item of an export of several; false stops the export
    // there, as a success: every file written so far is complete.
    virtual bool BeforeItem(const TChmItem& item) {
        (void)item;
        return true;
    }
    // After each block of `bytes` read for the current item's file (which
    // is handed to the file system in larger blocks). May
    // throw to stop the copy: the file is discarded, what stood at the
    // target stays as it was, and the exception reaches the caller.
    virtual void Copied(std::uint64_t bytes) { (void)bytes; }
    // Once for each item written under another name than its own, because
    // the target refused a character of it (SubstituteName): `writtenAs` is
    // that name, with the inner path as written before it in an export of
    // several. A note, not a failure: the item is written in full.
    virtual void Renamed(const TChmItem& item, const std::string& writtenAs) {
        (void)item;
        (void)writtenAs;
    }
};

// One stream of the help file.
class TChmItem {
public:
    explicit TChmItem(TChmItems* collection) : Collection(collection) {}

    std::string Name;  // element name, UTF-8 bytes as the file stores them
    std::string Path;  // inner folder path, levels joined with kPathDelim; empty at the root
    std::shared_ptr<storage::IStorage> Storage;  // holds the stream, kept open for later copies
    std::uint64_t Size = 0;
    storage::Placement Placement;  // where its bytes lie, for the order of an export

    TChmItems* Collection;  // the collection that holds the item

    // Copies the stream to `target`. The copy is written aside in the
    // target's folder and replaces what stands at `target` (a file, a link,
    // a FIFO, ...) only once complete: a failure leaves the old file as it
    // was and no partial one. A replaced regular file's permission bits are
    // kept; a read-only one is refused, as is the open help file itself.
    // The stream is opened first, so a stream that cannot be opened leaves
    // the disk untouched. Every failure names the item.
    void SaveToFile(const std::string& target, ExportObserver* observer = nullptr) const;
};

// The items, in the order the walk met their streams.
class TChmItems {
public:
    TChmItem& Add();
    std::size_t Count() const { return items_.size(); }
    TChmItem& operator[](std::size_t index) { return items_.at(index); }
    const TChmItem& operator[](std::size_t index) const { return items_.at(index); }
    void Clear() { items_.clear(); }

    // Writes every item under `folder`, rebuilding the inner folders, as
    // FolderExport does: in the order of their bytes in the help file,
    // refusing items whose bytes overlap before writing anything; stops at
    // the first failure, leaving what was written before it.
    void ExtractAll(const std::string& folder, ExportObserver* observer = nullptr) const;

private:
    // A deque keeps items in place as it grows, without an allocation each.
    std::deque<TChmItem> items_;
};

class TChmExtractor {
public:
    // Makes the storage component, once per opened file.
    using StorageMaker = std::function<std::shared_ptr<storage::IITStorage>()>;

    explicit TChmExtractor(StorageMaker makeStorage = [] { return storage::CreateITStorage(); });
    ~TChmExtractor();
    TChmExtractor(const TChmExtractor&) = delete;
    TChmExtractor& operator=(const TChmExtractor&) = delete;

    // Opens `path` and rebuilds the catalogue; the path already open is not
    // walked again while the file there is unchanged (device, inode, size,
    // modification time). Throws on failure, leaving FileName() empty;
    // the items found before the failure stay until the next Clear.
    void Open(const std::string& path);
    // Releases the root storage and the component, then every item.
    void Clear();

    const std::string& FileName() const { return FileName_; }
    // What reading the open file's compressed data has cost so far.
    storage::DecodeStatistics DecodeStatistics() const {
        return StorageFactory_ ? StorageFactory_->Statistics() : storage::DecodeStatistics{};
    }
    TChmItems& Items() { return Items_; }
    const TChmItems& Items() const { return Items_; }

private:
    // Appends the streams below `storage` depth-first, pre-order.
    void ScanStorage(const std::shared_ptr<storage::IStorage>& storage, const std::string& path);

    StorageMaker makeStorage_;
    std::shared_ptr<storage::IITStorage> StorageFactory_;  // the component made for the open file
    std::shared_ptr<storage::IStorage> RootStorage_;
    std::string FileName_;  // non-empty only after a complete walk
    TChmItems Items_;
};

}  // namespace vexmor
