#include <array>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/harness/fuzz_targets.h"
#include "fuzz/harness/scratch_folder.h"
#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"

namespace vexmor::fuzz {

namespace {

namespace st = vexmor::storage;

// Decoded bytes one run may read in all. Reading is linear in the output, and
// a tiny input can declare streams of terabytes that decode from a few bits
// each: the cap bounds the time of a run, not what the reader may do.
constexpr std::uint64_t kReadBudget = 64u << 20;

void ReadStream(st::IStorage& storage, const std::string& name, std::uint64_t& budget) {
    const std::shared_ptr<st::IStream> stream = storage.OpenStream(name);
    std::array<std::uint8_t, 65536> buffer;
    while (budget > 0) {
        const std::uint32_t delivered = stream->Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        if (delivered > buffer.size()) __builtin_trap();  // more than asked: the contract is broken
        budget -= std::min<std::uint64_t>(budget, delivered);
        if (delivered < buffer.size()) return;
    }
}

// Every element of every storage; a damaged stream or storage does not stop
// the walk, so one input exercises as much of the reader as it can.
void Walk(const std::shared_ptr<st::IStorage>& root) {
    std::uint64_t budget = kReadBudget;
    std::vector<std::shared_ptr<st::IStorage>> pending{root};
    while (!pending.empty()) {
        const std::shared_ptr<st::IStorage> storage = std::move(pending.back());
        pending.pop_back();
        const std::shared_ptr<st::IEnumElements> elements = storage->EnumElements();
        st::ElementInfo info;
        while (elements->Next(info) == st::kOk) {
            try {
                if (info.type == st::ElementType::Storage)
                    pending.push_back(storage->OpenStorage(info.name));
                else
                    ReadStream(*storage, info.name, budget);
            } catch (const st::EStorageError&) {
            }
        }
    }
}

}  // namespace

void RunReader(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder scratch;
    const std::string path = scratch.WriteInput("input.chm", data, size);
    try {
        const std::shared_ptr<st::IITStorage> component = st::CreateITStorage();
        Walk(component->StgOpenStorage(path));
        component->Statistics();
    } catch (const st::EStorageError&) {
    }
}

}  // namespace vexmor::fuzz
