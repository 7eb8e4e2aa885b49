// The storage view over one opened help file.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/storage/file_source.h"
#include "platform/storage/itsf_directory.h"
#include "platform/storage/lzx_section.h"
#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"
#include "platform/storage/storage_tree.h"

namespace vexmor::storage {

namespace {

// Everything of one opened file. Storages, enumerators and streams each hold
// it, so it lives until the last of them is gone.
class ChmFile {
public:
    ChmFile(const std::string& path, const ReaderOptions& options)
        : source_(std::make_shared<FileSource>(path)),
          directory_(ReadDirectory(*source_)),
          tree_(directory_.entries),
          options_(options) {}

    const FileSource& Source() const { return *source_; }
    const Directory& Dir() const { return directory_; }
    const StorageTree& Tree() const { return tree_; }
    const ReaderOptions& Options() const { return options_; }

    // Set up on first use, so that a file whose compressed section is damaged
    // still lists and its stored streams still read. A section refused for
    // its bytes stays refused with the same error: read again for each of
    // its streams, a reset table as large as the file would be read once
    // per stream. A failed read of the file is tried again.
    LzxSection& Compressed() {
        if (refusal_) throw *refusal_;
        if (!compressed_) {
            try {
                compressed_ = std::make_unique<LzxSection>(
                    source_, ReadLzxSectionLayout(*source_, directory_, options_), options_);
            } catch (const EStorageError& e) {
                if (e.ErrorCode() != code::kReadFault) refusal_ = e;
                throw;
            }
        }
        return *compressed_;
    }

    DecodeStatistics Statistics() const {
        DecodeStatistics statistics;
        if (compressed_) {
            statistics.decodedBytes = compressed_->DecodedBytes();
            statistics.sectionLength = compressed_->Length();
        }
        statistics.fileBytesRead = source_->BytesRead();
        return statistics;
    }

private:
    std::shared_ptr<const FileSource> source_;
    Directory directory_;
    StorageTree tree_;
    ReaderOptions options_;
    std::unique_ptr<LzxSection> compressed_;
    std::optional<EStorageError> refusal_;
};

// Ends its plan unless a later one replaced it; holds the file only weakly,
// so the file may go first (its section then joins the workers).
class CompressedReadAhead final : public ReadAheadPlan {
public:
    CompressedReadAhead(const std::shared_ptr<ChmFile>& file, std::uint64_t number) : file_(file), number_(number) {}
    ~CompressedReadAhead() override {
        if (const std::shared_ptr<ChmFile> file = file_.lock()) file->Compressed().EndPlan(number_);
    }

private:
    std::weak_ptr<ChmFile> file_;
    std::uint64_t number_;
};

// Once a stream has been read to its end, the file is looked at again: bytes
// written into it while the stream was read (its modification time put back
// or not) must not pass for the stream. Once per stream: the read that
// reaches the end fails rather than deliver its bytes.
class EndCheck {
public:
    void AtPosition(const ChmFile& file, std::uint64_t position, std::uint64_t length) {
        if (done_ || position < length) return;
        done_ = true;
        file.Source().CheckUnchanged();
    }

private:
    bool done_ = false;
};

class StoredStream final : public IStream {
public:
    StoredStream(std::shared_ptr<ChmFile> file, std::uint64_t fileOffset, std::uint64_t length)
        : file_(std::move(file)), fileOffset_(fileOffset), length_(length) {}

    std::uint32_t Read(void* buffer, std::uint32_t count) override {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, length_ - position_));
        file_->Source().ReadExact(fileOffset_ + position_, buffer, n, "a stream's data");
        endCheck_.AtPosition(*file_, position_ + n, length_);
        position_ += n;
        return n;
    }

private:
    EndCheck endCheck_;
    std::shared_ptr<ChmFile> file_;
    std::uint64_t fileOffset_;
    std::uint64_t length_;
    std::uint64_t position_ = 0;
};

class CompressedStream final : public IStream {
public:
    CompressedStream(std::shared_ptr<ChmFile> file, std::uint64_t start, std::uint64_t length)
        : file_(std::move(file)), start_(start), length_(length) {}

    std::uint32_t Read(void* buffer, std::uint32_t count) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        const auto total = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, length_ - position_));
        std::uint32_t done = 0;
        while (done < total) {
            const std::uint64_t at = start_ + position_;
            // The span in hand serves sequential reads without asking the cache.
            if (!span_ || at < span_->start || at >= span_->start + span_->length) span_ = file_->Compressed().SpanAt(at);
            const auto offset = static_cast<std::size_t>(at - span_->start);
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(total - done, span_->length - offset));
            std::memcpy(out + done, span_->bytes.get() + offset, n);
            done += n;
            position_ += n;
        }
        endCheck_.AtPosition(*file_, position_, length_);
        return done;
    }

private:
    EndCheck endCheck_;
    std::shared_ptr<ChmFile> file_;
    std::uint64_t start_;
    std::uint64_t length_;
    std::uint64_t position_ = 0;
    std::shared_ptr<const DecodedSpan> span_;
};

class ChmEnumerator final : public IEnumElements {
public:
    ChmEnumerator(std::shared_ptr<ChmFile> file, std::size_t node) : file_(std::move(file)), node_(node) {}

    HResult Next(ElementInfo& out) override {
        const auto& children = file_->Tree().Node(node_).children;
        if (next_ >= children.size()) return kFalse;
        const StorageNode::Child& child = children[next_++];
        out.name = child.name;
        out.type = child.isStorage ? ElementType::Storage : ElementType::Stream;
        out.size = 0;
        out.placement = {};
        if (!child.isStorage) {
            const DirectoryEntry& entry = file_->Dir().entries[child.index];
            out.size = entry.length;
            out.placement = {entry.section, entry.offset, entry.length};
        }
        return kOk;
    }

private:
    std::shared_ptr<ChmFile> file_;
    std::size_t node_;
    std::size_t next_ = 0;
};

class ChmStorage final : public IStorage {
public:
    ChmStorage(std::shared_ptr<ChmFile> file, std::size_t node) : file_(std::move(file)), node_(node) {}

    std::shared_ptr<IEnumElements> EnumElements() override { return std::make_shared<ChmEnumerator>(file_, node_); }

    std::shared_ptr<IStorage> OpenStorage(const std::string& name) override {
        const StorageNode::Child* child = file_->Tree().Find(node_, name, true);
        if (!child) throw EStorageError(code::kFileNotFound, "no storage named " + name);
        return std::make_shared<ChmStorage>(file_, child->index);
    }

    std::shared_ptr<IStream> OpenStream(const std::string& name) override {
        const StorageNode::Child* child = file_->Tree().Find(node_, name, false);
        if (!child) throw EStorageError(code::kFileNotFound, "no stream named " + name);
        return OpenEntry(file_->Dir().entries[child->index]);
    }

    std::shared_ptr<IStream> OpenStreamAt(const std::string& name, const Placement& placement) override {
        // The first of the name is the one asked for nearly always; the
        // others of the name are looked for only when it is not.
        const StorageNode::Child* first = file_->Tree().Find(node_, name, false);
        if (first && first->name == name && PlacementOf(*first) == KeyOf(placement))
            return OpenEntry(file_->Dir().entries[first->index]);
        for (const StorageNode::Child& child : file_->Tree().Node(node_).children) {
            if (!child.isStorage && child.name == name && PlacementOf(child) == KeyOf(placement))
                return OpenEntry(file_->Dir().entries[child.index]);
        }
        throw EStorageError(code::kFileNotFound, "no stream named " + name + " at the place asked for");
    }

    FileIdentity SourceFile() const override { return file_->Source().Identity(); }

    std::optional<CompressedSectionFacts> CompressedSection() override {
        if (!DeclaresLzxSection(file_->Dir())) return std::nullopt;
        const LzxSectionLayout& layout = file_->Compressed().Layout();
        return CompressedSectionFacts{layout.windowSize, layout.resetInterval, layout.uncompressedLength,
                                      layout.contentLength};
    }

    std::unique_ptr<ReadAheadPlan> PlanReads(const std::vector<Placement>& order) override {
        if (!file_->Options().readAhead) return nullptr;
        std::vector<Placement> compressed;
        for (const Placement& placement : order) {
            if (placement.area == 1 && placement.length > 0) compressed.push_back(placement);
        }
        if (compressed.empty()) return nullptr;
        try {
            return std::make_unique<CompressedReadAhead>(file_, file_->Compressed().BeginPlan(compressed));
        } catch (const EStorageError&) {
            return nullptr;  // a damaged section fails the reads that need it, when they come
        }
    }

private:
    struct PlacementKey {
        std::uint64_t area, offset, length;
        bool operator==(const PlacementKey&) const = default;
    };
    static PlacementKey KeyOf(const Placement& p) { return {p.area, p.offset, p.length}; }
    PlacementKey PlacementOf(const StorageNode::Child& child) const {
        const DirectoryEntry& entry = file_->Dir().entries[child.index];
        return {entry.section, entry.offset, entry.length};
    }

    std::shared_ptr<IStream> OpenEntry(const DirectoryEntry& entry) {
        // One look per stream: a file written to while open would otherwise
        // deliver bytes that the directory read at open does not describe.
        file_->Source().CheckUnchanged("it changed on disk since it was opened; open it again");
        if (entry.section == 0)
            return std::make_shared<StoredStream>(file_, StoredEntryFileOffset(file_->Source(), file_->Dir(), entry),
                                                  entry.length);
        if (entry.section != 1) ThrowDamaged("stream " + std::string(entry.name) + " names an unknown content section");
        const std::uint64_t sectionLength = file_->Compressed().Length();
        if (entry.offset > sectionLength || entry.length > sectionLength - entry.offset)
            ThrowDamaged("stream " + std::string(entry.name) + " runs past the end of the compressed section");
        return std::make_shared<CompressedStream>(file_, entry.offset, entry.length);
    }

    std::shared_ptr<ChmFile> file_;
    std::size_t node_;
};

class ITStorage final : public IITStorage {
public:
    explicit ITStorage(const ReaderOptions& options) : options_(options) {}

    std::shared_ptr<IStorage> StgOpenStorage(const std::string& path) override {
        auto file = std::make_shared<ChmFile>(path, options_);
        last_ = file;
        return std::make_shared<ChmStorage>(std::move(file), StorageTree::kRoot);
    }

    DecodeStatistics Statistics() const override {
        if (auto file = last_.lock()) return file->Statistics();
        return {};
    }

private:
    ReaderOptions options_;
    std::weak_ptr<ChmFile> last_;
};

}  // namespace

std::shared_ptr<IITStorage> CreateITStorage() { return CreateITStorageWithOptions({}); }

std::shared_ptr<IITStorage> CreateITStorageWithCache(std::size_t spanCacheBudget) {
    ReaderOptions options;
    options.spanCacheBudget = spanCacheBudget;
    return CreateITStorageWithOptions(options);
}

std::shared_ptr<IITStorage> CreateITStorageWithOptions(const ReaderOptions& options) {
    return std::make_shared<ITStorage>(options);
}

}  // namespace vexmor::storage
