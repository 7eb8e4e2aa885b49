#include "catalogue/help_file_facts.h"

#include <algorithm>
#include <exception>
#include <new>

#include "platform/storage/storage_error.h"

namespace vexmor {

namespace {

constexpr const char* kControlDataPath = "::DataSpace/Storage/MSCompressed";
constexpr const char* kResetTablePath =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData";

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t U64At(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint64_t>(U32At(bytes, at)) | static_cast<std::uint64_t>(U32At(bytes, at + 4)) << 32;
}

const TChmItem* FindItem(const TChmItems& items, const std::string& path, const std::string& name) {
    for (std::size_t i = 0; i < items.Count(); ++i)
        if (items[i].Path == path && items[i].Name == name) return &items[i];
    return nullptr;
}

// The first `limit` bytes of `item`'s stream (fewer when it is shorter),
// read no further than that; nullopt and a note when it cannot be read.
enum class Cut { Note, Expected };
std::optional<std::string> ReadStart(const TChmItem& item, std::size_t limit, Cut cut, const std::string& what,
                                     std::vector<std::string>& notes) {
    std::string bytes(limit, '\0');
    std::size_t have = 0;
    try {
        const std::shared_ptr<storage::IStream> stream = item.Storage->OpenStream(item.Name);
        constexpr std::size_t kBlock = 4096;
        for (;;) {
            const auto ask = static_cast<std::uint32_t>(std::min(kBlock, limit - have));
            if (ask == 0) break;
            const std::uint32_t delivered = stream->Read(bytes.data() + have, ask);
            if (delivered > ask) throw storage::EStorageError(storage::code::kReadFault, "a stream delivered more bytes than asked");
            have += delivered;
            if (delivered < ask) break;
        }
        bytes.resize(have);
        if (have == limit && cut == Cut::Note && item.Size > limit)
            notes.push_back(what + ": only its first " + std::to_string(limit) + " of " + std::to_string(item.Size) +
                            " bytes were read");
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        notes.push_back(what + " cannot be read (" + e.what() + "); skipped");
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

std::optional<LzxParameters> ParseControlData(const std::string& bytes, std::vector<std::string>& notes) {
    // u32 count, "LZXC", u32 version, u32 reset interval, u32 window size.
    constexpr std::size_t kNeeded = 20;
    constexpr std::uint32_t kUnit = 0x8000;  // of version 2's sizes
    if (bytes.size() < kNeeded || bytes.compare(4, 4, "LZXC") != 0) {
        notes.push_back("ControlData of the compressed section is not LZX control data; window not shown");
        return std::nullopt;
    }
    const std::uint32_t version = U32At(bytes, 8);
    std::uint64_t reset = U32At(bytes, 12);
    std::uint64_t window = U32At(bytes, 16);
    if (version == 2) {
        reset *= kUnit;
        window *= kUnit;
    } else if (version != 1) {
        notes.push_back("ControlData of the compressed section has version " + std::to_string(version) +
                        "; window not shown");
        return std::nullopt;
    }
    if (reset > UINT32_MAX || window > UINT32_MAX) {
        notes.push_back("ControlData of the compressed section states sizes beyond 4 GiB; window not shown");
        return std::nullopt;
    }
    return LzxParameters{static_cast<std::uint32_t>(window), static_cast<std::uint32_t>(reset)};
}

std::optional<CompressedSectionLengths> ParseResetTableLengths(const std::string& bytes,
                                                              std::vector<std::string>& notes) {
    // u32 version, entries, entry size, header length, then u64 uncompressed
    // and u64 compressed length.
    constexpr std::size_t kNeeded = 32;
    if (bytes.size() < kNeeded) {
        notes.push_back("the reset table of the compressed section is " + std::to_string(bytes.size()) +
                        " bytes long, too short to state its lengths");
        return std::nullopt;
    }
    return CompressedSectionLengths{U64At(bytes, 16), U64At(bytes, 24)};
}

HelpFileFacts ReadHelpFileFacts(const TChmItems& items) {
    HelpFileFacts facts;
    facts.streams = items.Count();
    for (std::size_t i = 0; i < items.Count(); ++i) {
        facts.streamBytes += items[i].Size;
        if (facts.fileBytes == 0 && items[i].Storage) facts.fileBytes = items[i].Storage->SourceFile().size;
    }

    if (const TChmItem* system = FindItem(items, "", "#SYSTEM")) {
        if (auto bytes = ReadStart(*system, kSystemReadLimit, Cut::Note, "#SYSTEM", facts.notes)) {
            facts.system = ParseSystemRecords(reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
            facts.notes.insert(facts.notes.end(), facts.system->notes.begin(), facts.system->notes.end());
        }
    } else {
        facts.notes.push_back("no #SYSTEM stream: title, language and compiler unknown");
    }

    // A file with every stream stored has no compressed section: no note.
    constexpr std::size_t kSmallStreamLimit = 4096;
    if (const TChmItem* control = FindItem(items, kControlDataPath, "ControlData")) {
        if (auto bytes = ReadStart(*control, kSmallStreamLimit, Cut::Expected, "ControlData", facts.notes))
            facts.lzx = ParseControlData(*bytes, facts.notes);
    }
    if (const TChmItem* table = FindItem(items, kResetTablePath, "ResetTable")) {
        // Only the header is needed, however many entries follow.
        if (auto bytes = ReadStart(*table, 32, Cut::Expected, "ResetTable", facts.notes))
            facts.compressedSection = ParseResetTableLengths(*bytes, facts.notes);
    }
    return facts;
}

}  // namespace vexmor
