#include "site/site_facts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "catalogue/inner_name.h"
#include "catalogue/language.h"
#include "catalogue/system_records.h"
#include "site/site_names.h"
#include "platform/storage/storage_error.h"
#include "site/utf8_decoder.h"

namespace vexmor::site {

namespace {

constexpr std::size_t kRecordLimit = 1u << 20;

const TChmItem* FindStream(const TChmItems& items, std::string_view path) {
    for (std::size_t i = 0; i < items.Count(); ++i)
        if (InnerPathAndName(items[i].Path, items[i].Name) == path) return &items[i];
    return nullptr;
}

// A written stream named `name` as the help compiler would find it.
const TChmItem* FindNamed(const TChmItems& items, std::string name) {
    while (name.starts_with('/')) name.erase(0, 1);
    if (name.empty()) return nullptr;
    const std::string folded = FoldCase(name);
    for (std::size_t i = 0; i < items.Count(); ++i)
        if (!IsBookkeeping(items[i]) && FoldCase(InnerPathAndName(items[i].Path, items[i].Name)) == folded)
            return &items[i];
    return nullptr;
}

const TChmItem* FirstWithExtension(const TChmItems& items, std::string_view extension) {
    for (std::size_t i = 0; i < items.Count(); ++i)
        if (!IsBookkeeping(items[i]) && FoldCase(items[i].Name).ends_with(extension)) return &items[i];
    return nullptr;
}

std::uint32_t U32At(const std::string& bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
    return value;
}

// The NUL-ended string at `offset` of #STRINGS; empty for 0 or past the end.
std::string StringAt(const std::string& strings, std::uint32_t offset) {
    if (offset == 0 || offset >= strings.size()) return {};
    const std::size_t end = strings.find('\0', offset);
    return strings.substr(offset, (end == std::string::npos ? strings.size() : end) - offset);
}

struct WindowFiles {
    std::string contents, index, defaultFile;
};

// The files named by the first #WINDOWS entry (or the one called
// `window`); empty when the streams are missing or damaged.
WindowFiles ReadWindowFiles(const TChmItems& items, const std::string& window) {
    WindowFiles files;
    const TChmItem* windows = FindStream(items, "#WINDOWS");
    const TChmItem* stringsItem = FindStream(items, "#STRINGS");
    if (!windows || !stringsItem) return files;
    const std::optional<std::string> table = ReadStreamStart(*windows, kRecordLimit);
    const std::optional<std::string> strings = ReadStreamStart(*stringsItem, kRecordLimit);
    if (!table || !strings) return files;
    const std::uint32_t count = U32At(*table, 0);
    const std::uint32_t size = U32At(*table, 4);
    if (size < 0x6C + 4 || count == 0) return files;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = 8 + i * size;
        if (at + size > table->size()) break;
        const auto entry = static_cast<std::size_t>(at);
        if (i > 0 && StringAt(*strings, U32At(*table, entry + 0x08)) != window) continue;
        files.contents = StringAt(*strings, U32At(*table, entry + 0x60));
        files.index = StringAt(*strings, U32At(*table, entry + 0x64));
        files.defaultFile = StringAt(*strings, U32At(*table, entry + 0x68));
        if (window.empty() || StringAt(*strings, U32At(*table, entry + 0x08)) == window) break;
    }
    return files;
}

}  // namespace

std::optional<std::string> ReadStreamStart(const TChmItem& item, std::size_t limit) {
    std::string bytes;
    try {
        const std::shared_ptr<storage::IStream> stream = item.Storage->OpenStreamAt(item.Name, item.Placement);
        // Read no further than the limit: a record stream may claim any size.
        constexpr std::uint32_t kBlock = 4096;
        unsigned char block[kBlock];
        while (bytes.size() < limit) {
            const auto ask = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, limit - bytes.size()));
            const std::uint32_t delivered = stream->Read(block, ask);
            if (delivered > ask) return std::nullopt;
            bytes.append(reinterpret_cast<const char*>(block), delivered);
            if (delivered < ask) break;
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return bytes;
}

namespace {

std::unique_lock<std::mutex> Hold(std::mutex* storageLock) {
    return storageLock != nullptr ? std::unique_lock(*storageLock) : std::unique_lock<std::mutex>();
}

// A stream let go as it was read: holding the lock.
struct HeldStream {
    std::shared_ptr<storage::IStream> stream;
    std::mutex* storageLock;
    ~HeldStream() {
        const auto lock = Hold(storageLock);
        stream.reset();
    }
};

}  // namespace

Sitemap ReadSitemapOf(const TChmItem& item, const std::string& charset, std::mutex* storageLock) {
    SitemapReader reader(charset);
    try {
        constexpr std::uint32_t kBlock = 65536;
        HeldStream held{nullptr, storageLock};
        {
            const auto lock = Hold(storageLock);
            held.stream = item.Storage->OpenStreamAt(item.Name, item.Placement);
        }
        std::vector<unsigned char> buffer(kBlock);
        for (;;) {
            std::uint32_t delivered = 0;
            {
                const auto lock = Hold(storageLock);
                delivered = held.stream->Read(buffer.data(), kBlock);
            }
            if (delivered > kBlock)
                throw storage::EStorageError(storage::code::kReadFault, "a stream delivered more bytes than asked");
            reader.Feed(std::string_view(reinterpret_cast<const char*>(buffer.data()), delivered));
            if (delivered < kBlock) break;
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // A damaged contents file shows what was read of it; the stream's
        // own failure is reported when it is written.
    }
    return reader.Finish();
}

SiteFacts ReadSiteFacts(const TChmItems& items, const std::string& helpFileName) {
    SiteFacts facts;
    SystemRecords system;
    if (const TChmItem* item = FindStream(items, "#SYSTEM")) {
        if (const std::optional<std::string> bytes = ReadStreamStart(*item, kRecordLimit))
            system = ParseSystemRecords(reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
    }
    if (system.languageId) {
        const Language language = LanguageOf(*system.languageId);
        if (language.charset) facts.charset = {language.charset, language.webLabel};
    }
    const auto text = [&](const std::optional<std::string>& raw) {
        if (!raw) return std::string();
        std::string value = *raw;
        if (const std::size_t nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
        return facts.charset.iconvName.empty() && IsUtf8(value) ? value
                                                                : DecodeToUtf8(value, facts.charset.iconvName);
    };
    facts.title = text(system.title);
    if (facts.title.empty()) {
        const std::size_t slash = helpFileName.find_last_of('/');
        facts.title = DecodeToUtf8(slash == std::string::npos ? helpFileName : helpFileName.substr(slash + 1), "UTF-8");
    }
    const WindowFiles window = ReadWindowFiles(items, system.defaultWindow.value_or(""));
    facts.defaultTopic = text(system.defaultTopic);
    if (facts.defaultTopic.empty()) facts.defaultTopic = DecodeToUtf8(window.defaultFile, facts.charset.iconvName);
    facts.contents = FindNamed(items, text(system.contentsFile));
    if (!facts.contents) facts.contents = FindNamed(items, DecodeToUtf8(window.contents, facts.charset.iconvName));
    if (!facts.contents) facts.contents = FirstWithExtension(items, ".hhc");
    facts.index = FindNamed(items, text(system.indexFile));
    if (!facts.index) facts.index = FindNamed(items, DecodeToUtf8(window.index, facts.charset.iconvName));
    if (!facts.index) facts.index = FirstWithExtension(items, ".hhk");
    return facts;
}

}  // namespace vexmor::site
