#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/harness/fuzz_targets.h"
#include "fuzz/harness/run_limits.h"
#include "fuzz/harness/scratch_folder.h"
#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"

namespace vexmor::fuzz {

namespace {

namespace st = vexmor::storage;

// Bytes read of each stream. More than one 32 KiB frame, so that a read
// crosses from one decoded span into the next whenever the stream does;
// past that, the rest of a stream runs the same copy again.
constexpr std::uint32_t kStreamPart = 48u << 10;
constexpr std::uint32_t kBlock = 16u << 10;

// A cache smaller than one span of the fixtures: reading the streams in
// name order then evicts and decodes spans again.
constexpr std::size_t kSmallSpanCache = 64u << 10;

void ReadStream(st::IStorage& storage, const st::ElementInfo& info, const st::IITStorage& component) {
    const std::shared_ptr<st::IStream> stream = storage.OpenStream(info.name);
    std::array<std::uint8_t, kBlock> buffer;
    for (std::uint32_t read = 0; read < kStreamPart;) {
        // Stored bytes cost a copy; decoded ones are what the budget bounds.
        if (info.placement.area != 0 && DecodeBudgetSpent(component.Statistics())) return;
        const std::uint32_t delivered = stream->Read(buffer.data(), kBlock);
        if (delivered > kBlock) Broken("a stream delivered more bytes than asked");
        if (delivered < kBlock) return;
        read += delivered;
    }
}

// The compressed section as `info` asks for it, before any stream is read.
struct SectionAnswer {
    bool declared = true;  // false: the reader says the file has none
    std::optional<std::string> refusal;
};

SectionAnswer AskForSection(st::IStorage& root) {
    SectionAnswer answer;
    try {
        answer.declared = root.CompressedSection().has_value();
    } catch (const st::EStorageError& e) {
        answer.refusal = e.what();
    }
    return answer;
}

// A stream of the compressed section agrees with that answer: where the
// reader refused the section, it refuses each stream in it with the same
// words, and a file said to have no section has no stream in one.
void CheckAgainst(const SectionAnswer& section, st::IStorage& storage, const st::ElementInfo& info) {
    if (info.placement.area != 1) return;
    if (!section.declared) Broken("a stream in the compressed section of a file said to have none");
    if (!section.refusal) return;
    try {
        storage.OpenStream(info.name);
    } catch (const st::EStorageError& e) {
        if (e.what() != *section.refusal)
            Broken("a stream of a refused section fails otherwise: " + std::string(e.what()) + " / " + *section.refusal);
        return;
    }
    Broken("a stream of a refused section opened");
}

// Every element of every storage; a damaged stream or storage does not stop
// the walk, so one input exercises as much of the reader as it can. Streams
// are opened even once the decode budget is spent: the lookup and the
// section checks of opening cost nothing worth saving.
void Walk(const std::shared_ptr<st::IStorage>& root, const st::IITStorage& component) {
    const SectionAnswer section = AskForSection(*root);
    std::vector<std::shared_ptr<st::IStorage>> pending{root};
    while (!pending.empty()) {
        const std::shared_ptr<st::IStorage> storage = std::move(pending.back());
        pending.pop_back();
        const std::shared_ptr<st::IEnumElements> elements = storage->EnumElements();
        std::vector<st::ElementInfo> listed;
        for (st::ElementInfo info; elements->Next(info) == st::kOk;) listed.push_back(info);
        // A name listed twice opens its first element only (an export refuses
        // such a pair): the check needs the name to say which stream it is.
        // Counted only where a stream will be opened for the check.
        std::map<std::string, unsigned> times;
        if (section.refusal)
            for (const st::ElementInfo& info : listed) ++times[info.name];
        for (const st::ElementInfo& info : listed) {
            if (!section.refusal || times[info.name] == 1) CheckAgainst(section, *storage, info);
            try {
                if (info.type == st::ElementType::Storage)
                    pending.push_back(storage->OpenStorage(info.name));
                else
                    ReadStream(*storage, info, component);
            } catch (const st::EStorageError&) {
            }
        }
    }
}

}  // namespace

void RunReader(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder scratch;
    const std::string path = scratch.WriteInput("input.chm", data, size);
    // The last byte picks the cache, so that the fuzzer meets both with
    // every file it changes.
    const bool smallCache = size > 0 && (data[size - 1] & 1) != 0;
    try {
        st::ReaderOptions options;
        if (smallCache) options.spanCacheBudget = kSmallSpanCache;
        const std::shared_ptr<st::IITStorage> component = st::CreateITStorageWithOptions(Bounded(options));
        Walk(component->StgOpenStorage(path), *component);
    } catch (const st::EStorageError&) {
    }
}

}  // namespace vexmor::fuzz
