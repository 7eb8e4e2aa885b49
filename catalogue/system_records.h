// What a help file says of itself in its #SYSTEM stream: title, default
// topic, language, compiler and the like. The stream is read record by
// record; a damaged record is skipped with a note, never trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexmor {

// Texts are the bytes the file holds, without their terminating NUL, in the
// ANSI code page of the file's language (not UTF-8): convert before showing.
struct SystemRecords {
    std::optional<std::uint32_t> version;
    std::optional<std::string> contentsFile;   // code 0
    std::optional<std::string> indexFile;      // code 1
    std::optional<std::string> defaultTopic;   // code 2
    std::optional<std::string> title;          // code 3
    std::optional<std::uint32_t> languageId;   // code 4, first field
    // Code 4, the FILETIME at offset 20 (100 ns since 1601-01-01 UTC); absent
    // when the record is too short or holds zero, as many compilers write.
    std::optional<std::uint64_t> compiledFileTime;
    std::optional<std::string> defaultWindow;  // code 5
    std::optional<std::string> compiledName;   // code 6
    std::optional<std::string> compiler;       // code 9
    std::optional<std::string> defaultFont;    // code 16
    // One line for each kind of record skipped or cut short, in the user's
    // words; a line that many records share ends in " (N times)".
    std::vector<std::string> notes;
};

// Reads the records of a #SYSTEM stream of `size` bytes. Never throws for
// what the bytes hold: a record that runs past the end ends the reading with
// a note; a record too short for its code is skipped with a note.
SystemRecords ParseSystemRecords(const unsigned char* data, std::size_t size);

// Seconds since 1970-01-01 UTC of a FILETIME; nullopt before 1970.
std::optional<std::int64_t> UnixTimeOfFileTime(std::uint64_t fileTime);

}  // namespace vexmor
