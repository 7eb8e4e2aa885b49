#include "platform/storage/span_read_ahead.h"

#include <system_error>
#include <utility>

namespace vexmor::storage {

SpanReadAhead::SpanReadAhead(std::vector<std::size_t> plan, unsigned workers, std::size_t poolSpans, Decode decode,
                             IsCached isCached)
    : plan_(std::move(plan)),
      poolSpans_(poolSpans < 1 ? 1 : poolSpans),
      decode_(std::move(decode)),
      isCached_(std::move(isCached)) {
    placeOf_.reserve(plan_.size());
    for (std::size_t place = 0; place < plan_.size(); ++place) placeOf_.try_emplace(plan_[place], place);
    threads_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) {
        try {
            threads_.emplace_back(&SpanReadAhead::Work, this);
        } catch (const std::system_error&) {
            break;  // the threads started do the work; with none, the reader does
        }
    }
}

SpanReadAhead::~SpanReadAhead() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    mayBegin_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

std::shared_ptr<const DecodedSpan> SpanReadAhead::Take(std::size_t index) {
    const auto found = placeOf_.find(index);
    if (found == placeOf_.end()) return nullptr;
    const std::size_t place = found->second;

    std::unique_lock lock(mutex_);
    if (place < taken_) return nullptr;
    // The reader went past what lies before: those results are no longer
    // wanted, and their room goes to the spans after this one.
    const std::size_t freed = place + 1 - taken_;
    pool_.erase(pool_.begin(), pool_.lower_bound(place));
    taken_ = place;

    Result result;
    const auto decodeHere = [&] {
        lock.unlock();
        try {
            result.span = decode_(index, readerInput_);
        } catch (...) {
            result.error = std::current_exception();
        }
        lock.lock();
    };
    if (place >= next_) {
        next_ = place + 1;  // no worker has begun it: quicker here than waiting for one
        decodeHere();
    } else {
        finished_.wait(lock, [&] {
            const auto begun = pool_.find(place);
            return broken_ || (begun != pool_.end() && begun->second.done);
        });
        const auto begun = pool_.find(place);
        if (begun != pool_.end() && begun->second.done) {
            result = std::move(begun->second);
        } else {
            decodeHere();  // its worker failed before it could say so
        }
    }
    pool_.erase(place);
    taken_ = place + 1;
    lock.unlock();
    // Room for as many more spans as places were passed: one, as a rule.
    if (freed == 1)
        mayBegin_.notify_one();
    else
        mayBegin_.notify_all();
    if (result.error) std::rethrow_exception(result.error);
    return result.span;  // null when it was skipped as cached: the caller decodes it
}

void SpanReadAhead::Work() noexcept {
    std::vector<std::uint8_t> input;
    try {
        std::unique_lock lock(mutex_);
        for (;;) {
            mayBegin_.wait(lock, [&] { return stopping_ || MayBegin(); });
            if (stopping_) return;
            const std::size_t place = next_++;
            pool_.try_emplace(place);
            lock.unlock();
            Result result;
            result.done = true;
            try {
                if (isCached_(plan_[place]))
                    result.skipped = true;
                else
                    result.span = decode_(plan_[place], input);
            } catch (...) {
                result.error = std::current_exception();
            }
            lock.lock();
            // Gone when the reader went past it meanwhile.
            if (const auto begun = pool_.find(place); begun != pool_.end()) {
                begun->second = std::move(result);
                finished_.notify_one();  // only the reader waits there
            }
        }
    } catch (...) {
        // Out of memory outside a decode: the reader stops counting on the
        // workers and decodes what it needs itself.
        const std::lock_guard lock(mutex_);
        broken_ = true;
        finished_.notify_all();
    }
}

}  // namespace vexmor::storage
