#include "catalogue/reading_thread.h"

#include <algorithm>

#include "catalogue/inner_name.h"
#include "catalogue/stream_blocks.h"

namespace vexmor {

namespace {

// Thrown inside a read to leave an item the writer no longer wants.
struct Abandoned {};

}  // namespace

ReadingThread::ReadingThread(const TChmItems& items, std::vector<std::size_t> order, const ContentFilter* filter,
                             std::size_t pieceBytes, std::size_t queueBytes)
    : items_(items),
      order_(std::move(order)),
      filter_(filter),
      pieceBytes_(std::max<std::size_t>(pieceBytes, 1)),
      queueBytes_(queueBytes),
      thread_([this] { Run(); }) {}

ReadingThread::~ReadingThread() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadingThread::Run() {
    std::exception_ptr broken;
    try {
        for (std::size_t place = 0; place < order_.size(); ++place) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (stop_) break;
                if (place < wanted_) continue;  // the writer has gone past it
                readPlace_ = place;
            }
            ReadItem(items_[order_[place]]);
        }
    } catch (...) {
        // Only when a failure could not be queued (no memory for it).
        broken = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        broken_ = broken;
    }
    changed_.notify_all();
}

void ReadingThread::ReadItem(const TChmItem& item) {
    std::exception_ptr failure;
    try {
        const std::shared_ptr<storage::IStream> stream = item.Storage->OpenStreamAt(item.Name, item.Placement);
        if (Filters(filter_, item)) {
            Push(ReadPiece{&item, FilteredBytes(item, *stream, *filter_), true, nullptr});
            return;
        }
        const bool watched = filter_ != nullptr && filter_->watches && filter_->watch && filter_->watches(item);
        const std::size_t reserve = static_cast<std::size_t>(std::min<std::uint64_t>(item.Size, pieceBytes_));
        std::string piece;
        piece.reserve(reserve);
        ReadInBlocks<4096>(*stream, [&](const unsigned char* data, std::uint32_t count) {
            piece.append(reinterpret_cast<const char*>(data), count);
            if (piece.size() < pieceBytes_) return;
            if (watched) filter_->watch(item, piece, false);
            if (!Push(ReadPiece{&item, std::move(piece), false, nullptr})) throw Abandoned{};
            piece = std::string();
            piece.reserve(pieceBytes_);
        });
        if (watched) filter_->watch(item, piece, true);
        Push(ReadPiece{&item, std::move(piece), true, nullptr});
        return;
    } catch (const Abandoned&) {
        return;  // the writer has gone on, or the export stops
    } catch (...) {
        failure = std::current_exception();
    }
    // Queued once the handler has ended: from the queue on, the failure is
    // the writer's alone (the strings inside an exception are shared by
    // counts that a thread checker cannot see).
    Push(ReadPiece{&item, {}, true, std::move(failure)});
}

bool ReadingThread::Push(ReadPiece piece) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A piece larger than the queue still passes once the queue is empty.
    changed_.wait(lock, [&] {
        return stop_ || wanted_ > readPlace_ || queue_.empty() || queued_ + piece.bytes.size() <= queueBytes_;
    });
    if (stop_ || wanted_ > readPlace_) return false;
    queued_ += piece.bytes.size();
    queue_.push_back(std::move(piece));
    lock.unlock();
    changed_.notify_all();
    return true;
}

ReadPiece ReadingThread::Next(const TChmItem& item) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t place = wanted_;
    while (place < order_.size() && &items_[order_[place]] != &item) ++place;
    if (place == order_.size())
        throw EChmExtractError("导出的顺序有误-" + InnerPathAndName(item.Path, item.Name) + " (read out of order)");
    if (place != wanted_) {
        wanted_ = place;
        changed_.notify_all();
    }
    for (;;) {
        // Pieces of earlier items are dropped: the writer has left them.
        while (!queue_.empty() && queue_.front().item != &item) {
            queued_ -= queue_.front().bytes.size();
            queue_.pop_front();
            changed_.notify_all();
        }
        if (!queue_.empty()) {
            ReadPiece piece = std::move(queue_.front());
            queue_.pop_front();
            queued_ -= piece.bytes.size();
            if (piece.last) wanted_ = place + 1;
            lock.unlock();
            changed_.notify_all();
            return piece;
        }
        if (finished_ && broken_) std::rethrow_exception(broken_);
        if (finished_)
            throw EChmExtractError("导出的顺序有误-" + InnerPathAndName(item.Path, item.Name) + " (nothing was read)");
        changed_.wait(lock);
    }
}

}  // namespace vexmor
