#include "TracedStorage.h"

#include <QApplication>
#include <QCursor>

using vexmor::storage::IEnumElements;
using vexmor::storage::IITStorage;
using vexmor::storage::IStorage;
using vexmor::storage::IStream;

int CurrentCursorShape() {
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor ? static_cast<int>(cursor->shape()) : -1;
}

std::size_t StorageTrace::Alive() const {
    std::size_t alive = 0;
    for (const auto& ref : handedOut)
        alive += ref.expired() ? 0 : 1;
    return alive;
}

namespace {

template <typename T>
std::shared_ptr<T> Record(StorageTrace& trace, std::shared_ptr<T> object) {
    trace.handedOut.push_back(object);
    return object;
}

class TracedStream : public IStream {
public:
    TracedStream(std::shared_ptr<IStream> inner, std::shared_ptr<StorageTrace> trace, std::string name)
        : inner_(std::move(inner)), trace_(std::move(trace)), name_(std::move(name)) {}

    std::uint32_t Read(void* buffer, std::uint32_t count) override {
        if (!readBefore_ && trace_->onFirstRead)
            trace_->onFirstRead(name_);
        readBefore_ = true;
        return inner_->Read(buffer, count);
    }

private:
    std::shared_ptr<IStream> inner_;
    std::shared_ptr<StorageTrace> trace_;
    std::string name_;
    bool readBefore_ = false;
};

class TracedStorage : public IStorage {
public:
    TracedStorage(std::shared_ptr<IStorage> inner, std::shared_ptr<StorageTrace> trace)
        : inner_(std::move(inner)), trace_(std::move(trace)) {}

    std::shared_ptr<IEnumElements> EnumElements() override { return inner_->EnumElements(); }

    std::shared_ptr<IStorage> OpenStorage(const std::string& name) override {
        auto inner = Record(*trace_, inner_->OpenStorage(name));
        return Record<IStorage>(*trace_, std::make_shared<TracedStorage>(inner, trace_));
    }

    std::shared_ptr<IStream> OpenStream(const std::string& name) override {
        trace_->cursorAtStreamOpen.push_back(CurrentCursorShape());
        auto inner = Record(*trace_, inner_->OpenStream(name));
        return Record<IStream>(*trace_, std::make_shared<TracedStream>(inner, trace_, name));
    }

    vexmor::storage::FileIdentity SourceFile() const override { return inner_->SourceFile(); }

    // Passed on, so that the window's exports decode ahead as they do
    // with the real reader.
    std::unique_ptr<vexmor::storage::ReadAheadPlan> PlanReads(
        const std::vector<vexmor::storage::Placement>& order) override {
        return inner_->PlanReads(order);
    }

private:
    std::shared_ptr<IStorage> inner_;
    std::shared_ptr<StorageTrace> trace_;
};

class TracedComponent : public IITStorage {
public:
    TracedComponent(std::shared_ptr<IITStorage> inner, std::shared_ptr<StorageTrace> trace)
        : inner_(std::move(inner)), trace_(std::move(trace)) {}

    std::shared_ptr<IStorage> StgOpenStorage(const std::string& path) override {
        trace_->cursorAtFileOpen.push_back(CurrentCursorShape());
        auto root = Record(*trace_, inner_->StgOpenStorage(path));
        return Record<IStorage>(*trace_, std::make_shared<TracedStorage>(root, trace_));
    }

    vexmor::storage::DecodeStatistics Statistics() const override { return inner_->Statistics(); }

private:
    std::shared_ptr<IITStorage> inner_;
    std::shared_ptr<StorageTrace> trace_;
};

}  // namespace

vexmor::TChmExtractor::StorageMaker TracingFactory(std::shared_ptr<StorageTrace> trace) {
    return [trace] {
        ++trace->componentsCreated;
        auto inner = Record(*trace, vexmor::storage::CreateITStorage());
        return Record<IITStorage>(*trace, std::make_shared<TracedComponent>(inner, trace));
    };
}
