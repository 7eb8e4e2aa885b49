#include "catalogue/system_records.h"

#include <cstring>

#include "catalogue/counted_notes.h"

namespace vexmor {

namespace {

std::uint32_t U32At(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t U16At(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// A record's text ends at its first NUL; one without a NUL ends with the record.
std::string TextOf(const unsigned char* data, std::size_t length) {
    const void* nul = std::memchr(data, 0, length);
    const std::size_t used = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - data) : length;
    return std::string(reinterpret_cast<const char*>(data), used);
}

constexpr std::uint16_t kLanguageRecord = 4;
constexpr std::size_t kLanguageIdLength = 4;
constexpr std::size_t kFileTimeOffset = 20;
constexpr std::size_t kFileTimeEnd = kFileTimeOffset + 8;

void ReadLanguageRecord(const unsigned char* data, std::size_t length, SystemRecords& records, CountedNotes& notes) {
    if (length < kLanguageIdLength) {
        notes.Add("#SYSTEM: the language record holds " + std::to_string(length) +
                                " bytes, too few for a language id; skipped");
        return;
    }
    records.languageId = U32At(data);
    if (length < kFileTimeEnd) return;  // version 2 files end before the time
    std::uint64_t fileTime = 0;
    for (std::size_t i = 0; i < 8; ++i) fileTime |= static_cast<std::uint64_t>(data[kFileTimeOffset + i]) << (8 * i);
    if (fileTime != 0) records.compiledFileTime = fileTime;
}

std::optional<std::string>* TextField(std::uint16_t code, SystemRecords& records) {
    switch (code) {
        case 0: return &records.contentsFile;
        case 1: return &records.indexFile;
        case 2: return &records.defaultTopic;
        case 3: return &records.title;
        case 5: return &records.defaultWindow;
        case 6: return &records.compiledName;
        case 9: return &records.compiler;
        case 16: return &records.defaultFont;
        default: return nullptr;
    }
}

}  // namespace

SystemRecords ParseSystemRecords(const unsigned char* data, std::size_t size) {
    SystemRecords records;
    CountedNotes notes;
    constexpr std::size_t kVersionLength = 4;
    constexpr std::size_t kRecordHeader = 4;  // u16 code, u16 length
    if (size < kVersionLength) {
        records.notes.push_back("#SYSTEM: " + std::to_string(size) + " bytes, too short to hold a version; nothing read");
        return records;
    }
    records.version = U32At(data);
    std::size_t pos = kVersionLength;
    while (pos < size) {
        if (size - pos < kRecordHeader) {
            notes.Add("#SYSTEM: " + std::to_string(size - pos) +
                                    " stray bytes at the end, too few for a record; skipped");
            break;
        }
        const std::uint16_t code = U16At(data + pos);
        const std::size_t length = U16At(data + pos + 2);
        pos += kRecordHeader;
        if (length > size - pos) {
            notes.Add("#SYSTEM: record " + std::to_string(code) + " claims " + std::to_string(length) +
                                    " bytes where " + std::to_string(size - pos) + " are left; it and the rest skipped");
            break;
        }
        const unsigned char* body = data + pos;
        pos += length;
        if (code == kLanguageRecord) {
            ReadLanguageRecord(body, length, records, notes);
        } else if (std::optional<std::string>* field = TextField(code, records)) {
            // A later record of the same code wins, as it would for a reader
            // that takes them in turn.
            *field = TextOf(body, length);
        }
    }
    records.notes = notes.Lines();
    return records;
}

std::optional<std::int64_t> UnixTimeOfFileTime(std::uint64_t fileTime) {
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    constexpr std::uint64_t kSecondsFrom1601To1970 = 11'644'473'600;
    const std::uint64_t seconds = fileTime / kTicksPerSecond;
    if (seconds < kSecondsFrom1601To1970) return std::nullopt;
    return static_cast<std::int64_t>(seconds - kSecondsFrom1601To1970);
}

}  // namespace vexmor
