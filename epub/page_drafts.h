// Pages of the book drafted (DraftPage) on threads of their own, ahead of
// the thread that writes the zip file and finishes each page in the book's
// order. That thread drafts too while the page it waits for is under way,
// so that no core stands idle. The help file is read by one thread at a
// time: every read of it, the writer's too, holds StorageLock(). One large
// page at a time is drafted, by a drafting thread: the tree of a page takes
// many times its size.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "epub/xhtml_page.h"

namespace vexmor::epub {

struct DraftedPage {
    PageDraft draft;
    std::uint64_t bytesRead = 0;
};

class PageDrafts {
public:
    // `read` gives the bytes of a page (called holding the storage lock),
    // `draft` drafts them (called holding no lock). Both are called on the
    // drafting threads, at once on several: they must be safe to.
    using Read = std::function<std::string(std::size_t page)>;
    using Draft = std::function<PageDraft(std::size_t page, const std::string& bytes, DraftingTools& tools)>;

    struct Page {
        std::size_t number;
        std::uint64_t size;  // of its stream
        bool large;
    };
    // Who claims a page to draft it.
    enum class Drafter { Thread, Taker };
    // How far the drafting may run ahead of the page taken last: pages, and
    // the bytes of their streams (one page is drafted whatever its size).
    struct Ahead {
        std::size_t pages;
        std::uint64_t bytes;
    };
    // Drafts `pages` in that order on `threads` threads, at most `ahead` of
    // the one taken last, from Start or the first Take on. With no thread
    // (or none that could be started) Take drafts each page itself.
    PageDrafts(std::vector<Page> pages, Read read, Draft draft, unsigned threads, Ahead ahead);
    // Stops the drafting (pages under way are finished) and joins the threads.
    ~PageDrafts();
    PageDrafts(const PageDrafts&) = delete;
    PageDrafts& operator=(const PageDrafts&) = delete;

    // The draft of `page`, which must be the next of the order; throws what
    // reading or drafting it threw.
    DraftedPage Take(std::size_t page);

    std::mutex& StorageLock() { return storage_; }

    // Starts the drafting threads, on the thread that takes the pages.
    void Start();

private:
    struct Slot {
        bool ready = false;
        DraftedPage page;
        std::exception_ptr failure;
    };

    void Run();
    bool MayClaim(Drafter drafter) const;
    // Claims the next place and drafts its page into its slot; called with
    // `lock` held on mutex_, which is let go while the page is drafted.
    void DraftNext(std::unique_lock<std::mutex>& lock, DraftingTools& tools);
    DraftedPage Make(std::size_t page, DraftingTools& tools);

    const std::vector<Page> pages_;
    const Read read_;
    const Draft draft_;
    const Ahead ahead_;
    const unsigned threadCount_;
    bool started_ = false;  // Take's thread only
    std::mutex storage_;

    std::mutex mutex_;
    std::condition_variable changed_;  // a page drafted or taken, or the stop
    // Under mutex_: slots_[i] is the page at place taken_ + i of the order.
    std::deque<Slot> slots_;
    std::size_t taken_ = 0;
    std::size_t claimed_ = 0;  // places handed to a thread
    std::uint64_t claimedBytes_ = 0;  // of the places claimed and not taken
    bool largeUnderWay_ = false;
    bool stop_ = false;

    DraftingTools tools_;  // Take's own
    std::vector<std::thread> threads_;  // last: started once everything they use is ready
};

}  // namespace vexmor::epub
