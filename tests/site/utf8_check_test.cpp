// Whether bytes are UTF-8: pages that are decide how they are read. The
// check runs eight ASCII bytes at a time, so each fault is also tried at
// the edges of those words and after a long ASCII run.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace vexmor::sitetest
