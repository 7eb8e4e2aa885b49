// The read-ahead engine on its own, with a decoding made up by the test:
// how far ahead workers go, who gets a failure, what a reader that skips
// or goes back receives.
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/storage/lzx_section.h"
#include "platform/storage/span_read_ahead.h"

namespace vexmor::storage {
namespace {

constexpr std::size_t kSpans = 200;

std::vector<std::size_t> Plan() {
    std::vector<std::size_t> plan(kSpans);
    for (std::size_t i = 0; i < kSpans; ++i) plan[i] = i;
    return plan;
}

// A span whose start says which one it is.
std::shared_ptr<const DecodedSpan> Made(std::size_t index) {
    auto span = std::make_shared<DecodedSpan>();
    span->start = index;
    return span;
}

SpanReadAhead::IsCached NothingCached() {
    return [](std::size_t) { return false; };
}

TEST(SpanReadAhead, WorkersNeverBeginASpanBeyondThePoolAheadOfTheReader) {
    constexpr std::size_t kPool = 4;
    std::atomic<std::size_t> asked = 0;  // set before each Take: the reader's place is at most one past it
    std::atomic<std::size_t> furthest = 0;
    std::atomic<bool> beyond = false;
    SpanReadAhead ahead(Plan(), 3, kPool,
                        [&](std::size_t index, std::vector<std::uint8_t>&) {
                            if (index >= asked.load() + 1 + kPool) beyond = true;
                            std::size_t seen = furthest.load();
                            while (seen < index && !furthest.compare_exchange_weak(seen, index)) {
                            }
                            return Made(index);
                        },
                        NothingCached());
    EXPECT_EQ(ahead.Workers(), 3u);
    for (std::size_t i = 0; i < kSpans; ++i) {
        asked = i;
        std::this_thread::yield();  // give the workers a chance to run ahead
        const auto span = ahead.Take(i);
        ASSERT_NE(span, nullptr);
        EXPECT_EQ(span->start, i);
    }
    EXPECT_FALSE(beyond);
    EXPECT_EQ(furthest, kSpans - 1);
}

TEST(SpanReadAhead, AFailureReachesOnlyTheReaderOfItsSpan) {
    SpanReadAhead ahead(Plan(), 2, 8,
                        [](std::size_t index, std::vector<std::uint8_t>&) {
                            if (index == 7) throw std::runtime_error("span 7 is damaged");
                            return Made(index);
                        },
                        NothingCached());
    for (std::size_t i = 0; i < kSpans; ++i) {
        if (i == 7) {
            try {
                ahead.Take(i);
                ADD_FAILURE() << "span 7 was delivered";
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), "span 7 is damaged");
            }
            continue;
        }
        const auto span = ahead.Take(i);
        ASSERT_NE(span, nullptr) << i;
        EXPECT_EQ(span->start, i);
    }
}

TEST(SpanReadAhead, SkippedSpansAreGivenUpAndReadsBehindOrOutsideThePlanAreTheCallers) {
    SpanReadAhead ahead(Plan(), 2, 8, [](std::size_t index, std::vector<std::uint8_t>&) { return Made(index); },
                        NothingCached());
    EXPECT_EQ(ahead.Take(0)->start, 0u);
    EXPECT_EQ(ahead.Take(50)->start, 50u);  // far past what the workers had begun
    EXPECT_EQ(ahead.Take(20), nullptr);      // behind the reader
    EXPECT_EQ(ahead.Take(kSpans + 5), nullptr);
    EXPECT_EQ(ahead.Take(51)->start, 51u);
}

TEST(SpanReadAhead, ASpanCachedWhenItsTurnCameIsLeftToTheCaller) {
    SpanReadAhead ahead(Plan(), 1, 2, [](std::size_t index, std::vector<std::uint8_t>&) { return Made(index); },
                        [](std::size_t index) { return index % 2 == 1; });
    for (std::size_t i = 0; i < 10; ++i) {
        // An odd span comes or not: a worker found it cached, or the reader
        // overtook the worker and decoded it. An even one always comes.
        const auto span = ahead.Take(i);
        if (span) {
            EXPECT_EQ(span->start, i);
        } else {
            EXPECT_EQ(i % 2, 1u) << i;
        }
    }
}

TEST(SpanReadAhead, WithoutWorkersTheReaderDecodesEverySpanItself) {
    const std::thread::id reader = std::this_thread::get_id();
    std::atomic<bool> elsewhere = false;
    SpanReadAhead ahead(Plan(), 0, 4,
                        [&](std::size_t index, std::vector<std::uint8_t>&) {
                            if (std::this_thread::get_id() != reader) elsewhere = true;
                            return Made(index);
                        },
                        NothingCached());
    EXPECT_EQ(ahead.Workers(), 0u);
    for (std::size_t i = 0; i < kSpans; ++i) EXPECT_EQ(ahead.Take(i)->start, i);
    EXPECT_FALSE(elsewhere);
}

}  // namespace
}  // namespace vexmor::storage
