// Whether bytes are UTF-8: pages that are decide how they are read. The
// check runs eight ASCII bytes at a time, so each fault is also tried at
// the edges of those words and after a long ASCII run. And text in a code
// page made UTF-8 piece by piece, where ASCII pieces skip the converter:
// never a piece whose bytes below 0x80 mean something else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "site/utf8_decoder.h"
#include "tests/common/case_name.h"

namespace vexmor::sitetest {
namespace {

struct Utf8Case {
    const char* what;
    std::string tail;  // after the ASCII lead
    bool utf8;
};

class Utf8Check : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Check, AtEveryPlaceAfterAsciiLead) {
    for (std::size_t lead = 0; lead <= 33; ++lead) {
        // Nothing, or words of ASCII after it.
        const std::string bytes = std::string(lead, 'a') + GetParam().tail + (lead % 2 ? "" : "and ASCII after it.");
        EXPECT_EQ(site::IsUtf8(bytes), GetParam().utf8) << lead << " ASCII bytes before";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Site, Utf8Check,
    ::testing::Values(Utf8Case{"Ascii", "plain text", true}, Utf8Case{"TwoBytes", "caf\xC3\xA9", true},
                      Utf8Case{"ThreeBytes", "\xE4\xB8\xAD\xE6\x96\x87", true},
                      Utf8Case{"FourBytes", "\xF0\x9F\x98\x80", true},
                      Utf8Case{"Latin1Byte", "caf\xE9", false}, Utf8Case{"LoneContinuation", "\x80", false},
                      Utf8Case{"TruncatedAtEnd", "\xE4\xB8", false}, Utf8Case{"OverlongSlash", "\xC0\xAF", false},
                      Utf8Case{"OverlongThree", "\xE0\x80\xAF", false}, Utf8Case{"Surrogate", "\xED\xA0\x80", false},
                      Utf8Case{"PastUnicode", "\xF4\x90\x80\x80", false}, Utf8Case{"Nul", std::string("a\0b", 3), true}),
    test::CaseName<Utf8Case>);

struct DecodeCase {
    const char* what;
    const char* charset;
    std::vector<std::string> pieces;
    std::string utf8;
};

class Decoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, PieceByPiece) {
    site::Utf8Decoder decoder(GetParam().charset);
    std::string out;
    for (const std::string& piece : GetParam().pieces) decoder.Feed(piece, out);
    decoder.Finish(out);
    EXPECT_EQ(out, GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Site, Decoding,
    ::testing::Values(
        DecodeCase{"AsciiInWindows1252", "CP1252", {"plain ", "text"}, "plain text"},
        DecodeCase{"Windows1252BeyondAscii", "CP1252", {"caf\xE9 ", "\x93quoted\x94"}, "caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D"},
        // A GBK character cut after its lead byte: its trail byte is '@'.
        DecodeCase{"GbkTrailByteInTheNextPiece", "GB18030", {"ab\x81", "@cd"}, "ab\xE4\xB8\x82" "cd"},
        // Shift_JIS reads 0x5C as the yen sign: never passed through.
        DecodeCase{"ShiftJisBackslashIsYen", "SHIFT_JIS", {"C:\\"}, "C:\xC2\xA5"},
        // After ESC $ B the ASCII bytes "0!" are one kanji.
        DecodeCase{"Iso2022JpShiftedAscii", "ISO-2022-JP", {"\x1B$B", "0!", "\x1B(B", "x"}, "\xE4\xBA\x9Cx"},
        DecodeCase{"UnknownCharsetReadAsUtf8", "NO-SUCH-CHARSET", {"ok \xC3", "\xA9"}, "ok \xC3\xA9"},
        // glibc's iconv lets F5 to F7 lead bytes through from UTF-8.
        DecodeCase{"Utf8PastUnicodeReplaced", "UTF-8", {"a\xF6\x9B\x9B\x9B", "z"},
                   "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},
        DecodeCase{"Utf8SurrogateAndOverlongReplaced", "utf-8", {"\xED\xA0\x80", "\xC0\xAF"},
                   "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        DecodeCase{"Utf8CharacterCutBetweenPieces", "UTF-8", {"ab\xE4", "\xB8", "\xAD" "cd"}, "ab\xE4\xB8\xAD" "cd"},
        DecodeCase{"Utf8CutAtTheEnd", "UTF-8", {"ab\xF0\x9F\x98"}, "ab\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}),
    test::CaseName<DecodeCase>);

}  // namespace
}  // namespace vexmor::sitetest
