// Where a link of a help page leads once the help file is a folder of files:
// the help compiler matched names without regard to case, allowed '\' and
// its own ms-its: scheme; a browser on Linux does none of these.
#pragma once

#include <string>
#include <string_view>

#include "site/site_names.h"

namespace vexmor::site {

struct LinkContext {
    const SiteNames* names = nullptr;
    std::string pageFolder;    // inner folder of the page ("" at the root, no '/' at the end)
    std::string helpFileName;  // this help file's name without folders, as in "lcl.chm"
};

struct LinkTarget {
    enum class Kind {
        Keep,       // nothing to resolve: a fragment, an empty link, a scheme other than ms-its:
        External,   // http:, https:, mailto:, ftp:
        InFile,     // a stream of this help file
        OtherFile,  // a page of another help file, in the folder named after it beside this one
        Missing,    // a relative link to what the file does not hold, or one leaving the folder
    };
    Kind kind = Kind::Keep;
    // For InFile and OtherFile: the link relative to the page's folder,
    // percent-encoded, ASCII only. For Missing: the link with '\' as '/'.
    std::string href;
    // Whether href differs from the link as written.
    bool changed = false;
    // For InFile: the stored inner path of the stream ("html/a.htm"), and
    // what followed the path (query, fragment), percent-encoded.
    std::string stored;
    std::string suffix;
};

// Resolves `link` (UTF-8, entities already decoded) written in a page of
// the context's folder.
LinkTarget ResolveLink(std::string_view link, const LinkContext& context);

// `text` with the bytes a URL path may not hold raw (space, non-ASCII,
// quotes, '%', ...) written as %XX.
std::string PercentEncode(std::string_view text, bool keepQueryCharacters = false);

// The name of the folder that a site export of `helpFileName` goes to by
// default: its name without folders and without its extension; empty when
// that gives no usable name.
std::string SiteFolderNameOf(std::string_view helpFileName);

}  // namespace vexmor::site
