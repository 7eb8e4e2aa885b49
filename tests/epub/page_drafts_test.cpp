// Pages drafted ahead on several threads, the writer drafting too while it
// waits: each page must come back as its own, in the book's order, with no
// more than one large page drafted at a time and none by the writer, never
// further ahead than allowed, and a page's failure thrown where it is taken.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "epub/page_drafts.h"
#include "tests/common/case_name.h"

namespace vexmor::epubtest {
namespace {

using epub::PageDrafts;

struct DraftsCase {
    const char* what;
    unsigned threads;
    std::size_t pages;
    std::size_t largeEvery;  // 0: none large
    PageDrafts::Ahead ahead;
    std::size_t mostAhead;   // places past the one taken last, drafted at most
};

class Drafts : public ::testing::TestWithParam<DraftsCase> {};

TEST_P(Drafts, EachPageComesBackAsItsOwnInOrderWithinTheBounds) {
    const DraftsCase& c = GetParam();
    std::vector<PageDrafts::Page> pages;
    for (std::size_t i = 0; i < c.pages; ++i) {
        const bool large = c.largeEvery != 0 && i % c.largeEvery == 0;
        pages.push_back({i * 3, large ? 1000u : 10u, large});  // page numbers apart from places
    }
    const std::thread::id writer = std::this_thread::get_id();
    std::atomic<std::size_t> taken{0};
    std::atomic<int> largeNow{0};
    std::atomic<int> largeMost{0};
    std::atomic<int> largeByWriter{0};
    std::atomic<std::size_t> furthest{0};  // places past the one taken last, at most
    std::mutex readers;
    PageDrafts drafts(
        pages,
        [&](std::size_t number) {
            // Called holding the storage lock: no other read may run now.
            if (!readers.try_lock()) throw std::logic_error("two reads at once");
            std::lock_guard held(readers, std::adopt_lock);
            return "page " + std::to_string(number);
        },
        [&](std::size_t number, const std::string& bytes, epub::DraftingTools&) {
            const std::size_t place = number / 3;
            const std::size_t ahead = place - std::min(place, taken.load());
            for (std::size_t seen = furthest.load(); ahead > seen && !furthest.compare_exchange_weak(seen, ahead);) {
            }
            if (pages[place].large) {
                if (std::this_thread::get_id() == writer) ++largeByWriter;
                const int now = ++largeNow;
                for (int most = largeMost.load(); now > most && !largeMost.compare_exchange_weak(most, now);) {
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --largeNow;
            }
            epub::PageDraft draft;
            draft.body = bytes;
            return draft;
        },
        c.threads, c.ahead);
    for (std::size_t i = 0; i < c.pages; ++i) {
        const epub::DraftedPage drafted = drafts.Take(pages[i].number);
        ASSERT_EQ(drafted.draft.body, "page " + std::to_string(pages[i].number)) << "place " << i;
        EXPECT_EQ(drafted.bytesRead, drafted.draft.body.size());
        ++taken;
    }
    EXPECT_LE(largeMost.load(), 1) << "large pages drafted at once";
    if (c.threads > 0) {
        EXPECT_EQ(largeByWriter.load(), 0) << "large pages drafted by the writer";
    }
    // The test counts a page taken once Take returns: one place later.
    EXPECT_LE(furthest.load(), c.mostAhead + 1) << "drafted further ahead than allowed";
}

INSTANTIATE_TEST_SUITE_P(
    Epub, Drafts,
    ::testing::Values(DraftsCase{"NoThreadTheWriterDraftsAll", 0, 50, 7, {8, 1u << 20}, 0},
                      DraftsCase{"OneThread", 1, 300, 5, {16, 1u << 20}, 15},
                      DraftsCase{"TwoThreadsSmallPages", 2, 2000, 0, {64, 1u << 20}, 63},
                      DraftsCase{"TwoThreadsLargePagesInRuns", 2, 400, 2, {32, 1u << 20}, 31},
                      DraftsCase{"TwoThreadsEveryPageLarge", 2, 100, 1, {32, 1u << 20}, 31},
                      // 10 bytes: the page waited for, and one small page more.
                      DraftsCase{"BytesBoundOnePageAhead", 2, 200, 3, {64, 10}, 1}),
    test::CaseName<DraftsCase>);

TEST(Drafts, AFailedPageIsThrownWhereItIsTakenAndTheOthersStand) {
    for (const unsigned threads : {0u, 2u}) {
        std::vector<PageDrafts::Page> pages;
        for (std::size_t i = 0; i < 40; ++i) pages.push_back({i, 10, false});
        PageDrafts drafts(
            pages,
            [](std::size_t number) {
                if (number == 17) throw std::runtime_error("unreadable");
                return std::string("p") + std::to_string(number);
            },
            [](std::size_t, const std::string& bytes, epub::DraftingTools&) {
                epub::PageDraft draft;
                draft.body = bytes;
                return draft;
            },
            threads, {8, 1u << 20});
        for (std::size_t i = 0; i < 17; ++i) EXPECT_EQ(drafts.Take(i).draft.body, "p" + std::to_string(i));
        EXPECT_THROW(drafts.Take(17), std::runtime_error) << threads << " threads";
        EXPECT_EQ(drafts.Take(18).draft.body, "p18") << threads << " threads";
        // Leaving with pages not taken stops the threads.
    }
}

}  // namespace
}  // namespace vexmor::epubtest
