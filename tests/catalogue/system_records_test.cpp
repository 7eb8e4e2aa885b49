// #SYSTEM records: good ones read, damaged ones skipped with a note.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "catalogue/system_records.h"
#include "tests/common/case_name.h"
#include "tests/support/byte_writer.h"

namespace vexmor {
namespace {

using testsupport::AppendText;
using testsupport::AppendU16;
using testsupport::AppendU32;
using testsupport::AppendU64;
using testsupport::Bytes;

Bytes Record(std::uint16_t code, const Bytes& body) {
    Bytes out;
    AppendU16(out, code);
    AppendU16(out, static_cast<std::uint16_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Text(std::string_view text) {
    Bytes out;
    AppendText(out, text);
    out.push_back(0);
    return out;
}

// Language record: LCID, four flags, then at offset 20 the FILETIME when
// `withTime` (version 3, 36 bytes), 20 bytes without.
Bytes Language(std::uint32_t lcid, std::optional<std::uint64_t> fileTime) {
    Bytes out;
    AppendU32(out, lcid);
    for (int i = 0; i < 4; ++i) AppendU32(out, 0);
    if (fileTime) {
        AppendU64(out, *fileTime);
        AppendU64(out, 0);
    }
    return out;
}

Bytes System(std::initializer_list<Bytes> records, std::uint32_t version = 3) {
    Bytes out;
    AppendU32(out, version);
    for (const Bytes& record : records) out.insert(out.end(), record.begin(), record.end());
    return out;
}

constexpr std::uint64_t kFileTime2012 = 0x01CDD606A285CAFCull;  // 2012-12-09T12:13:44Z

struct SystemCase {
    const char* what;
    Bytes bytes;
    std::optional<std::string> title;
    std::optional<std::string> defaultTopic;
    std::optional<std::uint32_t> languageId;
    std::optional<std::uint64_t> fileTime;
    std::string note;  // the one note expected, a part of it; empty: none
};

void PrintTo(const SystemCase& c, std::ostream* out) { *out << c.what; }

class SystemRecordsTest : public ::testing::TestWithParam<SystemCase> {};

TEST_P(SystemRecordsTest, ReadsGoodRecordsAndSkipsDamagedOnesWithANote) {
    const SystemCase& c = GetParam();
    const SystemRecords records = ParseSystemRecords(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(records.title, c.title);
    EXPECT_EQ(records.defaultTopic, c.defaultTopic);
    EXPECT_EQ(records.languageId, c.languageId);
    EXPECT_EQ(records.compiledFileTime, c.fileTime);
    if (c.note.empty()) {
        EXPECT_TRUE(records.notes.empty()) << records.notes.front();
    } else {
        ASSERT_EQ(records.notes.size(), 1u);
        EXPECT_NE(records.notes[0].find(c.note), std::string::npos) << records.notes[0];
    }
}

Bytes Truncated(Bytes bytes, std::size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SystemRecordsTest,
    ::testing::Values(
        SystemCase{"Complete",
                   System({Record(2, Text("index.html")), Record(3, Text("Title")),
                           Record(4, Language(0x409, kFileTime2012))}),
                   "Title", "index.html", 0x409, kFileTime2012, ""},
        SystemCase{"VersionTwoLanguageRecordHasNoTime", System({Record(4, Language(0x804, std::nullopt))}, 2),
                   std::nullopt, std::nullopt, 0x804, std::nullopt, ""},
        SystemCase{"ZeroTimeIsNoTime", System({Record(4, Language(0x409, 0))}), std::nullopt, std::nullopt, 0x409,
                   std::nullopt, ""},
        SystemCase{"TextWithoutNulEndsWithItsRecord", System({Record(3, {'T', 'i', 't'})}), "Tit", std::nullopt,
                   std::nullopt, std::nullopt, ""},
        SystemCase{"TextStopsAtItsFirstNul", System({Record(3, {'A', 0, 'B', 0})}), "A", std::nullopt, std::nullopt,
                   std::nullopt, ""},
        SystemCase{"EmptyTitleIsATitle", System({Record(3, {})}), "", std::nullopt, std::nullopt, std::nullopt, ""},
        SystemCase{"UnknownAndBinaryCodesAreSkipped",
                   System({Record(13, Bytes(4096, 0xFF)), Record(0x7777, Text("x")), Record(3, Text("T"))}), "T",
                   std::nullopt, std::nullopt, std::nullopt, ""},
        SystemCase{"RecordRunningPastTheEndEndsTheReading",
                   Truncated(System({Record(3, Text("Title")), Record(2, Text("index.html"))}), 3), "Title",
                   std::nullopt, std::nullopt, std::nullopt, "record 2 claims 11 bytes where 8 are left"},
        SystemCase{"LanguageRecordTooShortIsSkipped",
                   System({Record(4, {0x09, 0x04}), Record(3, Text("After"))}), "After", std::nullopt, std::nullopt,
                   std::nullopt, "too few for a language id"},
        SystemCase{"LanguageRecordCutBeforeTheTimeKeepsTheLanguage",
                   System({Record(4, Truncated(Language(0x411, kFileTime2012), 10))}), std::nullopt, std::nullopt,
                   0x411, std::nullopt, ""},
        SystemCase{"StrayBytesAfterTheLastRecord", Truncated(System({Record(3, Text("T")), Record(9, {})}), 2), "T",
                   std::nullopt, std::nullopt, std::nullopt, "2 stray bytes"},
        SystemCase{"TooShortForAVersion", Bytes{3, 0, 0}, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                   "too short to hold a version"},
        SystemCase{"EmptyStream", Bytes{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                   "too short to hold a version"}),
    test::CaseName<SystemCase>);

TEST(FileTime, ConvertsToUnixTimeAndRefusesTimesBefore1970) {
    EXPECT_EQ(UnixTimeOfFileTime(kFileTime2012), 1355055224);
    EXPECT_EQ(UnixTimeOfFileTime(116444736000000000ull), 0);  // 1970-01-01
    EXPECT_EQ(UnixTimeOfFileTime(1), std::nullopt);
    EXPECT_TRUE(UnixTimeOfFileTime(UINT64_MAX).has_value());
}

}  // namespace
}  // namespace vexmor
