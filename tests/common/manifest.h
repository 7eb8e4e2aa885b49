// Expected content of a help file: one line per stream, "SIZE SHA256 NAME",
// with NAME as the file's directory stores it ("/html/a.htm", "::DataSpace/NameList").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vexmor::test {

struct ManifestEntry {
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
    std::string name;    // as stored, e.g. "/html/a.htm"

    // The name as the catalogue shows it: inner path and name, no leading '/'.
    std::string InnerName() const;
};

// Throws std::runtime_error when the file is missing or a line is malformed.
std::vector<ManifestEntry> ReadManifest(const std::string& path);

// The entries by inner name (ManifestEntry::InnerName).
std::map<std::string, ManifestEntry> ByInnerName(const std::vector<ManifestEntry>& entries);

}  // namespace vexmor::test
