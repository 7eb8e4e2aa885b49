// The pages a site export makes itself: the entry page (title, contents
// tree, the default topic beside it), the keyword index, their style sheet
// and a small search script. Their names begin with '$', which no written
// stream's name does, so they never take a stream's place.
#pragma once

#include <string>

#include "site/link_target.h"
#include "site/sitemap.h"

namespace vexmor::site {

inline constexpr const char* kEntryPageName = "$index.html";
inline constexpr const char* kKeywordPageName = "$keywords.html";
inline constexpr const char* kStyleSheetName = "$site.css";
inline constexpr const char* kSearchScriptName = "$search.js";

struct EntryPageInput {
    std::string title;          // UTF-8
    const Sitemap* contents = nullptr;  // may be null
    const Sitemap* keywords = nullptr;  // for KeywordPage
    bool hasKeywords = false;            // whether there is a keyword page to link to
    std::string defaultTopic;  // the href of the page shown first, or empty
    LinkContext links;          // for the site's root
};

// The href of a contents or index target for a page at the site's root:
// a stream of the file, a page of another help file, or an http(s), ftp or
// mailto address; empty for anything else (javascript:, file:, a missing
// page, a path leaving the folder), which then is shown as text only.
std::string EntryHref(const std::string& local, const LinkContext& links);

std::string EntryPage(const EntryPageInput& input);
std::string KeywordPage(const EntryPageInput& input);
std::string SiteStyleSheet();
std::string SearchScript();

// `text` safe as HTML text and as a quoted attribute value.
std::string EscapeHtml(std::string_view text);

}  // namespace vexmor::site
