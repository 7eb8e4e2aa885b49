// vexmorchm-cli run as a program on the fixtures and on hand-built files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <sstream>

#include "tests/catalogue/unprivileged.h"
#include "tests/cli/run_cli.h"
#include "tests/common/case_name.h"
#include "tests/common/fat_mount.h"
#include "tests/common/fixture_files.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
using test::Lines;
using test::ListTree;
using test::ManifestEntry;
using test::ReadFile;
using test::SnapshotTree;
using test::DataFile;
using test::ReadManifest;
using test::RunCli;
using test::TempDir;

std::size_t RegularFiles(const fs::path& root) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) count += entry.is_regular_file() ? 1 : 0;
    return count;
}

// --- the fixtures, end to end ---

struct Fixture {
    const char* name;
    test::FixtureFiles (*files)(const std::string& stem);  // in the test data or the shared fixtures
};

void PrintTo(const Fixture& f, std::ostream* out) { *out << f.name; }

class FixtureTest : public ::testing::TestWithParam<Fixture> {
protected:
    void SetUp() override {
        const test::FixtureFiles files = GetParam().files(GetParam().name);
        chm_ = files.chm;
        if (!fs::exists(chm_)) GTEST_SKIP() << chm_ << " is not present";
        manifest_ = ReadManifest(files.manifest);
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

TEST_P(FixtureTest, TestFindsEveryStreamGoodAndWritesNothing) {
    TempDir dir;
    const test::CliRun run = RunCli({"test", chm_}, dir.path().string());

    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    std::uint64_t bytes = 0;
    for (const ManifestEntry& entry : manifest_) bytes += entry.size;
    EXPECT_EQ(run.out, std::to_string(manifest_.size()) + " streams, " + std::to_string(bytes) + " bytes: all good\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(ListTree(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Files, FixtureTest,
                         ::testing::Values(Fixture{"small", test::DataFixture},
                                           Fixture{"openmcdf", test::DataFixture},
                                           Fixture{"lcl", test::SharedFixture}),
                         [](const ::testing::TestParamInfo<Fixture>& param) { return std::string(param.param.name); });

struct CatCase {
    const char* what;
    std::string innerPath;
};

void PrintTo(const CatCase& c, std::ostream* out) { *out << c.innerPath; }

class CatTest : public ::testing::TestWithParam<CatCase> {};

TEST_P(CatTest, WritesTheBytesOfOneStream) {
    TempDir dir;
    const test::CliRun run = RunCli({"cat", DataFile("small.chm"), GetParam().innerPath}, ".", dir / "stream");

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto manifest = test::ByInnerName(ReadManifest(DataFile("small.sha256")));
    const auto entry = manifest.find(GetParam().innerPath);
    ASSERT_NE(entry, manifest.end()) << GetParam().innerPath << " is not in the manifest";
    EXPECT_EQ(fs::file_size(dir / "stream"), entry->second.size);
    EXPECT_EQ(test::Sha256OfFile(dir / "stream"), entry->second.sha256);
}

INSTANTIATE_TEST_SUITE_P(Streams, CatTest,
                         ::testing::Values(CatCase{"DeepFolderOddSize", "html/sub/deeper/exact65537.html"},
                                           CatCase{"Binary", "images/random.bin"},
                                           CatCase{"ChineseNames", "中文/页面.html"},
                                           CatCase{"Blanks", "with space/a file.html"},
                                           CatCase{"Empty", "html/empty.html"},
                                           CatCase{"SystemFileAtTheRoot", "#SYSTEM"}),
                         test::CaseName<CatCase>);

TEST(Extract, DefaultFolderIsNamedAfterTheFileInTheCurrentFolder) {
    TempDir dir;
    const test::CliRun run = RunCli({"extract", DataFile("small.chm")}, dir.path().string());

    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "vexmorchm-cli: wrote 23 streams, 1067969 bytes, to small/\n");
    EXPECT_EQ(fs::file_size(dir / "small/html/sub/deeper/exact65537.html"), 65537u);
}

// Someone else may have put a link where the folder named after the file
// goes (in /tmp, say): it is not followed, nothing is written. A link the
// user names as the folder is followed.
TEST(Extract, DefaultFolderThatIsALinkIsRefused) {
    TempDir dir;
    fs::create_directories(dir / "elsewhere");
    fs::create_directories(dir / "work");
    fs::create_directory_symlink(dir / "elsewhere", dir / "work/small");

    const test::CliRun run = RunCli({"extract", DataFile("small.chm")}, dir / "work");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, "vexmorchm-cli: small is a symbolic link; give the folder as second argument to extract there\n");
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));

    const test::CliRun named = RunCli({"extract", DataFile("small.chm"), "small"}, dir / "work");
    EXPECT_EQ(named.exitStatus, 0) << named.err;
    EXPECT_EQ(fs::file_size(dir / "elsewhere/html/big.html"), 400000u);
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
              "vexmorchm-cli: 不能创建文件夹-html: html/page1.html (html: not a folder)\n"
              "vexmorchm-cli: wrote 10 of 23 streams, 282434 bytes, to " + (dir / "stop") + "/; stopped at the failure above\n");
    EXPECT_TRUE(fs::exists(dir / "stop/_#_README_#_"));
    EXPECT_FALSE(fs::exists(dir / "stop/images"));

    const test::CliRun on = RunCli({"extract", "--keep-going", DataFile("small.chm"), dir / "on"}, ".");
    EXPECT_EQ(on.exitStatus, 1);
    const std::vector<std::string> lines = Lines(on.err);
    ASSERT_EQ(lines.size(), 8u) << on.err;
    EXPECT_EQ(lines[0], "vexmorchm-cli: 不能创建文件夹-html: html/page1.html (html: not a folder)");
    EXPECT_EQ(lines[5],
              "vexmorchm-cli: 不能创建文件夹-html/sub/deeper: html/sub/deeper/exact65537.html (html: not a folder)");
    EXPECT_EQ(lines[7], "vexmorchm-cli: wrote 16 of 23 streams, 490910 bytes, to " + (dir / "on") + "/; 7 failed");
    EXPECT_EQ(fs::file_size(dir / "on/images/random.bin"), 200000u);
    EXPECT_EQ(fs::file_size(dir / "on/::DataSpace/Storage/MSCompressed/Content"), 274946u);
    EXPECT_EQ(ReadFile(dir / "on/html"), "in the way");
}

// --- what stands in the folder before an extract ---

// Checks that every stream of small.chm is in `folder`, byte-exact, as a
// regular file.
void ExpectSmallExtracted(const fs::path& folder) {
    for (const ManifestEntry& entry : ReadManifest(DataFile("small.sha256"))) {
        const fs::path file = folder / entry.InnerName();
        ASSERT_EQ(fs::symlink_status(file).type(), fs::file_type::regular) << entry.name;
        EXPECT_EQ(test::Sha256OfFile(file.string()), entry.sha256) << entry.name;
    }
}

struct Planted {
    const char* what;
    // Plants things in `out` (the folder extracted into), may use `outside`.
    std::function<void(const fs::path& out, const fs::path& outside)> plant;
    int exitStatus;
    const char* firstLine;  // the start of the first line on stderr
};

void PrintTo(const Planted& p, std::ostream* out) { *out << p.what; }

class PlantedTest : public ::testing::TestWithParam<Planted> {};

TEST_P(PlantedTest, NothingOutsideTheFolderChanges) {
    TempDir dir;
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "outside/folder");
    test::WriteFile(dir / "outside/victim.txt", "victim bytes");
    GetParam().plant(dir / "out", dir / "outside");
    const auto outsideBefore = SnapshotTree(dir / "outside");

    const test::CliRun run = RunCli({"extract", DataFile("small.chm"), dir / "out"}, dir.path().string());

    EXPECT_EQ(run.exitStatus, GetParam().exitStatus) << run.err;
    EXPECT_TRUE(Lines(run.err).at(0).starts_with(std::string("vexmorchm-cli: ") + GetParam().firstLine)) << run.err;
    EXPECT_EQ(SnapshotTree(dir / "outside"), outsideBefore);
    if (run.exitStatus == 0) ExpectSmallExtracted(dir / "out");
}

INSTANTIATE_TEST_SUITE_P(
    Things, PlantedTest,
    ::testing::Values(
        Planted{"LinksToAFileAFolderAndNowhere",
                [](const fs::path& out, const fs::path& outside) {
                    fs::create_symlink(outside / "victim.txt", out / "index.html");
                    fs::create_symlink(outside / "folder", out / "#SYSTEM");
                    fs::create_symlink(outside / "made-through-the-link", out / "#STRINGS");
                    fs::create_directories(out / "html/sub");
                    fs::create_symlink("../../../outside/victim.txt", out / "html/sub/exact32768.html");
                },
                0, "wrote 23 streams, 1067969 bytes, to "},
        Planted{"HardLinkFifoAndDevNull",
                [](const fs::path& out, const fs::path& outside) {
                    fs::create_hard_link(outside / "victim.txt", out / "index.html");
                    ASSERT_EQ(::mkfifo((out / "_#_README_#_").c_str(), 0600), 0);
                    fs::create_symlink("/dev/null", out / "#IDXHDR");
                },
                0, "wrote 23 streams, 1067969 bytes, to "},
        Planted{"LinkForAnInnerFolder",
                [](const fs::path& out, const fs::path& outside) { fs::create_symlink(outside, out / "html"); },
                1, "不能创建文件夹-html: html/page1.html (html: not a folder)"},
        Planted{"LinkForADeeperFolder",
                [](const fs::path& out, const fs::path& outside) {
                    fs::create_directories(out / "html");
                    fs::create_symlink(outside / "folder", out / "html/sub");
                },
                1, "不能创建文件夹-html/sub: html/sub/exact32768.html (html/sub: not a folder)"}),
    [](const ::testing::TestParamInfo<Planted>& param) { return std::string(param.param.what); });

// The help file lies in the folder it is extracted into, under the name of
// one of its own streams.
TEST(Extract, NeverOverwritesTheHelpFileItReads) {
    TempDir dir;
    const std::string input = dir / "_#_README_#_";
    fs::copy_file(DataFile("small.chm"), input);
    const std::string digest = test::Sha256OfFile(input);

    const test::CliRun stop = RunCli({"extract", input, dir.path().string()}, ".");
    EXPECT_EQ(stop.exitStatus, 1);
    EXPECT_EQ(Lines(stop.err).at(0), "vexmorchm-cli: 不能覆盖正在读取的帮助文件-_#_README_#_");
    EXPECT_EQ(test::Sha256OfFile(input), digest);

    const test::CliRun on = RunCli({"extract", "--keep-going", input, dir.path().string()}, ".");
    EXPECT_EQ(on.exitStatus, 1);
    EXPECT_EQ(Lines(on.err).back(), "vexmorchm-cli: wrote 22 of 23 streams, 1067833 bytes, to " + dir.path().string() +
                                        "/; 1 failed");
    EXPECT_EQ(test::Sha256OfFile(input), digest);
    EXPECT_EQ(fs::file_size(dir / "html/big.html"), 400000u);
}

// Two entries of one name land on one file.
TEST(Extract, SecondStreamOnTheSameFileIsAFailureAndItsBytesDoNotCount) {
    using testsupport::ChmEntry;
    using testsupport::ToBytes;
    TempDir dir;
    testsupport::ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    const testsupport::ChmImage image = testsupport::BuildChm(
        {{"/x.txt", ToBytes("first"), 0}, {"/x.txt", ToBytes("second!"), 0}, {"/y.txt", ToBytes("y"), 0}}, options);
    const std::string chm = dir / "twice.chm";
    test::WriteFile(chm, std::string(image.bytes.begin(), image.bytes.end()));

    const test::CliRun stop = RunCli({"extract", chm, dir / "stop"}, ".");
    EXPECT_EQ(stop.exitStatus, 1);
    EXPECT_EQ(stop.err, "vexmorchm-cli: 两项的目标是同一文件-x.txt, x.txt\n"
                        "vexmorchm-cli: wrote 1 of 3 streams, 5 bytes, to " + (dir / "stop") +
                            "/; stopped at the failure above\n");
    EXPECT_EQ(ReadFile(dir / "stop/x.txt"), "first");

    const test::CliRun on = RunCli({"extract", "--keep-going", chm, dir / "on"}, ".");
    EXPECT_EQ(on.exitStatus, 1);
    EXPECT_EQ(Lines(on.err).back(), "vexmorchm-cli: wrote 2 of 3 streams, 6 bytes, to " + (dir / "on") + "/; 1 failed");
    EXPECT_EQ(ReadFile(dir / "on/x.txt"), "first");
}

// A stream that cannot be written whole (here: past the file size limit,
// with its signal ignored, as both are inherited by the program).
TEST(Extract, WriteFailureKeepsTheOldFileAndLeavesNoPart) {
    TempDir dir;
    fs::create_directories(dir / "out/html");
    test::WriteFile(dir / "out/html/big.html", "the old page");

    const std::optional<std::string> err = test::RunInChild(
        [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{300000, 300000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const test::CliRun run = RunCli({"extract", DataFile("small.chm"), dir / "out"}, ".");
            return std::to_string(run.exitStatus) + " " + run.err;
        },
        false);

    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(Lines(*err).at(0), "1 vexmorchm-cli: I/O error 27: html/big.html");  // EFBIG
    EXPECT_EQ(ReadFile(dir / "out/html/big.html"), "the old page");
    // What was written before the failure is complete; nothing is left aside.
    for (const std::string& name : ListTree(dir / "out")) EXPECT_EQ(name.find(".vexmor"), std::string::npos) << name;
}

// Onto FAT and exFAT volumes, which refuse ':' and '?' in names: every
// stream is written, each renamed one named once on stderr, and the run
// succeeds.
class ExtractOntoVolume : public ::testing::TestWithParam<test::VolumeKind> {};

TEST_P(ExtractOntoVolume, EveryStreamIsWrittenAndEachRenamedOneIsNamedOnce) {
    using testsupport::ToBytes;
    test::FatMount fat(GetParam());
    if (!fat.Mounted()) GTEST_SKIP() << fat.WhyNot();
    TempDir dir;
    const testsupport::ChmImage image = testsupport::BuildChm({{"/html/a:b?.html", ToBytes("odd"), 1},
                                                               {"/html/ok.html", ToBytes("fine"), 1},
                                                               {"/50%.txt", ToBytes("pct"), 0}});
    const std::string chm = dir / "odd.chm";
    test::WriteFile(chm, std::string(image.bytes.begin(), image.bytes.end()));
    std::vector<std::string> names;
    for (const std::string& line : Lines(RunCli({"list", chm}, ".").out)) names.push_back(line.substr(line.find('\t') + 1));

    const test::CliRun run = RunCli({"extract", chm, fat / "out"}, ".");

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    std::vector<std::string> expected;
    for (const std::string& name : names) {
        if (name.starts_with("::"))
            expected.push_back("vexmorchm-cli: " + name + " written as %3A%3A" + name.substr(2) +
                               " (the target refuses the name)");
    }
    expected.push_back("vexmorchm-cli: html/a:b?.html written as html/a%3Ab%3F.html (the target refuses the name)");
    std::vector<std::string> lines = Lines(run.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().starts_with("vexmorchm-cli: wrote " + std::to_string(names.size()) + " streams, "))
        << lines.back();
    lines.pop_back();
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(ReadFile(fat / "out/html/a%3Ab%3F.html"), "odd");
    EXPECT_EQ(ReadFile(fat / "out/html/ok.html"), "fine");
    EXPECT_EQ(ReadFile(fat / "out/50%.txt"), "pct");
    for (const std::string& name : ListTree(fat / "out")) EXPECT_EQ(name.find(".vexmor"), std::string::npos) << name;
}

INSTANTIATE_TEST_SUITE_P(Volumes, ExtractOntoVolume, ::testing::Values(test::VolumeKind::Fat, test::VolumeKind::ExFat),
                         [](const ::testing::TestParamInfo<test::VolumeKind>& param) {
                             return test::VolumeKindName(param.param);
                         });

// Batches run side by side (xargs -P) into one folder.
TEST(Extract, RunsSideBySideIntoOneFolderAllSucceed) {
    TempDir dir;
    constexpr int kRuns = 4;
    for (int round = 0; round < 5; ++round) {
        const std::string folder = dir / ("out" + std::to_string(round % 2));
        std::vector<std::future<test::CliRun>> runs;
        for (int i = 0; i < kRuns; ++i)
            runs.push_back(std::async(std::launch::async, [&] { return RunCli({"extract", DataFile("small.chm"), folder}, "."); }));
        for (auto& run : runs) {
            const test::CliRun done = run.get();
            EXPECT_EQ(done.exitStatus, 0) << done.err;
        }
    }
    ExpectSmallExtracted(dir / "out0");
    ExpectSmallExtracted(dir / "out1");
    EXPECT_EQ(RegularFiles(dir / "out0"), 23u);  // no temporary file left
}

// An ordinary user (nobody, when the suite runs as root) extracting twice
// into a folder of its own, where the second run replaces every file, some
// of them links planted by someone else. The build may lie where nobody
// cannot go (root's 0700 home), so nobody runs a copy of the program from
// the test's own folder.
TEST(Extract, AsAnUnprivilegedUserReplacesWhatStandsThere) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string program = dir / "vexmorchm-cli";
    fs::copy_file(test::BuiltCliPath(), program);
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    fs::copy_file(DataFile("small.chm"), dir / "small.chm");
    fs::create_directories(dir / "out");
    test::WriteFile(dir / "victim.txt", "victim bytes");
    fs::create_symlink(dir / "victim.txt", dir / "out/index.html");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((dir / "out").c_str(), 65534, 65534), 0);
    }

    const std::string kOutOfReach = "out of reach";
    const std::optional<std::string> outcome = test::RunUnprivileged([&] {
        // The temporary folder itself may lie below a folder closed to others.
        if (::access(program.c_str(), X_OK) != 0 || ::access((dir / "small.chm").c_str(), R_OK) != 0)
            return kOutOfReach;
        std::string result;
        for (int run = 0; run < 2; ++run) {
            const test::CliRun done = test::RunProgram(program, {"extract", dir / "small.chm", dir / "out"}, dir.path());
            result += std::to_string(done.exitStatus) + " " + done.err;
        }
        return result;
    });
    if (!outcome) GTEST_SKIP() << "running as root and cannot switch to an unprivileged user";
    if (*outcome == kOutOfReach)
        GTEST_SKIP() << "the temporary folder " << dir.path() << " is out of reach for an unprivileged user (set TMPDIR)";

    const std::string summary = "vexmorchm-cli: wrote 23 streams, 1067969 bytes, to " + (dir / "out") + "/\n";
    EXPECT_EQ(*outcome, "0 " + summary + "0 " + summary);
    ExpectSmallExtracted(dir / "out");
    EXPECT_EQ(ReadFile(dir / "victim.txt"), "victim bytes");
    EXPECT_EQ(RegularFiles(dir / "out"), 23u);
}

TEST(Cat, FullOutputIsAFailure) {
    const test::CliRun run = RunCli({"cat", DataFile("small.chm"), "images/random.bin"}, ".", "/dev/full");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, "vexmorchm-cli: Disk full: images/random.bin\n");
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
        FailureCase{"ExtractPatternMatchesNothing", {"extract", kSmall, "a", "b"}, 1,
                    "vexmorchm-cli: no stream matches 'b'\n"},
        FailureCase{"TestMissingFile", {"test", kMissing}, 1, "vexmorchm-cli: File or element not found"},
        FailureCase{"TestNotAHelpFile", {"test", kNotHelp}, 1, "vexmorchm-cli: Not a compiled HTML help file"},
        FailureCase{"TestTakesOneFile", {"test", kSmall, kSmall}, 2, "vexmorchm-cli: wrong number of arguments"},
        FailureCase{"InfoMissingFile", {"info", "--json", kMissing}, 1, "vexmorchm-cli: File or element not found"},
        FailureCase{"InfoNotAHelpFile", {"info", kNotHelp}, 1, "vexmorchm-cli: Not a compiled HTML help file"},
        FailureCase{"JsonOnlyForInfo", {"list", "--json", kSmall}, 2, "vexmorchm-cli: unknown option '--json'"},
        FailureCase{"CatNameEscaped", {"cat", kSmall, "a\n\033[2Jb"}, 1, "vexmorchm-cli: no item a\\n\\033[2Jb in"},
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
    EXPECT_EQ(help.out.rfind("Usage: vexmorchm-cli list [-0] FILE [PATTERN...]\n", 0), 0u);
    EXPECT_EQ(help.err, "");
}

// The usage and the parser come from one table: every command the usage
// shows, with every option it shows for it, gets past the command line and
// fails only on the missing file.
TEST(CommandLine, EveryCommandAndOptionOfTheUsageIsAccepted) {
    const test::CliRun help = RunCli({"--help"}, ".");
    std::vector<std::string> named;
    for (const std::string& line : Lines(help.out)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "Usage:") words >> word;
        if (word != "vexmorchm-cli" || !(words >> word) || word.starts_with("-")) continue;
        std::vector<std::string> args{word};
        named.push_back(word);
        while (words >> word) {
            if (word.starts_with("[-")) args.push_back(word.substr(1, word.size() - 2));
            else if (word == "FILE") args.push_back(kMissing);
            else if (!word.starts_with("[")) args.push_back(word);
        }
        const test::CliRun run = RunCli(args, ".");
        EXPECT_EQ(run.exitStatus, 1) << line << "\n" << run.err;
        EXPECT_TRUE(run.err.starts_with("vexmorchm-cli: File or element not found")) << line << "\n" << run.err;
    }
    EXPECT_EQ(named, (std::vector<std::string>{"list", "extract", "site", "epub", "cat", "test", "info"}));
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
