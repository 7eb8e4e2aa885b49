#include "tests/site/written_site.h"

#include <set>

#include "catalogue/inner_name.h"
#include "catalogue/uChmExtractor.h"
#include "tests/site/page_links.h"

namespace vexmor::sitetest {

namespace fs = std::filesystem;

namespace {

std::string Folded(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EndsWithFolded(const std::string& name, const std::string& suffix) {
    return Folded(name).ends_with(suffix);
}

// `link`'s path from the page's folder `from`, as levels from the root;
// false when it climbs above the root.
bool TargetOf(const std::string& from, const std::string& path, std::string& target) {
    std::vector<std::string> levels;
    const auto add = [&](const std::string& text) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('/', start);
            if (end == std::string::npos) end = text.size();
            const std::string level = text.substr(start, end - start);
            if (level == "..") {
                if (levels.empty()) return false;
                levels.pop_back();
            } else if (!level.empty() && level != ".") {
                levels.push_back(level);
            }
            start = end + 1;
        }
        return true;
    };
    if (!path.starts_with('/') && !add(from)) return false;
    if (!add(path)) return false;
    target.clear();
    for (const std::string& level : levels) target += (target.empty() ? "" : "/") + level;
    return true;
}

}  // namespace

void WriteSiteOf(const std::string& chm, WrittenSite& site) {
    site.chm = chm;
    site.folder = site.dir / "site";
    site.run = test::RunCli({"site", chm, site.folder}, site.dir.path().string());
}

void WriteSite(const std::vector<testsupport::ChmEntry>& entries, WrittenSite& site) {
    const testsupport::ChmImage image = testsupport::BuildChm(entries);
    const std::string chm = site.dir / "test.chm";
    test::WriteFile(chm, std::string(image.bytes.begin(), image.bytes.end()));
    WriteSiteOf(chm, site);
}

std::vector<std::string> StreamPaths(const std::string& chm) {
    TChmExtractor extractor;
    extractor.Open(chm);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i)
        paths.push_back(InnerPathAndName(extractor.Items()[i].Path, extractor.Items()[i].Name));
    return paths;
}

LinkCheck CheckSiteLinks(const fs::path& folder, const std::vector<std::string>& streamPaths) {
    std::set<std::string> held;
    for (const std::string& path : streamPaths) held.insert(Folded(path));
    LinkCheck check;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        const bool css = EndsWithFolded(name, ".css");
        if (!css && !EndsWithFolded(name, ".htm") && !EndsWithFolded(name, ".html")) continue;
        ++check.pages;
        const std::string page = fs::relative(entry.path(), folder).string();
        const std::string from = fs::path(page).parent_path().string();
        const std::string bytes = test::ReadFile(entry.path());
        std::vector<std::string> links;
        if (css) {
            links = CssLinksOf(bytes);
        } else {
            for (PageLink& link : LinksOf(bytes)) links.push_back(std::move(link.value));
        }
        for (const std::string& link : links) {
            if (!IsRelativeLink(link)) continue;
            const std::string path = LinkPath(link);
            if (path.empty()) continue;  // "?query" alone: the page itself
            ++check.links;
            std::string target;
            if (!TargetOf(from, path, target)) {
                check.unheld.push_back(page + ": " + link);
                continue;
            }
            if (fs::exists(folder / target)) continue;
            // Held under some case, or with '\' for '/' as the help compiler reads it.
            std::string slashed = path;
            for (char& c : slashed)
                if (c == '\\') c = '/';
            std::string heldTarget;
            const bool isHeld = held.count(Folded(target)) != 0 ||
                                (TargetOf(from, slashed, heldTarget) && held.count(Folded(heldTarget)) != 0);
            (isHeld ? check.broken : check.unheld).push_back(page + ": " + link);
        }
    }
    return check;
}

}  // namespace vexmor::sitetest
