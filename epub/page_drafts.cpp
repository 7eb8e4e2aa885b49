#include "epub/page_drafts.h"

#include <system_error>

#include "catalogue/uChmExtractor.h"

namespace vexmor::epub {

PageDrafts::PageDrafts(std::vector<Page> pages, Read read, Draft draft, unsigned threads, Ahead ahead)
    : pages_(std::move(pages)),
      read_(std::move(read)),
      draft_(std::move(draft)),
      ahead_{ahead.pages == 0 ? 1 : ahead.pages, ahead.bytes},
      threadCount_(threads) {}

void PageDrafts::Start() {
    if (started_) return;
    started_ = true;
    try {
        for (unsigned i = 0; i < threadCount_ && !pages_.empty(); ++i) threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
        // Those started draft; with none, Take does.
    }
}

PageDrafts::~PageDrafts() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

DraftedPage PageDrafts::Make(std::size_t page, DraftingTools& tools) {
    DraftedPage made;
    std::string bytes;
    {
        const std::lock_guard lock(storage_);
        bytes = read_(page);
    }
    made.bytesRead = bytes.size();
    made.draft = draft_(page, bytes, tools);
    return made;
}

// Under mutex_.
bool PageDrafts::MayClaim(Drafter drafter) const {
    if (claimed_ >= pages_.size() || claimed_ >= taken_ + ahead_.pages) return false;
    if (pages_[claimed_].large && (drafter == Drafter::Taker || largeUnderWay_)) return false;
    return claimed_ == taken_ || claimedBytes_ + pages_[claimed_].size <= ahead_.bytes;
}

void PageDrafts::DraftNext(std::unique_lock<std::mutex>& lock, DraftingTools& tools) {
    // The pages are read in their order: the place is claimed and read
    // under the storage lock, taken before mutex_.
    lock.unlock();
    std::unique_lock storage(storage_);
    lock.lock();
    if (stop_ || claimed_ >= pages_.size()) return;
    const Drafter drafter = &tools == &tools_ ? Drafter::Taker : Drafter::Thread;
    if (!MayClaim(drafter)) return;
    const std::size_t place = claimed_++;
    const Page page = pages_[place];
    claimedBytes_ += page.size;
    if (page.large) largeUnderWay_ = true;
    if (slots_.size() < place - taken_ + 1) slots_.resize(place - taken_ + 1);
    lock.unlock();
    changed_.notify_all();  // the next page may be another thread's
    Slot made;
    try {
        std::string bytes = read_(page.number);
        storage.unlock();
        made.page.bytesRead = bytes.size();
        made.page.draft = draft_(page.number, bytes, tools);
    } catch (...) {
        made.failure = std::current_exception();
    }
    if (storage.owns_lock()) storage.unlock();
    made.ready = true;
    lock.lock();
    if (page.large) largeUnderWay_ = false;
    if (place >= taken_) slots_[place - taken_] = std::move(made);
    lock.unlock();
    changed_.notify_all();
    lock.lock();
}

void PageDrafts::Run() {
    DraftingTools tools;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || claimed_ >= pages_.size() || MayClaim(Drafter::Thread); });
        if (stop_ || claimed_ >= pages_.size()) return;
        DraftNext(lock, tools);
    }
}

DraftedPage PageDrafts::Take(std::size_t page) {
    if (!started_) Start();
    std::unique_lock lock(mutex_);
    if (taken_ >= pages_.size() || pages_[taken_].number != page)
        throw EChmExtractError("e-book: a page was asked for out of its order");
    if (threads_.empty()) {
        ++taken_;
        ++claimed_;
        lock.unlock();
        return Make(page, tools_);
    }
    // While the page is under way, the next that may be claimed is drafted here.
    while (slots_.empty() || !slots_.front().ready) {
        if (MayClaim(Drafter::Taker)) DraftNext(lock, tools_);
        else changed_.wait(lock);
    }
    Slot slot = std::move(slots_.front());
    slots_.pop_front();
    claimedBytes_ -= pages_[taken_].size;
    ++taken_;
    lock.unlock();
    changed_.notify_all();
    if (slot.failure) std::rethrow_exception(slot.failure);
    return std::move(slot.page);
}

}  // namespace vexmor::epub
