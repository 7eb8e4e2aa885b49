// vexmorchm-cli run as a program on the fixtures and on hand-built files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/cli/run_cli.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ManifestEntry;
using test::ReadFile;
using test::ReadManifest;
using test::RunCli;
using test::TempDir;

std::string DataFile(const std::string& name) { return std::string(VEXMOR_TEST_DATA_DIR) + "/" + name; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t RegularFiles(const fs::path& root) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) count += entry.is_regular_file() ? 1 : 0;
    return count;
}

// --- the fixtures, end to end ---

struct Fixture {
    const char* name;
    const char* folder;  // VEXMOR_TEST_DATA_DIR or VEXMOR_SHARED_FIXTURES_DIR
};

void PrintTo(const Fixture& f, std::ostream* out) { *out << f.name; }

class FixtureTest : public ::testing::TestWithParam<Fixture> {
protected:
    void SetUp() override {
        chm_ = std::string(GetParam().folder) + "/" + GetParam().name + ".chm";
        if (!fs::exists(chm_)) GTEST_SKIP() << chm_ << " is not present";
        manifest_ = ReadManifest(std::string(GetParam().folder) + "/" + GetParam().name + ".sha256");
    }
    std::string chm_;
    std::vector<ManifestEntry> manifest_;
};

TEST_P(FixtureTest, ExtractWritesEveryStreamByteExact) {
    TempDir dir;
    const test::CliRun run = RunCli({"extract", chm_, dir / "out"}, dir.path().string());

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "");
    std::uint64_t bytes = 0;
    for (const ManifestEntry& entry : manifest_) {
        const fs::path file = dir.path() / "out" / entry.InnerName();
        ASSERT_TRUE(fs::is_regular_file(file)) << entry.name;
        EXPECT_EQ(fs::file_size(file), entry.size) << entry.name;
        EXPECT_EQ(test::Sha256OfFile(file.string()), entry.sha256) << entry.name;
        bytes += entry.size;
    }
    EXPECT_EQ(RegularFiles(dir.path() / "out"), manifest_.size());
    EXPECT_EQ(run.err, "vexmorchm-cli: wrote " + std::to_string(manifest_.size()) + " streams, " +
                           std::to_string(bytes) + " bytes, to " + (dir / "out") + "/\n");
}

TEST_P(FixtureTest, ListShowsEverySizeAndNameInOrder) {
    const test::CliRun run = RunCli({"list", chm_}, ".");

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> expected;
    for (const ManifestEntry& entry : manifest_) expected.push_back(std::to_string(entry.size) + "\t" + entry.InnerName());
    EXPECT_EQ(Lines(run.out), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, FixtureTest,
                         ::testing::Values(Fixture{"small", VEXMOR_TEST_DATA_DIR},
                                           Fixture{"openmcdf", VEXMOR_TEST_DATA_DIR},
                                           Fixture{"lcl", VEXMOR_SHARED_FIXTURES_DIR}),
                         [](const ::testing::TestParamInfo<Fixture>& param) { return std::string(param.param.name); });

class CatTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CatTest, WritesTheBytesOfOneStream) {
    TempDir dir;
    const test::CliRun run = RunCli({"cat", DataFile("small.chm"), GetParam()}, ".", dir / "stream");

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const ManifestEntry& entry : ReadManifest(DataFile("small.sha256"))) {
        if (entry.InnerName() != GetParam()) continue;
        EXPECT_EQ(fs::file_size(dir / "stream"), entry.size);
        EXPECT_EQ(test::Sha256OfFile(dir / "stream"), entry.sha256);
        return;
    }
    FAIL() << GetParam() << " is not in the manifest";
}

INSTANTIATE_TEST_SUITE_P(Streams, CatTest,
                         ::testing::Values("html/sub/deeper/exact65537.html", "images/random.bin", "中文/页面.html",
                                           "with space/a file.html", "html/empty.html", "#SYSTEM"));

TEST(Extract, DefaultFolderIsNamedAfterTheFileInTheCurrentFolder) {
    TempDir dir;
    const test::CliRun run = RunCli({"extract", DataFile("small.chm")}, dir.path().string());

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "vexmorchm-cli: wrote 23 streams, 1067969 bytes, to small/\n");
    EXPECT_EQ(fs::file_size(dir / "small/html/sub/deeper/exact65537.html"), 65537u);
}

// Export all in name order decodes each compressed span once here.
TEST(Extract, StatsEndWithTheDecodeWork) {
    TempDir dir;
    const test::CliRun run = RunCli({"extract", "--stats", DataFile("small.chm"), dir / "out"}, ".");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("wrote 23 streams"), std::string::npos) << run.err;
    EXPECT_TRUE(run.err.ends_with("\ndecode work: 1.00\n")) << run.err;
}

// A plain file named "html" stands where the folder of seven items must go.
// Items are written in the order of their bytes: the stored ones, then the
// compressed ones by offset.
TEST(Extract, StopsAtTheFirstFailureOrGoesOnWithKeepGoing) {
    TempDir dir;
    fs::create_directories(dir / "stop");
    fs::create_directories(dir / "on");
    test::WriteFile(dir / "stop/html", "in the way");
    test::WriteFile(dir / "on/html", "in the way");

    const test::CliRun stop = RunCli({"extract", DataFile("small.chm"), dir / "stop"}, ".");
    EXPECT_EQ(stop.exitStatus, 1);
    EXPECT_EQ(stop.err,
              "vexmorchm-cli: 不能创建文件夹-html\n"
              "vexmorchm-cli: wrote 10 of 23 streams, 282434 bytes, to " + (dir / "stop") + "/; stopped at the failure above\n");
    EXPECT_TRUE(fs::exists(dir / "stop/_#_README_#_"));
    EXPECT_FALSE(fs::exists(dir / "stop/images"));

    const test::CliRun on = RunCli({"extract", "--keep-going", DataFile("small.chm"), dir / "on"}, ".");
    EXPECT_EQ(on.exitStatus, 1);
    const std::vector<std::string> lines = Lines(on.err);
    ASSERT_EQ(lines.size(), 8u) << on.err;
    EXPECT_EQ(lines[0], "vexmorchm-cli: html/page1.html: 不能创建文件夹-html");
    EXPECT_EQ(lines[5], "vexmorchm-cli: html/sub/deeper/exact65537.html: 不能创建文件夹-html/sub/deeper");
    EXPECT_EQ(lines[7], "vexmorchm-cli: wrote 16 of 23 streams, 490910 bytes, to " + (dir / "on") + "/; 7 failed");
    EXPECT_EQ(fs::file_size(dir / "on/images/random.bin"), 200000u);
    EXPECT_EQ(fs::file_size(dir / "on/::DataSpace/Storage/MSCompressed/Content"), 274946u);
    EXPECT_EQ(ReadFile(dir / "on/html"), "in the way");
}

TEST(Cat, FullOutputIsAFailure) {
    const test::CliRun run = RunCli({"cat", DataFile("small.chm"), "images/random.bin"}, ".", "/dev/full");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, "vexmorchm-cli: Disk full\n");
}

// --- failures and the command line ---

struct FailureCase {
    const char* what;
    std::vector<std::string> args;
    int exitStatus;
    std::string errPrefix;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.what; }

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, ExitsWithTheStatusAndAMessageOnStderr) {
    const test::CliRun run = RunCli(GetParam().args, ".");
    EXPECT_EQ(run.exitStatus, GetParam().exitStatus);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.substr(0, GetParam().errPrefix.size()), GetParam().errPrefix) << run.err;
    EXPECT_EQ(run.err.back(), '\n');
}

const std::string kMissing = DataFile("no-such-file.chm");
const std::string kNotHelp = DataFile("small.sha256");
const std::string kSmall = DataFile("small.chm");

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureTest,
    ::testing::Values(
        FailureCase{"MissingFile", {"list", kMissing}, 1, "vexmorchm-cli: File or element not found"},
        FailureCase{"NotAHelpFile", {"list", kNotHelp}, 1, "vexmorchm-cli: Not a compiled HTML help file"},
        FailureCase{"ExtractMissingFile", {"extract", kMissing}, 1, "vexmorchm-cli: File or element not found"},
        FailureCase{"CatNotAHelpFile", {"cat", kNotHelp, "x"}, 1, "vexmorchm-cli: Not a compiled HTML help file"},
        FailureCase{"CatNoSuchItem", {"cat", kSmall, "html/none.html"}, 1,
                    "vexmorchm-cli: no item html/none.html in " + kSmall + "\n"},
        FailureCase{"CatNeedsTheExactName", {"cat", kSmall, "/index.html"}, 1, "vexmorchm-cli: no item /index.html"},
        FailureCase{"NoCommand", {}, 2, "vexmorchm-cli: no command given\n"},
        FailureCase{"UnknownCommand", {"unpack", kSmall}, 2, "vexmorchm-cli: unknown command 'unpack'\n"},
        FailureCase{"ListWithoutFile", {"list"}, 2, "vexmorchm-cli: wrong number of arguments for 'list'\n"},
        FailureCase{"CatWithoutPath", {"cat", kSmall}, 2, "vexmorchm-cli: wrong number of arguments for 'cat'\n"},
        FailureCase{"ExtractTooMany", {"extract", kSmall, "a", "b"}, 2, "vexmorchm-cli: wrong number"},
        FailureCase{"UnknownOption", {"extract", "--force", kSmall}, 2, "vexmorchm-cli: unknown option '--force'\n"},
        FailureCase{"KeepGoingOnlyForExtract", {"list", "--keep-going", kSmall}, 2, "vexmorchm-cli: unknown option"},
        FailureCase{"EmptyFolder", {"extract", kSmall, ""}, 2, "vexmorchm-cli: an empty argument"},
        FailureCase{"FolderIsAFile", {"extract", kSmall, kNotHelp}, 1,
                    "vexmorchm-cli: " + kNotHelp + " exists and is not a folder\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return std::string(param.param.what); });

TEST(CommandLine, HelpAndVersion) {
    const test::CliRun version = RunCli({"--version"}, ".");
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, std::string("vexmorchm-cli ") + VEXMOR_VERSION + "\n");

    const test::CliRun help = RunCli({"--help"}, ".");
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.out.rfind("Usage: vexmorchm-cli list FILE\n", 0), 0u);
    EXPECT_EQ(help.err, "");
}

TEST(CommandLine, DoubleDashEndsTheOptions) {
    TempDir dir;
    fs::copy_file(DataFile("small.chm"), dir / "-odd.chm");
    const test::CliRun run = RunCli({"list", "--", "-odd.chm"}, dir.path().string());
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(Lines(run.out).size(), 23u);
}

// --- a hostile file ---

std::string HostileChm(const TempDir& dir) {
    using testsupport::ChmEntry;
    using testsupport::ToBytes;
    testsupport::ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    const std::vector<ChmEntry> entries{
        {"/ok.txt", ToBytes("fine"), 0},
        {"/../evil1.txt", ToBytes("evil"), 0},
        {"/a/../../evil2.txt", ToBytes("evil"), 0},
        {"/./dot.txt", ToBytes("evil"), 0},
        {"/a//empty.txt", ToBytes("evil"), 0},
        {"//../root.txt", ToBytes("evil"), 0},
        {"/..", ToBytes("evil"), 0},
        {std::string("/nul\0/../x.txt", 14), ToBytes("evil"), 0},
        {"/last.txt", ToBytes("last"), 0},
    };
    const testsupport::ChmImage image = testsupport::BuildChm(entries, options);
    const std::string path = dir / "hostile.chm";
    test::WriteFile(path, std::string(image.bytes.begin(), image.bytes.end()));
    return path;
}

TEST(HostileFile, NeverWritesOutsideTheFolder) {
    TempDir dir;
    const std::string chm = HostileChm(dir);
    fs::create_directories(dir / "sandbox");

    const test::CliRun stop = RunCli({"extract", chm, "t/out"}, dir / "sandbox");
    EXPECT_EQ(stop.exitStatus, 1);
    EXPECT_EQ(Lines(stop.err).at(0), "vexmorchm-cli: 不安全的文件名-../evil1.txt");
    EXPECT_EQ(ListTree(dir / "sandbox"), (std::vector<std::string>{"t", "t/out", "t/out/ok.txt"}));

    const test::CliRun on = RunCli({"extract", "--keep-going", chm, "t/out"}, dir / "sandbox");
    EXPECT_EQ(on.exitStatus, 1);
    EXPECT_EQ(Lines(on.err).size(), 8u) << on.err;  // seven refusals and the summary
    EXPECT_EQ(ListTree(dir / "sandbox"), (std::vector<std::string>{"t", "t/out", "t/out/last.txt", "t/out/ok.txt"}));
    EXPECT_EQ(ListTree(dir.path()), (std::vector<std::string>{"hostile.chm", "sandbox", "sandbox/t", "sandbox/t/out",
                                                              "sandbox/t/out/last.txt", "sandbox/t/out/ok.txt"}));
}

// Every entry is a line; the ones whose names are no path of folders are
// listed as stored and reported, since export refuses them.
TEST(HostileFile, ListShowsEveryEntryAndReportsNamesThatAreNoPath) {
    TempDir dir;
    const test::CliRun run = RunCli({"list", HostileChm(dir)}, dir.path().string());
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    EXPECT_EQ(lines.size(), 9u) << run.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "4\t/a//empty.txt"), lines.end()) << run.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "4\t//../root.txt"), lines.end()) << run.out;
    EXPECT_EQ(Lines(run.err),
              (std::vector<std::string>{
                  "vexmorchm-cli: /a//empty.txt: listed under its stored name, which is no path of folders; it cannot be exported",
                  "vexmorchm-cli: //../root.txt: listed under its stored name, which is no path of folders; it cannot be exported"}));
}

}  // namespace
}  // namespace vexmor
