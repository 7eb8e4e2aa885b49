#include "tests/catalogue/fake_storage.h"

#include <algorithm>
#include <cstring>

#include "platform/storage/storage_error.h"

namespace vexmor::test {

namespace {

using storage::ElementType;
using storage::EStorageError;

const FakeNode& FindChild(const FakeNode& parent, const std::string& name, ElementType type) {
    for (const FakeNode& child : parent.children) {
        if (child.name == name && child.type == type) {
            if (child.failOpen) throw EStorageError(storage::code::kReadFault, "cannot open " + name);
            return child;
        }
    }
    throw EStorageError(storage::code::kFileNotFound, name);
}

class FakeStream : public storage::IStream {
public:
    FakeStream(std::shared_ptr<const FakeNode> tree, const FakeNode& node, std::shared_ptr<FakeCounters> counters)
        : tree_(std::move(tree)), node_(node), counters_(std::move(counters)) {
        ++counters_->streamsOpened;
        ++counters_->liveStreams;
    }
    ~FakeStream() override { --counters_->liveStreams; }

    std::uint32_t Read(void* buffer, std::uint32_t count) override {
        ++counters_->reads;
        if (node_.failReadAt && position_ >= *node_.failReadAt) {
            throw EStorageError(storage::code::kDamaged, "read failed");
        }
        const std::size_t left = node_.data.size() - position_;
        const auto delivered = static_cast<std::uint32_t>(std::min<std::size_t>(left, count));
        std::memcpy(buffer, node_.data.data() + position_, delivered);
        position_ += delivered;
        return delivered;
    }

private:
    std::shared_ptr<const FakeNode> tree_;  // keeps node_ alive
    const FakeNode& node_;
    std::shared_ptr<FakeCounters> counters_;
    std::size_t position_ = 0;
};

class FakeEnum : public storage::IEnumElements {
public:
    FakeEnum(std::shared_ptr<const FakeNode> tree, const FakeNode& node) : tree_(std::move(tree)), node_(node) {}

    storage::HResult Next(storage::ElementInfo& out) override {
        if (next_ >= node_.children.size()) return storage::kFalse;
        const FakeNode& child = node_.children[next_++];
        out.name = child.name;
        out.type = child.type;
        out.size = child.sizeShown.value_or(child.type == ElementType::Stream ? child.data.size() : 0);
        return storage::kOk;
    }

private:
    std::shared_ptr<const FakeNode> tree_;
    const FakeNode& node_;
    std::size_t next_ = 0;
};

class FakeStorage : public storage::IStorage {
public:
    FakeStorage(std::shared_ptr<const FakeNode> tree, const FakeNode& node, std::shared_ptr<FakeCounters> counters,
                storage::FileIdentity source)
        : tree_(std::move(tree)), node_(node), counters_(std::move(counters)), source_(source) {
        ++counters_->liveStorages;
    }
    ~FakeStorage() override { --counters_->liveStorages; }

    std::shared_ptr<storage::IEnumElements> EnumElements() override { return std::make_shared<FakeEnum>(tree_, node_); }
    std::shared_ptr<storage::IStorage> OpenStorage(const std::string& name) override {
        return std::make_shared<FakeStorage>(tree_, FindChild(node_, name, ElementType::Storage), counters_, source_);
    }
    std::shared_ptr<storage::IStream> OpenStream(const std::string& name) override {
        return std::make_shared<FakeStream>(tree_, FindChild(node_, name, ElementType::Stream), counters_);
    }
    storage::FileIdentity SourceFile() const override { return source_; }

private:
    std::shared_ptr<const FakeNode> tree_;
    const FakeNode& node_;
    std::shared_ptr<FakeCounters> counters_;
    storage::FileIdentity source_;
};

class FakeComponent : public storage::IITStorage {
public:
    FakeComponent(const std::map<std::string, FakeNode>& roots, std::shared_ptr<FakeCounters> counters)
        : roots_(roots), counters_(std::move(counters)) {
        ++counters_->componentsCreated;
    }
    std::shared_ptr<storage::IStorage> StgOpenStorage(const std::string& path) override {
        const auto found = roots_.find(path);
        if (found == roots_.end()) throw EStorageError(storage::code::kFileNotFound, path);
        return OpenFakeStorage(found->second, counters_);
    }
    storage::DecodeStatistics Statistics() const override { return {}; }

private:
    std::map<std::string, FakeNode> roots_;
    std::shared_ptr<FakeCounters> counters_;
};

}  // namespace

FakeNode Stream(std::string name, std::string data) {
    FakeNode node;
    node.name = std::move(name);
    node.data = std::move(data);
    return node;
}

FakeNode Storage(std::string name, std::vector<FakeNode> children) {
    FakeNode node;
    node.name = std::move(name);
    node.type = ElementType::Storage;
    node.children = std::move(children);
    return node;
}

std::shared_ptr<storage::IITStorage> FakeFiles::CreateComponent() {
    return std::make_shared<FakeComponent>(roots, counters);
}

std::shared_ptr<storage::IStorage> OpenFakeStorage(FakeNode root, std::shared_ptr<FakeCounters> counters,
                                                   storage::FileIdentity source) {
    auto tree = std::make_shared<const FakeNode>(std::move(root));
    const FakeNode& node = *tree;
    return std::make_shared<FakeStorage>(std::move(tree), node, std::move(counters), source);
}

}  // namespace vexmor::test
