#include <unistd.h>

#include <exception>
#include <filesystem>

#include "catalogue/part_file_guard.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "epub/epub_export.h"
#include "platform/storage/storage.h"

namespace vexmor::cli {

namespace {

constexpr std::size_t kBookSpanCacheBudget = 1u << 20;

// The progress line, an item at a time: BeforeItem comes as the book's
// writer reaches each item.
class BookProgress : public ExportObserver {
public:
    explicit BookProgress(ExportProgress& progress) : progress_(progress) {}
    ~BookProgress() override { Finish(); }
    bool BeforeItem(const TChmItem& item) override {
        Finish();
        current_ = &item;
        return true;
    }
    void Finish() {
        if (current_ != nullptr) progress_.Advance(current_->Size);
        current_ = nullptr;
    }

private:
    ExportProgress& progress_;
    const TChmItem* current_ = nullptr;
};

}  // namespace

int RunEpub(const EpubCommand& command) {
    RemovePartFilesOnSignals();
    std::string target = command.target;
    if (target.empty()) {
        target = epub::BookNameOf(command.file);
        if (target.empty()) {
            Message("cannot name a book after " + command.file + "; give the book's name as second argument");
            return kExitUsage;
        }
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(target, ignored)) {
        Message(target + " is a folder; give the book's file name");
        return kExitFailure;
    }
    // The book reads each stream once, in the order of their bytes: a small
    // cache of decoded data serves that as well as the default one.
    TChmExtractor extractor([] { return storage::CreateITStorageWithCache(kBookSpanCacheBudget); });
    extractor.Open(command.file);
    const TChmItems& items = extractor.Items();
    epub::EpubExport run(items, command.file);
    ByteTotal totalBytes;
    for (const std::size_t index : run.Order()) totalBytes += items[index].Size;
    {
        ExportProgress progress(::isatty(STDERR_FILENO) == 1, run.Order().size(), totalBytes);
        BookProgress observer(progress);
        try {
            run.Write(target, &observer);
        } catch (...) {
            progress.Erase();
            throw;
        }
        observer.Finish();
        progress.Erase();
    }
    Message("wrote " + std::to_string(run.Order().size()) + " streams as an e-book to " + EscapeForLine(target));
    return kExitOk;
}

}  // namespace vexmor::cli
