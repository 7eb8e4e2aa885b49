// Decoding of spans ahead of one reader, on worker threads, in the order a
// plan says the reader will need them. Results wait in a bounded pool until
// the reader takes them; a failure raised on a worker reaches the reader of
// that span, and nobody else.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vexmor::storage {

struct DecodedSpan;

class SpanReadAhead {
public:
    // Decodes span `index`, using `input` as room for its compressed bytes.
    // Called on several threads at once: it must be safe to.
    using Decode = std::function<std::shared_ptr<const DecodedSpan>(std::size_t index, std::vector<std::uint8_t>& input)>;
    // Whether span `index` is already at hand, so that decoding it is waste.
    using IsCached = std::function<bool(std::size_t index)>;

    // `plan`: span indexes in the order the reader will ask for them, each
    // once. At most `poolSpans` (>= 1) decoded spans wait for the reader;
    // `workers` threads decode (fewer when threads cannot be started; with
    // none, the reader decodes everything itself).
    SpanReadAhead(std::vector<std::size_t> plan, unsigned workers, std::size_t poolSpans, Decode decode,
                  IsCached isCached);
    // Stops the workers and joins them; a decode under way is finished first.
    ~SpanReadAhead();
    SpanReadAhead(const SpanReadAhead&) = delete;
    SpanReadAhead& operator=(const SpanReadAhead&) = delete;

    // From the reader's thread only. The span `index` when the plan holds it
    // at or after the reader's place: decoded by a worker (waiting for it
    // when under way) or, when no worker has begun it, here. Everything the
    // plan held before it is given up. Rethrows what its decoding threw.
    // Null when the plan does not hold it ahead: the caller decodes it.
    std::shared_ptr<const DecodedSpan> Take(std::size_t index);

    std::size_t Workers() const noexcept { return threads_.size(); }

private:
    struct Result {
        bool done = false;
        bool skipped = false;  // found cached when its turn came
        std::shared_ptr<const DecodedSpan> span;
        std::exception_ptr error;
    };

    void Work() noexcept;
    // Whether a worker may begin the next planned span; under mutex_.
    bool MayBegin() const { return next_ < plan_.size() && next_ < taken_ + poolSpans_; }

    const std::vector<std::size_t> plan_;
    std::unordered_map<std::size_t, std::size_t> placeOf_;  // span index -> place in plan_
    const std::size_t poolSpans_;
    const Decode decode_;
    const IsCached isCached_;

    std::mutex mutex_;
    std::condition_variable mayBegin_;  // workers wait here for room or the stop
    std::condition_variable finished_;  // the reader waits here for a result
    std::size_t next_ = 0;               // the first place no one has begun
    std::size_t taken_ = 0;              // the first place the reader has not passed
    std::map<std::size_t, Result> pool_;  // places in [taken_, next_), begun or done
    bool stopping_ = false;
    bool broken_ = false;  // a worker failed outside a decode: the reader no longer waits on any
    std::vector<std::uint8_t> readerInput_;  // the reader's room for compressed bytes

    std::vector<std::thread> threads_;  // last: joined before anything they use goes
};

}  // namespace vexmor::storage
