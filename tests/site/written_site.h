// A help file written as a site by the built vexmorchm-cli, and the check
// that the links of its written pages lead to files that are there.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/run_cli.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"

namespace vexmor::sitetest {

struct WrittenSite {
    test::TempDir dir;
    std::string chm;     // the help file, "test.chm" when built here
    std::string folder;  // the site
    test::CliRun run;
};

// Builds `entries` into dir/test.chm and runs `site test.chm site` on it.
void WriteSite(const std::vector<testsupport::ChmEntry>& entries, WrittenSite& site);
// Runs `site` on the help file at `chm` into dir/site.
void WriteSiteOf(const std::string& chm, WrittenSite& site);

// The inner paths of `chm`'s streams ("html/a.htm").
std::vector<std::string> StreamPaths(const std::string& chm);

struct LinkCheck {
    std::size_t pages = 0;
    std::size_t links = 0;               // relative links looked at
    std::vector<std::string> unheld;     // "page: link" to what the help file does not hold under any case
    std::vector<std::string> broken;     // "page: link" to what it holds, but which is not there
};

// Every relative link (href, src, ..., url()) of every page and style sheet
// under `folder`.
LinkCheck CheckSiteLinks(const std::filesystem::path& folder, const std::vector<std::string>& streamPaths);

}  // namespace vexmor::sitetest
