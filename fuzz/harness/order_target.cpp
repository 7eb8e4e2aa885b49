#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/folder_export.h"
#include "catalogue/storage_order.h"
#include "catalogue/uChmExtractor.h"
#include "fuzz/harness/fuzz_targets.h"
#include "fuzz/harness/run_limits.h"

namespace vexmor::fuzz {

namespace {

// Items of one run: the overlap check below looks at every pair.
constexpr std::size_t kMaxItems = 256;

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t Little(unsigned count) {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < count; ++i) value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
        return value;
    }
    // A number in one of four forms, so that small values meet often and
    // values at the top of the range are as easy to reach as any.
    std::uint64_t Number(unsigned form) {
        switch (form & 3) {
            case 0: return Byte();
            case 1: return Little(2);
            case 2: return UINT64_MAX - Byte();
            default: return Little(8);
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::string NameOf(std::size_t index) { return "item" + std::to_string(index); }

// The checks below are the target's own oracle, not code under test: they
// are kept out of the coverage instrumentation, whose comparison hooks on
// the all-pairs scan took most of a run's time and fed the fuzzer nothing.
#if defined(__clang__)
#define VEXMOR_ORACLE __attribute__((no_sanitize("coverage")))
#else
#define VEXMOR_ORACLE
#endif

// Whether two claims share a byte, counted without wrapping: a range may
// reach past 2^64, and then holds every byte from its offset up.
VEXMOR_ORACLE bool ShareAByte(const storage::Placement& a, const storage::Placement& b) {
    if (a.length == 0 || b.length == 0 || a.area != b.area) return false;
    return a.offset <= b.offset ? b.offset - a.offset < a.length : a.offset - b.offset < b.length;
}

// The indexes of the items named in a refusal, in the order named.
std::vector<std::size_t> NamedItems(const std::string& message, std::size_t count) {
    std::vector<std::size_t> named;
    for (std::size_t at = message.find("item"); at != std::string::npos; at = message.find("item", at + 1)) {
        std::size_t end = at + 4;
        std::size_t index = 0;
        while (end < message.size() && message[end] >= '0' && message[end] <= '9' && index <= count)
            index = index * 10 + static_cast<std::size_t>(message[end++] - '0');
        if (end > at + 4 && index < count) named.push_back(index);
    }
    return named;
}

// Whether any two claims share a byte, by trying every pair: slow, but
// independent of how the storage order finds it.
VEXMOR_ORACLE bool AnyTwoShareAByte(const std::vector<storage::Placement>& claims) {
    for (std::size_t i = 0; i < claims.size(); ++i)
        for (std::size_t j = i + 1; j < claims.size(); ++j)
            if (ShareAByte(claims[i], claims[j])) return true;
    return false;
}

VEXMOR_ORACLE void CheckOrder(const TChmItems& items, const std::vector<std::size_t>& order) {
    if (order.size() != items.Count()) Broken("the order does not hold every item once");
    std::vector<bool> seen(items.Count());
    for (const std::size_t index : order) {
        if (index >= items.Count() || seen[index]) Broken("the order does not hold every item once");
        seen[index] = true;
    }
    for (std::size_t i = 1; i < order.size(); ++i) {
        const storage::Placement& a = items[order[i - 1]].Placement;
        const storage::Placement& b = items[order[i]].Placement;
        const bool tie = a.area == b.area && a.offset == b.offset;
        const bool before = a.area < b.area || (a.area == b.area && a.offset < b.offset);
        if (!before && !(tie && order[i - 1] < order[i]))
            Broken("items out of order: " + NameOf(order[i - 1]) + " before " + NameOf(order[i]));
    }
}

}  // namespace

void RunOrder(const std::uint8_t* data, std::size_t size) {
    // Each item: a byte of forms (area in bits 0-1, offset's form in bits
    // 2-3, length's in bits 4-5), then the offset and the length.
    Bytes bytes(data, size);
    TChmItems items;
    while (!bytes.Empty() && items.Count() < kMaxItems) {
        const std::uint8_t forms = bytes.Byte();
        TChmItem& item = items.Add();
        item.Name = NameOf(items.Count() - 1);
        item.Placement.area = forms & 3u;
        item.Placement.offset = bytes.Number(forms >> 2);
        item.Placement.length = bytes.Number(forms >> 4);
        item.Size = item.Placement.length;
    }

    std::vector<storage::Placement> claims;
    claims.reserve(items.Count());
    for (std::size_t i = 0; i < items.Count(); ++i) claims.push_back(items[i].Placement);
    const bool shared = AnyTwoShareAByte(claims);

    std::vector<std::size_t> order;
    try {
        order = StorageOrder(items);
    } catch (const EChmExtractError& refusal) {
        if (!shared) Broken(std::string("items that share no byte refused: ") + refusal.what());
        const std::vector<std::size_t> named = NamedItems(refusal.what(), items.Count());
        if (named.size() != 2 || !ShareAByte(items[named[0]].Placement, items[named[1]].Placement))
            Broken(std::string("the refusal does not name two items that share a byte: ") + refusal.what());
        // The export plans with the same check, before it writes anything.
        try {
            const FolderExport run(items, "never-made");
            Broken("an export accepted items that share a byte");
        } catch (const EChmExtractError&) {
        }
        return;
    }
    if (shared) Broken("items that share a byte accepted");
    CheckOrder(items, order);
    const FolderExport run(items, "never-made");
    if (run.Order() != order) Broken("the export writes in another order than the plan");
}

}  // namespace vexmor::fuzz
