// The substitutes of names a target refuses, and when they are tried.
#include "catalogue/refused_name.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <vector>

namespace vexmor {
namespace {

struct SubstituteCase {
    const char* name;
    std::string given;
    std::string substitute;
};

void PrintTo(const SubstituteCase& c, std::ostream* out) { *out << c.name; }

class SubstituteNameTest : public ::testing::TestWithParam<SubstituteCase> {};

TEST_P(SubstituteNameTest, EscapesWhatIsRefusedAndDecodesBack) {
    EXPECT_EQ(SubstituteName(GetParam().given), GetParam().substitute);
    EXPECT_EQ(OriginalName(SubstituteName(GetParam().given)), GetParam().given);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SubstituteNameTest,
    ::testing::Values(SubstituteCase{"Plain", "a.html", "a.html"},
                      // Left alone while nothing else is refused: the name is written as it is.
                      SubstituteCase{"PercentAlone", "50%.html", "50%.html"},
                      SubstituteCase{"Utf8", "\xE4\xB8\xAD.html", "\xE4\xB8\xAD.html"},
                      SubstituteCase{"DataSpace", "::DataSpace", "%3A%3ADataSpace"},
                      SubstituteCase{"EveryRefusedCharacter", "a\"*:<>?\\|b", "a%22%2A%3A%3C%3E%3F%5C%7Cb"},
                      SubstituteCase{"PercentWithARefusedOne", "50%:", "50%25%3A"},
                      SubstituteCase{"ControlBytes", "\x01tab\x09\x1F", "%01tab%09%1F"},
                      SubstituteCase{"TrailingDotsAndSpaces", "end. .", "end%2E%20%2E"},
                      SubstituteCase{"InnerDotsAndSpacesStay", "a. b.c", "a. b.c"},
                      SubstituteCase{"OnlyDots", "...", "%2E%2E%2E"},
                      SubstituteCase{"Utf8WithARefusedOne", "\xE4\xB8\xAD?", "\xE4\xB8\xAD%3F"}),
    [](const ::testing::TestParamInfo<SubstituteCase>& param) { return std::string(param.param.name); });

TEST(ProbeNameFor, HoldsEachRefusedCharacterOnceAndTheTrailingDotsAtTheEnd) {
    EXPECT_EQ(ProbeNameFor(".p", "a:b:c?d. "), ".p:?x. ");
    EXPECT_EQ(ProbeNameFor(".p", "::DataSpace"), ".p:");
    EXPECT_EQ(ProbeNameFor(".p", "50%|"), ".p|");
}

TEST(OriginalName, LeavesAPercentSignThatStartsNoEscape) {
    EXPECT_EQ(OriginalName("100%"), "100%");
    EXPECT_EQ(OriginalName("%zz%4"), "%zz%4");
    EXPECT_EQ(OriginalName("%3a"), ":");
}

// A folder that refuses names holding ':' the way FAT through FUSE does
// (EPERM), keeps what stands in it, and can be made to fail otherwise.
struct FakeFolder {
    int refusal = EPERM;
    int otherFailure = 0;  // for every name it accepts
    std::set<std::string> standing;
    std::vector<std::string> tried;

    int Attempt(const std::string& name) {
        tried.push_back(name);
        if (name.find(':') != std::string::npos) return refusal;
        return otherFailure;
    }
    NameOutcome Try(const std::string& name) {
        return TryNameThenSubstitute(
            name, [&](const std::string& n) { return Attempt(n); },
            [&](const std::string& n) { return standing.count(n) != 0; });
    }
};

TEST(TryNameThenSubstitute, AnAcceptedNameIsTriedOnce) {
    FakeFolder folder;
    const NameOutcome outcome = folder.Try("a.html");
    EXPECT_EQ(outcome.errnum, 0);
    EXPECT_EQ(outcome.name, "a.html");
    EXPECT_EQ(folder.tried, std::vector<std::string>{"a.html"});
}

TEST(TryNameThenSubstitute, ARefusedNameIsWrittenAsItsSubstitute) {
    for (const int refusal : {EINVAL, EPERM, EILSEQ}) {
        FakeFolder folder;
        folder.refusal = refusal;
        const NameOutcome outcome = folder.Try("a:b.html");
        EXPECT_EQ(outcome.errnum, 0) << refusal;
        EXPECT_EQ(outcome.name, "a%3Ab.html") << refusal;
        EXPECT_EQ(folder.tried, (std::vector<std::string>{"a:b.html", "a%3Ab.html"})) << refusal;
    }
}

struct KeptFailureCase {
    const char* name;
    std::string given;
    int refusal;
    int otherFailure;
    bool standing;
    int errnum;
    std::string reported;
    std::size_t attempts;
};

void PrintTo(const KeptFailureCase& c, std::ostream* out) { *out << c.name; }

class KeptFailureTest : public ::testing::TestWithParam<KeptFailureCase> {};

TEST_P(KeptFailureTest, ReportsTheFailureOfTheRightName) {
    const KeptFailureCase& c = GetParam();
    FakeFolder folder;
    folder.refusal = c.refusal;
    folder.otherFailure = c.otherFailure;
    if (c.standing) folder.standing.insert(c.given);
    const NameOutcome outcome = folder.Try(c.given);
    EXPECT_EQ(outcome.errnum, c.errnum);
    EXPECT_EQ(outcome.name, c.reported);
    EXPECT_EQ(folder.tried.size(), c.attempts);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, KeptFailureTest,
    ::testing::Values(
        // A failure that says nothing about the name.
        KeptFailureCase{"NoRoom", "a:b", ENOSPC, 0, false, ENOSPC, "a:b", 1},
        // The name is accepted where something stands at it: the refusal has another cause.
        KeptFailureCase{"SomethingStandsThere", "a:b", EPERM, 0, true, EPERM, "a:b", 1},
        // Nothing to substitute.
        KeptFailureCase{"NothingToSubstitute", "ab", EPERM, EPERM, false, EPERM, "ab", 1},
        // The substitute fails the same way: the first failure counts.
        KeptFailureCase{"SubstituteRefusedToo", "a:b", EPERM, EPERM, false, EPERM, "a:b", 2},
        // The substitute fails otherwise: that is the failure to tell.
        KeptFailureCase{"SubstituteFindsNoRoom", "a:b", EPERM, ENOSPC, false, ENOSPC, "a%3Ab", 2}),
    [](const ::testing::TestParamInfo<KeptFailureCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vexmor
