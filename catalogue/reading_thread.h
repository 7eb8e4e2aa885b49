// Reading the items of an export on a thread of its own, ahead of the
// thread that writes them: a site export spends as much time looking at its
// pages as the writing spends in the file system, and the two overlap.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/item_copy.h"
#include "catalogue/uChmExtractor.h"

namespace vexmor {

// Some bytes of one item, in order; the last piece of an item says so. A
// failed read ends the item with a piece that holds the failure.
struct ReadPiece {
    const TChmItem* item = nullptr;
    std::string bytes;
    bool last = false;
    std::exception_ptr failure;
};

class ReadingThread {
public:
    // Reads the items at `order` in that order, each through `filter` when
    // it wants the item (ContentFilter), else in pieces of up to
    // `pieceBytes`. Read bytes wait in a queue of about `queueBytes`; a
    // filtered item may add one whole item to it.
    // The storage is then read on that thread only, until the object goes.
    ReadingThread(const TChmItems& items, std::vector<std::size_t> order, const ContentFilter* filter,
                  std::size_t pieceBytes = std::size_t{1} << 20, std::size_t queueBytes = std::size_t{4} << 20);
    // Stops the reading (a read under way is finished) and joins the thread.
    ~ReadingThread();

    ReadingThread(const ReadingThread&) = delete;
    ReadingThread& operator=(const ReadingThread&) = delete;

    // The next piece of `item`. The pieces of items that come before it in
    // the order are dropped, and an item whose pieces are being dropped is
    // read no further. Throws EChmExtractError when `item` is not ahead in
    // the order (its pieces are gone).
    ReadPiece Next(const TChmItem& item);

private:
    void Run();
    void ReadItem(const TChmItem& item);
    // False when the reading is to stop. Waits for room in the queue.
    bool Push(ReadPiece piece);

    const TChmItems& items_;
    const std::vector<std::size_t> order_;
    const ContentFilter* filter_;
    const std::size_t pieceBytes_;
    const std::size_t queueBytes_;

    std::mutex mutex_;
    std::condition_variable changed_;  // a piece queued or taken, or the stop
    // All under mutex_. The queue holds pieces of items at places >= wanted_.
    std::deque<ReadPiece> queue_;
    std::size_t queued_ = 0;  // bytes in queue_
    std::size_t wanted_ = 0;  // the place in the order of the item the writer asks for
    std::size_t readPlace_ = 0;  // the place of the item being read
    bool stop_ = false;
    bool finished_ = false;  // every item read or abandoned
    std::exception_ptr broken_;  // why the reading ended early, if it did

    std::thread thread_;  // last: started once everything it uses is ready
};

}  // namespace vexmor
