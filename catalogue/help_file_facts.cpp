#include "catalogue/help_file_facts.h"

#include <algorithm>
#include <exception>
#include <new>

#include "platform/storage/storage_error.h"

namespace vexmor {

namespace {

const TChmItem* FindItem(const TChmItems& items, const std::string& path, const std::string& name) {
    for (std::size_t i = 0; i < items.Count(); ++i)
        if (items[i].Path == path && items[i].Name == name) return &items[i];
    return nullptr;
}

// The first `limit` bytes of `item`'s stream (fewer when it is shorter),
// read no further than that, with a note when the stream is longer;
// nullopt and a note when it cannot be read.
std::optional<std::string> ReadStart(const TChmItem& item, std::size_t limit, const std::string& what,
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
        if (have == limit && item.Size > limit)
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

HelpFileFacts ReadHelpFileFacts(const TChmItems& items) {
    HelpFileFacts facts;
    facts.streams = items.Count();
    for (std::size_t i = 0; i < items.Count(); ++i) {
        facts.streamBytes += items[i].Size;
        if (facts.fileBytes == 0 && items[i].Storage) facts.fileBytes = items[i].Storage->SourceFile().size;
    }

    if (const TChmItem* system = FindItem(items, "", "#SYSTEM")) {
        if (auto bytes = ReadStart(*system, kSystemReadLimit, "#SYSTEM", facts.notes)) {
            facts.system = ParseSystemRecords(reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
            facts.notes.insert(facts.notes.end(), facts.system->notes.begin(), facts.system->notes.end());
        }
    } else {
        facts.notes.push_back("no #SYSTEM stream: title, language and compiler unknown");
    }

    // Asked of the reader, which reads it the way every compressed stream
    // is read. A file with every stream stored has none: no note.
    for (std::size_t i = 0; i < items.Count(); ++i) {
        if (!items[i].Storage) continue;
        try {
            facts.compressedSection = items[i].Storage->CompressedSection();
        } catch (const storage::EStorageError& e) {
            facts.notes.push_back(std::string("the compressed section cannot be read (") + e.what() +
                                  "); its window and lengths are not shown");
        }
        break;
    }
    return facts;
}

}  // namespace vexmor
