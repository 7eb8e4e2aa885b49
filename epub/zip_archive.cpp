#include "epub/zip_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "catalogue/in_out_error.h"

namespace vexmor::epub {

std::uint64_t MadeContent::Size() {
    if (!made_) {
        bytes_ = make_();
        size_ = bytes_.size();
        made_ = true;
        at_ = 0;
    }
    return size_;
}

std::size_t MadeContent::Read(unsigned char* buffer, std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
}

void MadeContent::Close() {
    // libzip asks for the size once more after the entry is written.
    std::string().swap(bytes_);
    make_ = nullptr;
}

std::uint64_t NumberedContent::Size() {
    if (!made_) {
        bytes_ = make_(number_);
        size_ = bytes_.size();
        made_ = true;
        at_ = 0;
    }
    return size_;
}

std::size_t NumberedContent::Read(unsigned char* buffer, std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
}

namespace {

struct EntrySource {
    ZipArchive* archive;
    EntryContent* content;
    std::exception_ptr* failure;
    zip_error_t error;
};

}  // namespace

// The functions libzip calls; a C++ exception never crosses into libzip:
// it is kept and thrown again once zip_close gives up.
struct ZipArchive::Callbacks {
    static zip_int64_t Entry(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto* source = static_cast<EntrySource*>(state);
        try {
            switch (command) {
                case ZIP_SOURCE_OPEN: source->content->Open(); return 0;
                case ZIP_SOURCE_READ:
                    return static_cast<zip_int64_t>(source->content->Read(static_cast<unsigned char*>(data), length));
                case ZIP_SOURCE_CLOSE: source->content->Close(); return 0;
                case ZIP_SOURCE_STAT: {
                    auto* stat = static_cast<zip_stat_t*>(data);
                    zip_stat_init(stat);
                    stat->size = source->content->Size();
                    stat->mtime = 0;
                    stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
                    return sizeof(zip_stat_t);
                }
                case ZIP_SOURCE_ERROR: return zip_error_to_data(&source->error, data, length);
                case ZIP_SOURCE_FREE: delete source; return 0;
                case ZIP_SOURCE_SUPPORTS:
                    return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                          ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
                default: zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0); return -1;
            }
        } catch (...) {
            if (!*source->failure) *source->failure = std::current_exception();
            zip_error_set(&source->error, ZIP_ER_READ, EIO);
            return -1;
        }
    }

    static zip_int64_t Archive(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto* archive = static_cast<ZipArchive*>(state);
        try {
            switch (command) {
                case ZIP_SOURCE_STAT: {
                    // A new, empty archive.
                    auto* stat = static_cast<zip_stat_t*>(data);
                    zip_stat_init(stat);
                    stat->size = 0;
                    stat->valid = ZIP_STAT_SIZE;
                    return sizeof(zip_stat_t);
                }
                // Nothing to read: the archive is new.
                case ZIP_SOURCE_OPEN:
                case ZIP_SOURCE_CLOSE:
                case ZIP_SOURCE_READ:
                case ZIP_SOURCE_SEEK:
                case ZIP_SOURCE_TELL: return 0;
                case ZIP_SOURCE_BEGIN_WRITE:
                    archive->position_ = archive->length_ = 0;
                    archive->pending_.clear();
                    archive->pendingAt_ = 0;
                    return 0;
                case ZIP_SOURCE_WRITE:
                    archive->Write(data, static_cast<std::size_t>(length));
                    return static_cast<zip_int64_t>(length);
                case ZIP_SOURCE_SEEK_WRITE: {
                    const zip_int64_t to = zip_source_seek_compute_offset(
                        archive->position_, archive->length_, data, length, &archive->error_);
                    if (to < 0) return -1;
                    archive->position_ = static_cast<std::uint64_t>(to);
                    return 0;
                }
                case ZIP_SOURCE_TELL_WRITE: return static_cast<zip_int64_t>(archive->position_);
                case ZIP_SOURCE_COMMIT_WRITE: archive->Flush(); return 0;
                case ZIP_SOURCE_ROLLBACK_WRITE: archive->pending_.clear(); return 0;
                case ZIP_SOURCE_REMOVE:
                case ZIP_SOURCE_FREE: return 0;
                case ZIP_SOURCE_ERROR: return zip_error_to_data(&archive->error_, data, length);
                case ZIP_SOURCE_SUPPORTS:
                    return zip_source_make_command_bitmap(
                        ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
                        ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_BEGIN_WRITE,
                        ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
                        ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
                default: zip_error_set(&archive->error_, ZIP_ER_OPNOTSUPP, 0); return -1;
            }
        } catch (...) {
            if (!archive->failure_) archive->failure_ = std::current_exception();
            zip_error_set(&archive->error_, ZIP_ER_WRITE, EIO);
            return -1;
        }
    }
};

namespace {

constexpr std::size_t kWriteBlock = 256u << 10;

}  // namespace

void ZipArchive::Write(const void* data, std::size_t length) {
    const std::uint64_t pendingEnd = pendingAt_ + pending_.size();
    if (position_ >= pendingAt_ && position_ <= pendingEnd && position_ - pendingAt_ + length <= kWriteBlock) {
        // Within the block or right after it: a header written again, or more.
        const auto at = static_cast<std::size_t>(position_ - pendingAt_);
        if (at + length > pending_.size()) pending_.resize(at + length);
        std::memcpy(pending_.data() + at, data, length);
    } else {
        Flush();
        if (length >= kWriteBlock) {
            file_.WriteAt(position_, data, length);
        } else {
            pendingAt_ = position_;
            pending_.assign(static_cast<const char*>(data), length);
        }
    }
    position_ += length;
    length_ = std::max(length_, position_);
}

void ZipArchive::Flush() {
    if (pending_.empty()) return;
    file_.WriteAt(pendingAt_, pending_.data(), pending_.size());
    pending_.clear();
}

ZipArchive::ZipArchive(TargetFile& file) : file_(file) {
    zip_error_init(&error_);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(&Callbacks::Archive, this, &error);
    if (source == nullptr) Fail(zip_error_strerror(&error));
    zip_ = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (zip_ == nullptr) {
        zip_source_free(source);
        const std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        Fail(text);
    }
    zip_error_fini(&error);
}

ZipArchive::~ZipArchive() {
    if (zip_ != nullptr) zip_discard(zip_);
    zip_error_fini(&error_);
}

void ZipArchive::Fail(const std::string& what) { throw EInOutError(EIO, "zip: " + what); }

void ZipArchive::Add(const std::string& name, std::unique_ptr<EntryContent> content, bool stored) {
    auto* state = new EntrySource{this, content.get(), &failure_, {}};
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function(zip_, &Callbacks::Entry, state);
    if (source == nullptr) {
        delete state;
        Fail(zip_strerror(zip_));
    }
    const zip_int64_t index = zip_file_add(zip_, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        Fail(std::string(zip_strerror(zip_)) + ": " + name);
    }
    contents_.push_back(std::move(content));
    if (zip_set_file_compression(zip_, static_cast<zip_uint64_t>(index), stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 stored ? 0 : 6) != 0)
        Fail(zip_strerror(zip_));
}

void ZipArchive::Add(const std::string& name, std::string bytes, bool stored) {
    Add(name, std::make_unique<MadeContent>([bytes = std::move(bytes)]() mutable { return std::move(bytes); }),
        stored);
}

void ZipArchive::Close() {
    if (zip_close(zip_) == 0) {
        zip_ = nullptr;
        return;
    }
    if (failure_) std::rethrow_exception(failure_);
    Fail(zip_strerror(zip_));
}

}  // namespace vexmor::epub
