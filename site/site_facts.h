// What a site export needs to know of a help file before writing it: its
// title, code page, default topic, and its contents and index files, from
// #SYSTEM and #WINDOWS, else from what the file holds.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "catalogue/uChmExtractor.h"
#include "site/page_rewrite.h"
#include "site/sitemap.h"

namespace vexmor::site {

struct SiteFacts {
    std::string title;         // UTF-8; the file's name when it gives none
    PageCharset charset;       // of the file's language; empty when unknown
    std::string defaultTopic;  // as written (UTF-8), may be empty
    const TChmItem* contents = nullptr;  // the .hhc stream, when there is one
    const TChmItem* index = nullptr;     // the .hhk stream
};

// Never throws for what the file holds: a damaged record is passed over.
SiteFacts ReadSiteFacts(const TChmItems& items, const std::string& helpFileName);

// The first `limit` bytes of `item`'s stream, or nullopt when it cannot be
// read.
std::optional<std::string> ReadStreamStart(const TChmItem& item, std::size_t limit);

// The contents or index file `item`, parsed; a damaged one gives what was
// read of it. `storageLock`, when given, is held for each read of the help
// file and let go between them: other threads read it meanwhile.
Sitemap ReadSitemapOf(const TChmItem& item, const std::string& charset, std::mutex* storageLock = nullptr);

}  // namespace vexmor::site
