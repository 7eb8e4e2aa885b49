#include "epub/epub_export.h"

#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "catalogue/descriptor.h"
#include "catalogue/in_out_error.h"
#include "catalogue/inner_name.h"
#include "catalogue/item_copy.h"
#include "catalogue/language.h"
#include "catalogue/storage_order.h"
#include "catalogue/stream_blocks.h"
#include "catalogue/system_records.h"
#include "catalogue/target_file.h"
#include "epub/book_links.h"
#include "epub/page_drafts.h"
#include "epub/xhtml_page.h"
#include "epub/zip_archive.h"
#include "platform/storage/storage_error.h"
#include "site/css_links.h"
#include "site/sitemap.h"
#include "site/text_edits.h"
#include "site/utf8_decoder.h"

namespace vexmor::epub {

namespace {

// Style sheets above this size are carried as they are.
constexpr std::uint64_t kStyleSheetRewriteLimit = 4u << 20;

// Pages are drafted ahead on threads of their own (and by the writer while
// it waits), at most so many and so many bytes of them. The bytes bound the
// memory; the pages are enough for the drafting to go on while the keyword
// page is made (a few hundred pages of lcl.chm). A page's tree takes about
// 15 times its size, and the heap of a thread keeps the most it held: pages
// above kLargePage are drafted one at a time, by a drafting thread, and the
// heaps are given back after each (PageDrafts). Below it every thread
// drafts: with lcl.chm's 317 pages above 128 KiB left to one thread, the
// other stood idle for about a second.
constexpr std::size_t kPagesAhead = 512;
constexpr std::uint64_t kBytesAhead = 4u << 20;
constexpr std::uint64_t kLargePage = 256u << 10;

// A thread for each core, but no more than two: the memory each takes.
unsigned DraftingThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores <= 1 ? 1 : 2;
}

std::uint64_t IdHash(std::size_t resource, std::string_view id) {
    std::uint64_t hash = 1469598103934665603ull;
    const auto mix = [&](unsigned char byte) { hash = (hash ^ byte) * 1099511628211ull; };
    for (int shift = 0; shift < 64; shift += 8) mix(static_cast<unsigned char>(static_cast<std::uint64_t>(resource) >> shift));
    for (const char c : id) mix(static_cast<unsigned char>(c));
    return hash;
}

// The whole stream of `item`, which may not be larger than its size says.
std::string ReadWhole(const TChmItem& item) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(item.Size));
    const std::shared_ptr<storage::IStream> stream = item.Storage->OpenStreamAt(item.Name, item.Placement);
    ReadInBlocks<65536>(*stream, [&](const unsigned char* data, std::uint32_t count) {
        if (bytes.size() + count > item.Size)
            throw storage::EStorageError(storage::code::kReadFault, "a stream delivered more bytes than its size");
        bytes.append(reinterpret_cast<const char*>(data), count);
    });
    return bytes;
}

// A stream carried as it is, read as the archive takes it.
class StreamContent : public EntryContent {
public:
    StreamContent(const TChmItem& item, ExportObserver* observer, std::mutex& storage)
        : item_(item), observer_(observer), storage_(storage) {}
    std::uint64_t Size() override { return item_.Size; }
    void Open() override {
        if (observer_ && !observer_->BeforeItem(item_)) throw EEpubStopped();
        const std::lock_guard lock(storage_);
        WithItemName(item_, [&] { stream_ = item_.Storage->OpenStreamAt(item_.Name, item_.Placement); });
        read_ = 0;
    }
    std::size_t Read(unsigned char* buffer, std::size_t count) override {
        const auto ask = static_cast<std::uint32_t>(std::min<std::uint64_t>({count, 1u << 20, item_.Size - read_}));
        std::uint32_t delivered = 0;
        const std::lock_guard lock(storage_);
        WithItemName(item_, [&] {
            delivered = ask == 0 ? 0 : stream_->Read(buffer, ask);
            if (delivered > ask)
                throw storage::EStorageError(storage::code::kReadFault, "a stream delivered more bytes than asked");
            if (delivered < ask)
                throw storage::EStorageError(storage::code::kReadFault, "a stream ended before its size");
        });
        read_ += delivered;
        if (observer_) observer_->Copied(delivered);
        return delivered;
    }
    void Close() override {
        const std::lock_guard lock(storage_);
        stream_.reset();
    }

private:
    const TChmItem& item_;
    ExportObserver* observer_;
    std::mutex& storage_;
    std::shared_ptr<storage::IStream> stream_;
    std::uint64_t read_ = 0;
};

std::string Hex(std::uint64_t value, int digits) {
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = "0123456789abcdef"[value & 15];
    return out;
}

}  // namespace

std::string BookIdentifierOf(const std::string& path) {
    std::uint64_t first = 1469598103934665603ull;
    std::uint64_t second = 0x9E3779B97F4A7C15ull;
    std::ifstream file(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    std::uint64_t length = 0;
    while (file) {
        file.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto count = static_cast<std::size_t>(file.gcount());
        for (std::size_t i = 0; i < count; ++i) {
            const auto byte = static_cast<unsigned char>(block[i]);
            first = (first ^ byte) * 1099511628211ull;
            second = (second + byte + 1) * 0xFF51AFD7ED558CCDull;
            second ^= second >> 29;
        }
        length += count;
    }
    second ^= length;
    std::string uuid = Hex(first >> 32, 8) + "-" + Hex(first >> 16, 4) + "-" + Hex((first & 0x0FFF) | 0x5000, 4) + "-" +
                       Hex(((second >> 48) & 0x3FFF) | 0x8000, 4) + "-" + Hex(second, 12);
    return "urn:uuid:" + uuid;
}

namespace {

// The identifier hashed on a thread of its own, or here when none starts.
std::future<std::string> IdentifierLater(const std::string& helpFile) {
    try {
        return std::async(std::launch::async, BookIdentifierOf, helpFile);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, BookIdentifierOf, helpFile);
    }
}

std::string W3cTime(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (::gmtime_r(&time, &parts) == nullptr || parts.tm_year + 1900 > 9999) return "2000-01-01T00:00:00Z";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

const TChmItem* FindStream(const TChmItems& items, std::string_view path) {
    for (std::size_t i = 0; i < items.Count(); ++i)
        if (InnerPathAndName(items[i].Path, items[i].Name) == path) return &items[i];
    return nullptr;
}

}  // namespace

std::string BookNameOf(const std::string& helpFile) {
    const std::string stem = std::filesystem::path(helpFile).filename().stem().string();
    if (stem.empty() || stem == "." || stem == "..") return {};
    return stem + ".epub";
}

BookFacts ReadBookFacts(const TChmItems& items, const std::string& helpFile, const std::string& title,
                        std::string identifier) {
    BookFacts facts;
    facts.title = title;
    SystemRecords system;
    if (const TChmItem* item = FindStream(items, "#SYSTEM"))
        if (const std::optional<std::string> bytes = site::ReadStreamStart(*item, 1u << 20))
            system = ParseSystemRecords(reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
    const char* tag = system.languageId ? LanguageOf(*system.languageId).tag : nullptr;
    facts.language = tag ? tag : "und";
    facts.identifier = std::move(identifier);
    std::optional<std::int64_t> when;
    if (system.compiledFileTime) when = UnixTimeOfFileTime(*system.compiledFileTime);
    struct stat info {};
    if (!when && ::stat(helpFile.c_str(), &info) == 0) when = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    facts.modified = W3cTime(when.value_or(946684800));
    return facts;
}

EpubExport::EpubExport(const TChmItems& items, const std::string& helpFile)
    : items_(items),
      helpFile_(helpFile),
      identifier_(IdentifierLater(helpFile)),
      facts_(site::ReadSiteFacts(items, helpFile)),
      names_(items),
      storageOrder_(StorageOrder(items)),
      bookNames_(items, storageOrder_),
      book_(ReadBookFacts(items, helpFile, facts_.title, identifier_.get())) {
    for (const BookResource& resource : bookNames_.Resources()) order_.push_back(resource.item);
}

void EpubExport::Write(const std::string& bookPath, ExportObserver* observer) {
    const std::filesystem::path path(bookPath);
    const std::string folderName = path.has_parent_path() ? path.parent_path().string() : std::string(".");
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") throw EInOutError(EISDIR, bookPath + ": not a file name");
    const Descriptor folder(::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen()) {
        const int errnum = errno;
        throw EInOutError(InOutErrorFromErrno(errnum).ErrorCode,
                          std::string(InOutErrorFromErrno(errnum).what()) + ": " + folderName);
    }

    const std::string helpFileName = std::filesystem::path(helpFile_).filename().string();
    const BookLinks links(bookNames_, names_, helpFileName);
    const std::vector<BookResource>& resources = bookNames_.Resources();

    // Pages are drafted on threads of their own ahead of the archive, from
    // now on: while the contents and the keyword index are read here; they
    // are finished, and the style sheets made, as the archive reaches them.
    // No decoding ahead: turning pages into XHTML keeps the threads busy far
    // longer than decoding them takes, and the spans decoded ahead would
    // only wait in memory.
    const auto pageInput = [&](std::size_t index, std::string_view bytes) {
        PageInput input;
        input.bytes = bytes;
        input.page = &resources[index];
        input.links = &links;
        input.charset = facts_.charset;
        input.language = book_.language == "und" ? std::string() : book_.language;
        return input;
    };
    const auto readWhole = [&](std::size_t index) {
        const TChmItem& source = items_[resources[index].item];
        std::string bytes;
        WithItemName(source, [&] { bytes = ReadWhole(source); });
        return bytes;
    };
    std::vector<PageDrafts::Page> pages;
    for (std::size_t index = 0; index < resources.size(); ++index)
        if (resources[index].type.kind == ResourceKind::Page)
            pages.push_back({index, items_[resources[index].item].Size, items_[resources[index].item].Size > kLargePage});
    PageDrafts drafts(
        std::move(pages), readWhole,
        [&](std::size_t index, const std::string& bytes, DraftingTools& tools) {
            PageDraft draft = DraftPage(pageInput(index, bytes), tools);
#if defined(__GLIBC__)
            if (bytes.size() > kLargePage) ::malloc_trim(0);
#endif
            return draft;
        },
        DraftingThreads(), {kPagesAhead, kBytesAhead});
    drafts.Start();

    std::optional<site::Sitemap> contents;
    if (facts_.contents) contents = site::ReadSitemapOf(*facts_.contents, facts_.charset.iconvName, &drafts.StorageLock());
    // The keyword index of a big help file holds tens of thousands of
    // entries: it is read to make its page, and let go at once.
    const TChmItem* const keywordIndex = facts_.index;
    const bool hasKeywords = keywordIndex != nullptr && keywordIndex->Size > 0;

    // The ids of the pages written, as hashes, for the links into them; a
    // link into a page not yet written keeps its fragment, and that page is
    // given an anchor of the id when it lacks it.
    std::unordered_set<std::uint64_t> ids;
    std::vector<bool> written(resources.size());
    std::unordered_map<std::size_t, std::vector<std::string>> wanted;
    const auto indexOf = [&](const BookResource& resource) {
        return static_cast<std::size_t>(&resource - resources.data());
    };
    const IdCheck hasId = [&](const BookResource& resource, const std::string& id) {
        return ids.count(IdHash(indexOf(resource), id)) != 0;
    };
    const auto keepFragment = [&](const BookResource& target, const std::string& id) {
        const std::size_t index = indexOf(target);
        if (index >= resources.size()) return false;
        if (written[index]) return hasId(target, id);
        wanted[index].push_back(id);
        return true;
    };

    // The keyword page first: its links into pages keep their fragments,
    // and those pages get the anchors.
    std::string keywordPage;
    if (hasKeywords) {
        const site::Sitemap keywords = site::ReadSitemapOf(*keywordIndex, facts_.charset.iconvName, &drafts.StorageLock());
        keywordPage = KeywordDocument(book_, keywords, links, keepFragment);
    }
#if defined(__GLIBC__)
    // What reading the keyword index took is free now, but held by the heap
    // of this thread; the drafting threads allocate from heaps of their own
    // (glibc gives each thread one), so it is given back.
    ::malloc_trim(0);
#endif

    TargetFile file(folder.Get(), name);
    {
        ZipArchive zip(file);
        zip.Add("mimetype", std::string("application/epub+zip"), true);
        zip.Add("META-INF/container.xml", ContainerXml());
        if (hasKeywords) zip.Add(kKeywordName, std::move(keywordPage));
        const auto make = [&](std::size_t index) {
            const BookResource& self = resources[index];
            const bool page = self.type.kind == ResourceKind::Page;
            const TChmItem& source = items_[self.item];
            if (observer && !observer->BeforeItem(source)) throw EEpubStopped();
            std::string bytes;
            std::optional<PageDraft> draft;
            if (page) {
                DraftedPage drafted = drafts.Take(index);
                if (observer) observer->Copied(drafted.bytesRead);
                draft = std::move(drafted.draft);
            } else {
                {
                    const std::lock_guard lock(drafts.StorageLock());
                    bytes = readWhole(index);
                }
                if (observer) observer->Copied(bytes.size());
            }
            if (!page) {
                std::vector<site::TextEdit> edits;
                site::CollectCssEdits(bytes, 0, [&](std::string_view link) -> std::optional<std::string> {
                    const std::string text = site::IsAscii(link) ? std::string(link)
                                                                 : site::DecodeToUtf8(link, facts_.charset.iconvName);
                    const auto resolved = links.Resolve(text, self, LinkUse::Background);
                    if (!resolved) return std::string("#");
                    const std::string href = BookLinks::Href(*resolved, self.entry);
                    return href == link ? std::nullopt : std::optional<std::string>(href);
                }, edits);
                return edits.empty() ? bytes : site::ApplyEdits(bytes, std::move(edits));
            }
            PageInput input = pageInput(index, bytes);
            input.keepFragment = keepFragment;
            if (const auto asked = wanted.find(index); asked != wanted.end()) {
                input.anchors = std::move(asked->second);
                wanted.erase(asked);
            }
            std::vector<std::string> pageIds;
            std::string xhtml = FinishPage(std::move(*draft), input, &pageIds);
            for (const std::string& id : pageIds) ids.insert(IdHash(index, id));
            written[index] = true;
            return xhtml;
        };
        for (std::size_t index = 0; index < resources.size(); ++index) {
            const BookResource& resource = resources[index];
            const TChmItem& item = items_[resource.item];
            const bool made = resource.type.kind == ResourceKind::Page ||
                              (resource.type.kind == ResourceKind::StyleSheet && item.Size <= kStyleSheetRewriteLimit);
            if (made) zip.Add(resource.entry, [&make, index] { return make(index); });
            else zip.Add(resource.entry, std::make_unique<StreamContent>(item, observer, drafts.StorageLock()));
        }
        const BookResource* firstPage = nullptr;
        const std::vector<const BookResource*> named = ContentsOrder(contents ? &*contents : nullptr, links);
        std::vector<const BookResource*> spine = named;
        {
            std::vector<bool> inSpine(resources.size());
            for (const BookResource* resource : named) inSpine[static_cast<std::size_t>(resource - resources.data())] = true;
            for (std::size_t index = 0; index < resources.size(); ++index)
                if (resources[index].type.kind == ResourceKind::Page && !inSpine[index]) spine.push_back(&resources[index]);
        }
        if (!spine.empty()) firstPage = spine.front();
        const site::Sitemap* map = contents ? &*contents : nullptr;
        zip.Add(kNavName, [&, map, firstPage] { return NavDocument(book_, map, links, hasId, firstPage); });
        zip.Add(kNcxName, [&, map, firstPage] { return NcxDocument(book_, map, links, hasId, firstPage); });
        zip.Add(kPackageName, [&, spine] { return PackageDocument(book_, bookNames_, spine, hasKeywords); });
        zip.Close();
    }
    const storage::FileIdentity helpFile =
        items_.Count() > 0 && items_[0].Storage ? items_[0].Storage->SourceFile() : storage::FileIdentity{};
    try {
        file.Commit([&](const struct stat& existing, const std::string&) {
            if (helpFile.inode != 0 && static_cast<std::uint64_t>(existing.st_dev) == helpFile.device &&
                static_cast<std::uint64_t>(existing.st_ino) == helpFile.inode)
                throw EChmExtractError("不能覆盖正在读取的帮助文件-" + bookPath);
        });
    } catch (const EInOutError& e) {
        // What stands at the target is refused (read-only, a folder): say which.
        throw EInOutError(e.ErrorCode, std::string(e.what()) + ": " + bookPath);
    }
}

}  // namespace vexmor::epub
