#include "tests/storage/storage_walk.h"

#include <algorithm>

namespace vexmor::test {

namespace {

void Walk(const std::shared_ptr<storage::IStorage>& storage, const std::string& prefix,
          const std::function<void(const WalkedStream&)>& visit) {
    auto elements = storage->EnumElements();
    storage::ElementInfo info;
    while (elements->Next(info) == storage::kOk) {
        if (info.type == storage::ElementType::Storage) {
            Walk(storage->OpenStorage(info.name), prefix + info.name + "/", visit);
            continue;
        }
        WalkedStream stream;
        stream.name = prefix + info.name;
        stream.enumeratedSize = info.size;
        stream.bytes = ReadAll(*storage->OpenStream(info.name));
        visit(stream);
    }
}

}  // namespace

void WalkStreams(const std::shared_ptr<storage::IStorage>& root, const std::function<void(const WalkedStream&)>& visit) {
    Walk(root, "", visit);
}

std::vector<PlacedStream> StreamsInStorageOrder(const std::shared_ptr<storage::IStorage>& root) {
    std::vector<PlacedStream> streams;
    const std::function<void(const std::shared_ptr<storage::IStorage>&, const std::string&)> walk =
        [&](const std::shared_ptr<storage::IStorage>& storage, const std::string& prefix) {
            auto elements = storage->EnumElements();
            storage::ElementInfo info;
            while (elements->Next(info) == storage::kOk) {
                if (info.type == storage::ElementType::Storage)
                    walk(storage->OpenStorage(info.name), prefix + info.name + "/");
                else
                    streams.push_back({storage, info.name, prefix + info.name, info.placement});
            }
        };
    walk(root, "");
    std::stable_sort(streams.begin(), streams.end(), [](const PlacedStream& a, const PlacedStream& b) {
        return a.placement.area != b.placement.area ? a.placement.area < b.placement.area
                                                    : a.placement.offset < b.placement.offset;
    });
    return streams;
}

std::vector<storage::Placement> PlacementsOf(const std::vector<PlacedStream>& streams) {
    std::vector<storage::Placement> placements;
    for (const PlacedStream& stream : streams) placements.push_back(stream.placement);
    return placements;
}

std::string ReadAll(storage::IStream& stream, std::uint32_t block) {
    std::string out;
    std::string buffer(block, '\0');
    for (;;) {
        const std::uint32_t got = stream.Read(buffer.data(), block);
        out.append(buffer.data(), got);
        if (got < block) return out;
    }
}

}  // namespace vexmor::test
