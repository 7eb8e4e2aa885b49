// Shell patterns against inner names, and the selection of a list of names.
#include <gtest/gtest.h>

#include <string>

#include "cli/patterns.h"
#include "tests/common/case_name.h"

namespace vexmor::cli {
namespace {

struct PatternCase {
    const char* what;
    std::string pattern;
    std::string name;
    bool matches;
};

void PrintTo(const PatternCase& c, std::ostream* out) { *out << c.what; }

class PatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(PatternTest, MatchesLevelByLevel) {
    EXPECT_EQ(MatchesPattern(GetParam().pattern, GetParam().name), GetParam().matches)
        << GetParam().pattern << " against " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternTest,
    ::testing::Values(
        PatternCase{"ExactName", "html/a.htm", "html/a.htm", true},
        PatternCase{"StarAtTheRoot", "*.html", "index.html", true},
        PatternCase{"StarDoesNotCrossSlash", "*.html", "html/a.html", false},
        PatternCase{"StarInAFolderLevel", "html/*.html", "html/a.html", true},
        PatternCase{"StarOneLevelOnly", "html/*", "html/sub/a.html", false},
        PatternCase{"QuestionMarkNotSlash", "html?a", "html/a", false},
        PatternCase{"DoubleStarAnyDepth", "**/*.html", "html/sub/deeper/a.html", true},
        PatternCase{"DoubleStarZeroLevels", "**/*.html", "index.html", true},
        PatternCase{"DoubleStarBelowAFolder", "html/**", "html/sub/a.html", true},
        PatternCase{"DoubleStarNotTheFolderItself", "html/**", "html", false},
        PatternCase{"DoubleStarAloneMatchesEverything", "**", "html/sub/a.html", true},
        PatternCase{"DoubleStarAloneMatchesARootName", "**", "index.html", true},
        PatternCase{"DoubleStarInTheMiddle", "a/**/z", "a/b/c/z", true},
        PatternCase{"DoubleStarInTheMiddleNoLevel", "a/**/z", "a/z", true},
        PatternCase{"DoubleStarWithinALevelIsAStar", "a**", "ab/c", false},
        PatternCase{"Class", "page[0-9].htm", "page7.htm", true},
        PatternCase{"NegatedClass", "page[!0-9].htm", "page7.htm", false},
        PatternCase{"LeadingDotNotSpecial", "*", ".hidden", true},
        PatternCase{"HashName", "#*", "#SYSTEM", true},
        PatternCase{"BackslashQuotes", "\\*.htm", "*.htm", true},
        PatternCase{"BackslashQuotesOnlyTheStar", "\\*.htm", "a.htm", false},
        PatternCase{"CaseMatters", "INDEX.HTML", "index.html", false},
        PatternCase{"ChineseLevels", "中文/*", "中文/页面.html", true},
        PatternCase{"SpecialStreamsByPath", "::DataSpace/**", "::DataSpace/Storage/MSCompressed/Content", true},
        PatternCase{"EmptyLevelOfAStoredName", "a/*/b", "a//b", true},
        PatternCase{"NulInANameMatchesOnlyItself", "*", std::string("a\0b", 3), false},
        PatternCase{"PatternLongerThanTheName", "a/b/c", "a/b", false},
        PatternCase{"TrailingSlashIsAnEmptyLevel", "html/", "html", false},
        // '?', '*' and classes take characters of UTF-8, not bytes.
        PatternCase{"QuestionMarkIsOneChineseCharacter", "?.html", "中.html", true},
        PatternCase{"QuestionMarksAreNotItsBytes", "???.html", "中.html", false},
        PatternCase{"StarThenAChineseCharacter", "*文.html", "中文.html", true},
        PatternCase{"ClassOfChineseCharacters", "[中文].html", "文.html", true},
        PatternCase{"NegatedClassTakesTheWholeCharacter", "[!a].html", "中.html", true},
        PatternCase{"RangeByCodePoint", "[一-龥]", "中", true},
        PatternCase{"RangeOutside", "[a-z]", "中", false},
        PatternCase{"InvalidByteIsOneCharacter", "?b", "\xff" "b", true},
        PatternCase{"NamedClass", "page[[:digit:]].htm", "page7.htm", true},
        PatternCase{"NamedClassNegated", "page[![:digit:]].htm", "page7.htm", false},
        PatternCase{"ClosingBracketFirstInAClass", "[]a]", "]", true},
        PatternCase{"UnclosedBracketIsItself", "[a", "[a", true},
        PatternCase{"CaretNegatesToo", "[^a]", "b", true},
        PatternCase{"StarsBacktrack", "*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaac", false}),
    test::CaseName<PatternCase>);

// Many "**" levels against a deep name: one pass per pattern level, never a
// search through every way of splitting the name.
TEST(Pattern, ManyDoubleStarsOnADeepNameStayCheap) {
    std::string pattern;
    for (int i = 0; i < 200; ++i) pattern += "**/";
    pattern += "x";
    std::string name;
    for (int i = 0; i < 2000; ++i) name += "d/";
    name += "y";
    EXPECT_FALSE(MatchesPattern(pattern, name));
}

TEST(Selection, EveryNameWithoutPatterns) {
    const Selection selection = Select({}, {"a", "b"});
    EXPECT_EQ(selection.selected, (std::vector<bool>{true, true}));
    EXPECT_TRUE(selection.unmatched.empty());
}

TEST(Selection, UnionOfThePatternsAndEveryPatternThatMatchesNothing) {
    const Selection selection = Select({"*.txt", "nope", "b/*", "also-nope"}, {"a.txt", "b/c", "d/e"});
    EXPECT_EQ(selection.selected, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(selection.unmatched, (std::vector<std::string>{"nope", "also-nope"}));
}

// Names without glob characters are looked up, each selecting every stream
// of that name; a quoted character is still a pattern.
TEST(Selection, ExactNamesSelectEveryStreamOfTheirName) {
    const Selection selection =
        Select({"x/y", "z", "a\\*", "missing"}, {"x/y", "a*", "z", "x/y", "ab", "x/yy"});
    EXPECT_EQ(selection.selected, (std::vector<bool>{true, true, true, true, false, false}));
    EXPECT_EQ(selection.unmatched, (std::vector<std::string>{"missing"}));
}

}  // namespace
}  // namespace vexmor::cli
