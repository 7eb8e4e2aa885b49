// Debian's chromium, run headless on the pages of a written site, each run
// in a fresh profile and bounded by a timeout.
#pragma once

#include <string>
#include <vector>

namespace vexmor::sitetest {

inline constexpr const char* kChromium = "/usr/bin/chromium";

bool ChromiumInstalled();

struct BrowserRun {
    bool finished = false;  // false: killed at the timeout
    int exitStatus = -1;
    std::string dom;  // what --dump-dom printed
};

// The document at `url` as the browser built it, after its load event and
// its scripts. `fileAccess` lets a file: page read other files (for the
// load check below).
BrowserRun DumpDom(const std::string& url, bool fileAccess = false);

// What loading the page at `path` in a frame shows: "OK url" or "FAILED url"
// for the page itself and for each style sheet, image, frame, script and
// style-sheet background it asks for; "NO DOCUMENT" when the page did not
// load. Empty when the check did not finish.
std::vector<std::string> LoadReport(const std::string& path);

// `path` (absolute) as a file: URL.
std::string FileUrl(const std::string& path);

}  // namespace vexmor::sitetest
