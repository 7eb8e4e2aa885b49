// Texts from a help file printed safely: on a line of its own, in JSON.
#include <gtest/gtest.h>

#include <string>

#include "cli/escape.h"
#include "tests/common/case_name.h"

namespace vexmor::cli {
namespace {

struct EscapeCase {
    const char* what;
    std::string text;
    std::string line;  // EscapeForLine
    std::string json;  // JsonString
};

void PrintTo(const EscapeCase& c, std::ostream* out) { *out << c.what; }

class EscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, LineAndJson) {
    EXPECT_EQ(EscapeForLine(GetParam().text), GetParam().line);
    EXPECT_EQ(JsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapeTest,
    ::testing::Values(
        EscapeCase{"PlainName", "html/a b.htm", "html/a b.htm", "\"html/a b.htm\""},
        EscapeCase{"ChineseKept", "中文/页面.html", "中文/页面.html", "\"中文/页面.html\""},
        EscapeCase{"NewlineForgesNoLine", "a\n4\tfake", "a\\n4\\tfake", "\"a\\n4\\tfake\""},
        EscapeCase{"CarriageReturn", "a\rb", "a\\rb", "\"a\\rb\""},
        EscapeCase{"Backslash", "a\\n", "a\\\\n", "\"a\\\\n\""},
        EscapeCase{"Quote", "say \"hi\"", "say \"hi\"", "\"say \\\"hi\\\"\""},
        EscapeCase{"TerminalEscapeSequence", "\033[2J\033]0;x\007", "\\033[2J\\033]0;x\\007",
                   "\"\\u001b[2J\\u001b]0;x\\u0007\""},
        EscapeCase{"NulByte", std::string("a\0b", 3), "a\\000b", "\"a\\u0000b\""},
        EscapeCase{"Delete", "a\x7f", "a\\177", "\"a\\u007f\""},
        EscapeCase{"C1ControlCsi", "a\xc2\x9b" "2J", "a\\302\\2332J", "\"a\\u009b2J\""},
        EscapeCase{"RightToLeftOverride", "a\xe2\x80\xae" "txt", "a\\342\\200\\256txt", "\"a\\u202etxt\""},
        EscapeCase{"LineSeparator", "a\xe2\x80\xa8" "b", "a\\342\\200\\250b", "\"a\\u2028b\""},
        // Every format character (category Cf) and the two separators.
        EscapeCase{"LeftToRightMark", "a\xe2\x80\x8e" "b", "a\\342\\200\\216b", "\"a\\u200eb\""},
        EscapeCase{"RightToLeftMark", "a\xe2\x80\x8f" "b", "a\\342\\200\\217b", "\"a\\u200fb\""},
        EscapeCase{"ArabicLetterMark", "a\xd8\x9c" "b", "a\\330\\234b", "\"a\\u061cb\""},
        EscapeCase{"ByteOrderMark", "\xef\xbb\xbf" "a", "\\357\\273\\277a", "\"\\ufeffa\""},
        EscapeCase{"SoftHyphen", "a\xc2\xad" "b", "a\\302\\255b", "\"a\\u00adb\""},
        EscapeCase{"ZeroWidthSpace", "a\xe2\x80\x8b" "b", "a\\342\\200\\213b", "\"a\\u200bb\""},
        EscapeCase{"ArabicNumberSign", "\xd8\x80" "1", "\\330\\2001", "\"\\u06001\""},
        EscapeCase{"ParagraphSeparator", "a\xe2\x80\xa9" "b", "a\\342\\200\\251b", "\"a\\u2029b\""},
        EscapeCase{"LanguageTag", "a\xf3\xa0\x80\x81", "a\\363\\240\\200\\201", "\"a\\udb40\\udc01\""},
        EscapeCase{"TagLetter", "a\xf3\xa0\x81\xbf", "a\\363\\240\\201\\277", "\"a\\udb40\\udc7f\""},
        EscapeCase{"ShorthandFormatControl", "\xf0\x9b\xb2\xa0", "\\360\\233\\262\\240", "\"\\ud82f\\udca0\""},
        EscapeCase{"HyphenNextToTheMarksKept", "a\xe2\x80\x90" "b", "a\xe2\x80\x90" "b", "\"a\xe2\x80\x90" "b\""},
        EscapeCase{"ArabicIndicKept", "\xd8\x86", "\xd8\x86", "\"\xd8\x86\""},
        EscapeCase{"InvalidByte", "a\xff" "b", "a\\377b", "\"a\\ufffdb\""},
        EscapeCase{"OverlongSlash", "a\xc0\xaf", "a\\300\\257", "\"a\\ufffd\\ufffd\""},
        EscapeCase{"Surrogate", "\xed\xa0\x80", "\\355\\240\\200", "\"\\ufffd\\ufffd\\ufffd\""},
        EscapeCase{"CutSequenceAtTheEnd", "a\xe4\xb8", "a\\344\\270", "\"a\\ufffd\\ufffd\""},
        EscapeCase{"FourByteCharacterKept", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
        EscapeCase{"Empty", "", "", "\"\""}),
    test::CaseName<EscapeCase>);

}  // namespace
}  // namespace vexmor::cli
