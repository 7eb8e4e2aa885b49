// test, info, patterns and escaped names, run as a program on the fixtures
// and on hand-built files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/cli/run_cli.h"
#include "tests/common/case_name.h"
#include "tests/common/fixture_files.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::DataFile;
using test::Lines;
using test::ListTree;
using test::RunCli;
using test::TempDir;
using testsupport::Bytes;
using testsupport::ChmEntry;
using testsupport::ToBytes;

std::string WriteChm(const TempDir& dir, const testsupport::ChmImage& image, const std::string& name = "built.chm") {
    const std::string path = dir / name;
    test::WriteFile(path, std::string(image.bytes.begin(), image.bytes.end()));
    return path;
}

// Entries exactly as given, no folder entries: names the tests choose.
testsupport::ChmOptions AsGiven() {
    testsupport::ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    return options;
}

// --- test ---

// Two streams compressed across several reset spans and one stored; the
// compressed data of the second span is scribbled over.
TEST(TestCommand, NamesEachDamagedStreamEscapedAndFails) {
    TempDir dir;
    const std::vector<ChmEntry> entries{
        {"/first\n4\tforged.html", testsupport::SampleText(150000, 1, {7, 40}), 1},
        {"/second.html", testsupport::SampleText(150000, 2, {7, 40}), 1},
        {"/stored.txt", ToBytes("stored"), 0},
    };
    testsupport::ChmImage image = testsupport::BuildChm(entries, AsGiven());
    // Frames of 32 KiB, two to a reset span: span 2 starts at frame 4.
    ASSERT_GE(image.layout.frameOffsets.size(), 6u);
    const std::uint64_t damaged = image.layout.content.offset + image.layout.frameOffsets[4];
    for (std::uint64_t i = 0; i < 64; ++i) image.bytes.at(damaged + 100 + i) ^= 0xA5;
    const std::string chm = WriteChm(dir, image);
    fs::create_directory(dir / "work");

    const test::CliRun run = RunCli({"test", chm}, dir / "work");

    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    // Span 2 (bytes 131072..196607) holds the end of the first stream and the
    // start of the second.
    EXPECT_TRUE(lines[0].starts_with("first\\n4\\tforged.html: The help file is damaged")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("second.html: The help file is damaged")) << lines[1];
    // The section's own streams count too.
    EXPECT_TRUE(lines[2].ends_with(" streams: 2 damaged")) << lines[2];
    EXPECT_TRUE(ListTree(dir / "work").empty());
}

// Streams that claim the same bytes could make a small file decode without
// end: reported, not decoded.
TEST(TestCommand, OverlappingStreamsAreDamageNotDecoded) {
    TempDir dir;
    testsupport::ChmOptions options = AsGiven();
    options.claims["/b.html"] = {0, 150000};
    const std::string chm = WriteChm(
        dir, testsupport::BuildChm({{"/a.html", testsupport::SampleText(150000, 3), 1}, {"/b.html", ToBytes("b"), 1}},
                                   options));

    const test::CliRun run = RunCli({"test", chm}, dir.path().string());

    EXPECT_EQ(run.exitStatus, 1);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_NE(lines[0].find("b.html"), std::string::npos) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" streams: not tested, the file is damaged")) << lines[1];
}

// Two entries of one name: the second, damaged, is decoded by its own
// place in the file, not taken for the first.
TEST(TestCommand, ADamagedStreamNamedLikeAnEarlierOneIsFound) {
    TempDir dir;
    testsupport::ChmImage image = testsupport::BuildChm(
        {{"/twice.html", ToBytes("stored and fine"), 0}, {"/twice.html", testsupport::SampleText(150000, 4, {7, 40}), 1}},
        AsGiven());
    ASSERT_GE(image.layout.frameOffsets.size(), 3u);
    const std::uint64_t damaged = image.layout.content.offset + image.layout.frameOffsets[2];
    for (std::uint64_t i = 0; i < 64; ++i) image.bytes.at(damaged + 100 + i) ^= 0xA5;
    const std::string chm = WriteChm(dir, image);

    const test::CliRun run = RunCli({"test", chm}, dir.path().string());

    EXPECT_EQ(run.exitStatus, 1) << run.out;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_TRUE(lines[0].starts_with("twice.html: The help file is damaged")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" streams: 1 damaged")) << lines[1];
}

// --- info ---

struct InfoCase {
    const char* what;
    std::string file;
    std::vector<std::string> args;  // before the file
    std::string expected;           // "FILE" stands for the file
};

void PrintTo(const InfoCase& c, std::ostream* out) { *out << c.what; }

class InfoFixtureTest : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoFixtureTest, TellsWhatTheFileHolds) {
    const InfoCase& c = GetParam();
    if (!fs::exists(c.file)) GTEST_SKIP() << c.file << " is not present";
    std::vector<std::string> args{"info"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(c.file);

    const test::CliRun run = RunCli(args, ".");

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::string expected = c.expected;
    expected.replace(expected.find("FILE"), 4, c.file);
    EXPECT_EQ(run.out, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, InfoFixtureTest,
    ::testing::Values(
        InfoCase{"small", DataFile("small.chm"), {},
                 "file: FILE\n"
                 "title: Small fixture\n"
                 "default topic: index.html\n"
                 "language: 0x0804 Chinese (Simplified, China)\n"
                 "compiler: HHA Version 4.74.8702\n"
                 "streams: 23\n"
                 "stream bytes: 1067969\n"
                 "file bytes: 283983\n"
                 "compressed section: 788286 bytes uncompressed\n"
                 "compressed section: 274946 bytes compressed\n"
                 "LZX window: 65536 bytes\n"
                 "LZX reset interval: 65536 bytes\n"},
        InfoCase{"openmcdf", DataFile("openmcdf.chm"), {},
                 "file: FILE\n"
                 "title: Open MCDF\n"
                 "default topic: html/d4648875-d41a-783b-d5f4-638df39ee413.htm\n"
                 "default window: MsdnHelp\n"
                 "language: 0x0409 English (United States)\n"
                 "compiler: HHA Version 4.74.8702\n"
                 "compiled: 2012-12-09T12:13:44Z\n"
                 "streams: 172\n"
                 "stream bytes: 1058650\n"
                 "file bytes: 157334\n"
                 "compressed section: 967430 bytes uncompressed\n"
                 "compressed section: 140128 bytes compressed\n"
                 "LZX window: 65536 bytes\n"
                 "LZX reset interval: 65536 bytes\n"},
        InfoCase{"lcl", test::SharedFixtureFile("lcl.chm"), {},
                 "file: FILE\n"
                 "title: \"(LCL) Lazarus Component Library\"\n"
                 "default topic: index.html\n"
                 "contents file: Default.hhc\n"
                 "index file: Default.hhk\n"
                 "language: 0x0409 English (United States)\n"
                 "compiler: HHA Version 4.74.8702\n"
                 "streams: 20225\n"
                 "stream bytes: 192847329\n"
                 "file bytes: 16293323\n"
                 "compressed section: 177475810 bytes uncompressed\n"
                 "compressed section: 15323610 bytes compressed\n"
                 "LZX window: 65536 bytes\n"
                 "LZX reset interval: 65536 bytes\n"},
        InfoCase{"smallJson", DataFile("small.chm"), {"--json"},
                 "{\n"
                 "  \"file\": \"FILE\",\n"
                 "  \"title\": \"Small fixture\",\n"
                 "  \"default_topic\": \"index.html\",\n"
                 "  \"default_window\": null,\n"
                 "  \"contents_file\": null,\n"
                 "  \"index_file\": null,\n"
                 "  \"language_id\": 2052,\n"
                 "  \"language\": \"Chinese (Simplified, China)\",\n"
                 "  \"compiler\": \"HHA Version 4.74.8702\",\n"
                 "  \"compiled\": null,\n"
                 "  \"streams\": 23,\n"
                 "  \"stream_bytes\": 1067969,\n"
                 "  \"stream_bytes_saturated\": false,\n"
                 "  \"file_bytes\": 283983,\n"
                 "  \"section_uncompressed_bytes\": 788286,\n"
                 "  \"section_compressed_bytes\": 274946,\n"
                 "  \"lzx_window_bytes\": 65536,\n"
                 "  \"lzx_reset_interval_bytes\": 65536,\n"
                 "  \"notes\": []\n"
                 "}\n"}),
    [](const ::testing::TestParamInfo<InfoCase>& param) { return std::string(param.param.what); });

// A #SYSTEM of a Chinese file whose texts are hostile: a title in GBK with a
// quote, a newline and a terminal escape, then a record that runs past the end.
Bytes HostileSystem() {
    Bytes out;
    testsupport::AppendU32(out, 3);
    const auto record = [&](std::uint16_t code, const Bytes& body) {
        testsupport::AppendU16(out, code);
        testsupport::AppendU16(out, static_cast<std::uint16_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    };
    Bytes language;
    testsupport::AppendU32(language, 0x0804);
    language.resize(20, 0);
    record(4, language);
    // "中文" in GBK, then the hostile characters.
    record(3, Bytes{0xD6, 0xD0, 0xCE, 0xC4, '"', '\n', 0x1B, '[', '2', 'J', 0});
    testsupport::AppendU16(out, 2);
    testsupport::AppendU16(out, 500);
    testsupport::AppendText(out, "index");
    return out;
}

TEST(Info, HostileTextsAreConvertedAndEscapedAndDamagedRecordsNoted) {
    TempDir dir;
    const std::string chm = WriteChm(dir, testsupport::BuildChm({{"/#SYSTEM", HostileSystem(), 0}}, AsGiven()));

    const test::CliRun text = RunCli({"info", chm}, dir.path().string());
    ASSERT_EQ(text.exitStatus, 0) << text.err;
    const std::vector<std::string> lines = Lines(text.out);
    EXPECT_EQ(lines.at(1), "title: 中文\"\\n\\033[2J");
    EXPECT_EQ(lines.at(2), "language: 0x0804 Chinese (Simplified, China)");
    EXPECT_EQ(lines.back(), "note: #SYSTEM: record 2 claims 500 bytes where 5 are left; it and the rest skipped");

    const test::CliRun json = RunCli({"info", "--json", chm}, dir.path().string());
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_NE(json.out.find("  \"title\": \"中文\\\"\\n\\u001b[2J\",\n"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("  \"default_topic\": null,\n"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("  \"lzx_window_bytes\": null,\n"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("  \"notes\": [\"#SYSTEM: record 2 claims 500 bytes"), std::string::npos) << json.out;
}

TEST(Info, FileWithoutSystemStreamSaysSo) {
    TempDir dir;
    const std::string chm = WriteChm(dir, testsupport::BuildChm({{"/a.txt", ToBytes("a"), 0}}, AsGiven()));
    const test::CliRun run = RunCli({"info", chm}, dir.path().string());
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(Lines(run.out).back(), "note: no #SYSTEM stream: title, language and compiler unknown");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// 262,143 language records too short for an id fill the 1 MiB that is read
// of #SYSTEM: one note, counted, in both forms.
TEST(Info, ARepeatedNoteIsCountedNotRepeated) {
    Bytes system;
    testsupport::AppendU32(system, 3);
    while (system.size() < (1u << 20)) {
        testsupport::AppendU16(system, 4);
        testsupport::AppendU16(system, 0);
    }
    TempDir dir;
    const std::string chm = WriteChm(dir, testsupport::BuildChm({{"/#SYSTEM", system, 1}}, AsGiven()));
    const std::string note = "#SYSTEM: the language record holds 0 bytes, too few for a language id; skipped (262143 times)";

    const test::CliRun text = RunCli({"info", chm}, dir.path().string());
    ASSERT_EQ(text.exitStatus, 0) << text.err;
    const std::vector<std::string> lines = Lines(text.out);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("note:"); }), 1)
        << text.out.substr(0, 2000);
    EXPECT_EQ(lines.back(), "note: " + note);
    if (!kSanitized) EXPECT_LT(text.peakResidentKiB, 16 * 1024);

    const test::CliRun json = RunCli({"info", "--json", chm}, dir.path().string());
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_NE(json.out.find("  \"notes\": [\"" + note + "\"]\n}\n"), std::string::npos) << json.out.substr(0, 2000);
    EXPECT_LT(json.out.size(), 2000u);
    if (!kSanitized) EXPECT_LT(json.peakResidentKiB, 16 * 1024);
}

// Three streams that claim the largest size each: the sum is no number of
// 64 bits, and is said to be more than the largest one.
TEST(Info, StreamBytesPastTwoToTheSixtyFourSaturate) {
    testsupport::ChmOptions options = AsGiven();
    for (const char* name : {"/a", "/b", "/c"}) options.claims[name] = {0, UINT64_MAX};
    TempDir dir;
    const std::string chm = WriteChm(
        dir, testsupport::BuildChm({{"/a", ToBytes("a"), 0}, {"/b", ToBytes("b"), 0}, {"/c", ToBytes("c"), 0}}, options));

    const test::CliRun text = RunCli({"info", chm}, dir.path().string());
    ASSERT_EQ(text.exitStatus, 0) << text.err;
    EXPECT_NE(text.out.find("\nstream bytes: more than 18446744073709551615\n"), std::string::npos) << text.out;

    const test::CliRun json = RunCli({"info", "--json", chm}, dir.path().string());
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_NE(json.out.find("  \"stream_bytes\": 18446744073709551615,\n  \"stream_bytes_saturated\": true,\n"),
              std::string::npos)
        << json.out;
}

// --- patterns ---

struct SelectCase {
    const char* what;
    std::vector<std::string> patterns;
    std::vector<std::string> selected;  // in the file's order
};

void PrintTo(const SelectCase& c, std::ostream* out) { *out << c.what; }

class SelectTest : public ::testing::TestWithParam<SelectCase> {};

TEST_P(SelectTest, ListShowsTheMatchingStreams) {
    std::vector<std::string> args{"list", DataFile("small.chm")};
    args.insert(args.end(), GetParam().patterns.begin(), GetParam().patterns.end());
    const test::CliRun run = RunCli(args, ".");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::vector<std::string> names;
    for (const std::string& line : Lines(run.out)) names.push_back(line.substr(line.find('\t') + 1));
    EXPECT_EQ(names, GetParam().selected);
}

TEST_P(SelectTest, ExtractWritesTheMatchingStreamsOnly) {
    TempDir dir;
    std::vector<std::string> args{"extract", DataFile("small.chm"), "out"};
    args.insert(args.end(), GetParam().patterns.begin(), GetParam().patterns.end());
    const test::CliRun run = RunCli(args, dir.path().string());
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::vector<std::string> files;
    for (const std::string& entry : ListTree(dir / "out"))
        if (fs::is_regular_file(dir.path() / "out" / entry)) files.push_back(entry);
    std::vector<std::string> expected = GetParam().selected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
    EXPECT_EQ(Lines(run.err).back(), "vexmorchm-cli: wrote " + std::to_string(expected.size()) + " streams, " +
                                         Lines(run.err).back().substr(Lines(run.err).back().find(", ") + 2));
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, SelectTest,
    ::testing::Values(
        SelectCase{"StarAtTheRootOnly", {"*.html"}, {"index.html"}},
        SelectCase{"OneFolderLevel", {"html/*"},
                   {"html/big.html", "html/empty.html", "html/exact8192.html", "html/page1.html"}},
        SelectCase{"AnyDepth", {"html/**/exact*"},
                   {"html/exact8192.html", "html/sub/deeper/exact65537.html", "html/sub/exact32768.html",
                    "html/sub/exact65536.html"}},
        SelectCase{"UnionInTheFilesOrder", {"index.html", "images/*"}, {"images/random.bin", "index.html"}},
        SelectCase{"ClassAndQuestionMark", {"html/sub/exact6553?.html", "html/page[0-9].html"},
                   {"html/page1.html", "html/sub/exact65536.html"}},
        SelectCase{"ChineseAndBlanks", {"中文/*", "with space/*"}, {"with space/a file.html", "中文/页面.html"}},
        SelectCase{"QuestionMarkIsOneCharacter", {"中文/??.html"}, {"中文/页面.html"}},
        SelectCase{"ExactNamesAndPatternsTogether", {"html/page1.html", "index.html", "中文/*"},
                   {"html/page1.html", "index.html", "中文/页面.html"}},
        SelectCase{"OverlappingPatternsOnce", {"html/sub/**", "**/exact65537.html"},
                   {"html/sub/deeper/exact65537.html", "html/sub/exact32768.html", "html/sub/exact65536.html"}}),
    test::CaseName<SelectCase>);

// Every pattern is checked first: a mistyped one is named, with any other,
// and nothing is listed or written.
TEST(Patterns, APatternThatMatchesNothingIsAnErrorAndNothingIsWritten) {
    TempDir dir;
    const test::CliRun extract =
        RunCli({"extract", DataFile("small.chm"), "out", "index.html", "*.htm", "html/nope"}, dir.path().string());
    EXPECT_EQ(extract.exitStatus, 1);
    EXPECT_EQ(extract.err, "vexmorchm-cli: no stream matches '*.htm'\nvexmorchm-cli: no stream matches 'html/nope'\n");
    EXPECT_TRUE(ListTree(dir.path()).empty());

    const test::CliRun list = RunCli({"list", DataFile("small.chm"), "index.html", "*.htm"}, ".");
    EXPECT_EQ(list.exitStatus, 1);
    EXPECT_EQ(list.out, "");
    EXPECT_EQ(list.err, "vexmorchm-cli: no stream matches '*.htm'\n");
}

// A pattern given where the folder goes would otherwise become a folder of
// that name; one that exists is a folder as any other.
TEST(Patterns, APatternInTheFoldersPlaceIsRefusedUnlessSuchAFolderExists) {
    TempDir dir;
    const test::CliRun refused = RunCli({"extract", DataFile("small.chm"), "*.html"}, dir.path().string());
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_EQ(refused.err,
              "vexmorchm-cli: *.html: no such folder; patterns come after the folder: "
              "vexmorchm-cli extract FILE [DIR] [PATTERN...]\n");
    EXPECT_TRUE(ListTree(dir.path()).empty());

    fs::create_directory(dir / "out[1]");
    const test::CliRun written = RunCli({"extract", DataFile("small.chm"), "out[1]", "index.html"}, dir.path().string());
    EXPECT_EQ(written.exitStatus, 0) << written.err;
    EXPECT_EQ(ListTree(dir.path()), (std::vector<std::string>{"out[1]", "out[1]/index.html"}));
}

// --- names printed safely ---

struct NameCase {
    const char* what;
    std::string stored;  // as the directory stores it
    std::string listed;  // as list prints it
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.what; }

class NameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameTest, ListPrintsTheNameEscapedOnOneLineAndRawWithDashZero) {
    TempDir dir;
    const std::string chm = WriteChm(
        dir, testsupport::BuildChm({{GetParam().stored, ToBytes("x"), 0}, {"/last.txt", ToBytes("y"), 0}}, AsGiven()));

    const test::CliRun run = RunCli({"list", chm}, dir.path().string());
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "1\t" + GetParam().listed + "\n1\tlast.txt\n");

    const test::CliRun raw = RunCli({"list", "-0", chm}, dir.path().string());
    ASSERT_EQ(raw.exitStatus, 0) << raw.err;
    EXPECT_EQ(raw.out, GetParam().stored.substr(1) + std::string("\0last.txt\0", 10));
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameTest,
    ::testing::Values(NameCase{"Newline", "/a\n1\tforged.txt", "a\\n1\\tforged.txt"},
                      NameCase{"CarriageReturn", "/a\rb.txt", "a\\rb.txt"},
                      NameCase{"Backslash", "/a\\nb.txt", "a\\\\nb.txt"},
                      NameCase{"CursorMove", "/\033[1A\033[2Kx.txt", "\\033[1A\\033[2Kx.txt"},
                      NameCase{"Bell", "/a\a.txt", "a\\007.txt"},
                      NameCase{"C1Csi", "/a\xc2\x9b" "1A.txt", "a\\302\\2331A.txt"},
                      NameCase{"RightToLeftOverride", "/a\xe2\x80\xaetxt.exe", "a\\342\\200\\256txt.exe"},
                      NameCase{"InvalidUtf8", "/a\xff\xfe.txt", "a\\377\\376.txt"},
                      NameCase{"ChineseUntouched", "/中文/页面.html", "中文/页面.html"},
                      NameCase{"InAFolder", "/d\tir/f.txt", "d\\tir/f.txt"}),
    test::CaseName<NameCase>);

// Messages carry inner names too: an unsafe name with a newline reaches
// stderr on one line.
TEST(Names, MessagesNamingAStreamAreEscaped) {
    TempDir dir;
    const std::string chm = WriteChm(dir, testsupport::BuildChm({{"/../x\n\033[2J.txt", ToBytes("x"), 0}}, AsGiven()));
    const test::CliRun run = RunCli({"extract", chm, "out"}, dir.path().string());
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(Lines(run.err).at(0), "vexmorchm-cli: 不安全的文件名-../x\\n\\033[2J.txt");
}

// A NUL inside a name would split it in two under -0: left out and reported.
TEST(Names, DashZeroLeavesOutANameHoldingNul) {
    TempDir dir;
    const std::string chm = WriteChm(
        dir, testsupport::BuildChm({{std::string("/a\0b", 4), ToBytes("x"), 0}, {"/c", ToBytes("y"), 0}}, AsGiven()));
    const test::CliRun run = RunCli({"list", "-0", chm}, dir.path().string());
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, std::string("c\0", 2));
    EXPECT_EQ(run.err, "vexmorchm-cli: a\\000b: holds a NUL byte; left out of the NUL-separated list\n");
}

}  // namespace
}  // namespace vexmor
