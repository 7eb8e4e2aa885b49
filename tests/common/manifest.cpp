#include "tests/common/manifest.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vexmor::test {

std::string ManifestEntry::InnerName() const { return !name.empty() && name[0] == '/' ? name.substr(1) : name; }

std::vector<ManifestEntry> ReadManifest(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read manifest " + path);
    std::vector<ManifestEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        // The name is the rest of the line after two blanks: it may hold blanks itself.
        const auto first = line.find(' ');
        const auto second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos) throw std::runtime_error("malformed manifest line in " + path + ": " + line);
        ManifestEntry entry;
        entry.size = std::stoull(line.substr(0, first));
        entry.sha256 = line.substr(first + 1, second - first - 1);
        entry.name = line.substr(second + 1);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::map<std::string, ManifestEntry> ByInnerName(const std::vector<ManifestEntry>& entries) {
    std::map<std::string, ManifestEntry> byName;
    for (const ManifestEntry& entry : entries) byName.emplace(entry.InnerName(), entry);
    return byName;
}

}  // namespace vexmor::test
