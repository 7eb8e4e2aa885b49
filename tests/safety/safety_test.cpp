// The promises vexmorchm-cli makes about hostile or damaged input, checked on
// the built program: the help file is only ever read, nothing is written
// outside the chosen folder whatever the names inside, a stream that
// declares more bytes than the file holds fails with a message, and memory
// stays bounded.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/case_name.h"
#include "tests/common/fixture_files.h"
#include "tests/common/temp_dir.h"
#include "tests/cli/run_cli.h"
#include "tests/support/chm_writer.h"
#include "tests/support/hostile_chm.h"
#include "tests/support/sample_data.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using test::CliRun;
using test::DataFile;
using test::RunCli;
using test::TempDir;

constexpr long kMemoryBoundKiB = 256 * 1024;

void Save(const std::string& path, const ts::Bytes& bytes) { test::WriteFile(path, std::string(bytes.begin(), bytes.end())); }

ts::ChmEntry Entry(std::string name, const std::string& bytes, unsigned section) {
    return {std::move(name), ts::ToBytes(bytes), section};
}

using test::CaseName;

// --- the help file is only read ---

// What happened to one file while a command ran, as the kernel saw it.
class FileWatch {
public:
    explicit FileWatch(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0 && ::inotify_add_watch(fd_, path.c_str(), IN_ALL_EVENTS) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // False where the system offers no file watches (some sandboxes).
    bool Active() const { return fd_ >= 0; }

    // The union of the event masks since the watch began.
    std::uint32_t Events() {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return seen_;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                seen_ |= event->mask;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int fd_;
    std::uint32_t seen_ = 0;
};

struct Snapshot {
    std::string bytes;
    struct stat info {};
};

Snapshot Take(const std::string& path) {
    Snapshot s;
    s.bytes = test::ReadFile(path);
    ::stat(path.c_str(), &s.info);
    return s;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

ts::Bytes HostileNamesChm();

struct InputCase {
    const char* what;
    std::vector<std::string> args;  // "FILE" stands for the help file
};

class InputUntouched : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputUntouched, OpenedReadOnlyAndUnchangedInBytesAndTimes) {
    for (const bool hostile : {false, true}) {
        TempDir dir;
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "work");
        const std::string chm = dir / "in/help.chm";
        if (hostile)
            Save(chm, HostileNamesChm());
        else
            fs::copy_file(DataFile("small.chm"), chm);
        // Times set in the past, so that a rewrite within the same clock tick
        // would still show.
        const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, chm.c_str(), past, 0), 0);
        const Snapshot before = Take(chm);

        std::vector<std::string> args = GetParam().args;
        std::replace(args.begin(), args.end(), std::string("FILE"), chm);
        const std::string what = std::string(GetParam().what) + (hostile ? " (hostile file)" : "");
        {
            FileWatch watch(chm);
            const CliRun run = RunCli(args, dir / "work");
            ASSERT_NE(run.exitStatus, -1) << run.err;
            if (watch.Active()) {
                const std::uint32_t events = watch.Events();
                EXPECT_TRUE(events & IN_CLOSE_NOWRITE) << what << ": the file was never opened for reading";
                EXPECT_FALSE(events & (IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF))
                    << what << ": events 0x" << std::hex << events;
            }
        }
        const Snapshot after = Take(chm);
        EXPECT_EQ(after.bytes, before.bytes) << what;
        EXPECT_TRUE(SameTime(after.info.st_mtim, before.info.st_mtim)) << what;
        EXPECT_TRUE(SameTime(after.info.st_ctim, before.info.st_ctim)) << what;
        EXPECT_EQ(after.info.st_mode, before.info.st_mode) << what;
        EXPECT_EQ(test::ListTree(dir / "in"), std::vector<std::string>{"help.chm"}) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, InputUntouched,
                         ::testing::Values(InputCase{"list", {"list", "FILE"}},
                                           InputCase{"extract", {"extract", "FILE", "out"}},
                                           InputCase{"extract --keep-going", {"extract", "--keep-going", "FILE", "out"}},
                                           InputCase{"cat", {"cat", "FILE", "#SYSTEM"}},
                                           InputCase{"cat of a missing item", {"cat", "FILE", "no/such.htm"}}),
                         CaseName<InputCase>);

// --- nothing outside the chosen folder ---

struct NameCase {
    const char* what;
    std::string name;  // as the directory stores it
    unsigned section;
};

const std::string kLongLevel(255, 'n');  // the longest name a Linux folder takes

std::string DeepName() {
    std::string name;
    for (int level = 0; level < 40; ++level) name += "/" + std::string(200, static_cast<char>('a' + level % 26));
    return name + "/deep.txt";
}

const NameCase kNameCases[] = {
    {"parent", "/../up.txt", 0},
    {"parent after a folder", "/a/../../up2.txt", 1},
    {"many parents", "/../../../../../../../../../../tmp/vexmor-escape.txt", 0},
    {"parent as the name", "/..", 0},
    {"parent as a folder", "/../x/y.txt", 1},
    {"current folder", "/./dot.txt", 0},
    {"current folder as the name", "/.", 0},
    {"current folder inside", "/a/./b.txt", 1},
    {"empty level at the start", "//etc/passwd", 0},
    {"empty level inside", "/a//b.txt", 0},
    {"only separators", "///", 0},
    {"no leading separator, parent", "../rel.txt", 0},
    {"drive letter", "/C:/drive.txt", 0},
    {"backslashes", "\\..\\..\\back.txt", 1},
    {"NUL in the name", std::string("/nul\0.txt", 9), 0},
    {"NUL hiding a parent", std::string("/a\0/../../x.txt", 15), 1},
    {"longest level", "/" + kLongLevel, 0},
    {"level too long", "/" + kLongLevel + "x", 1},
    {"path longer than the system allows", DeepName(), 0},
    {"three dots", "/.../dots.txt", 0},
    {"not UTF-8", "/\xff\xfe/bytes.txt", 1},
};

ts::Bytes ChmWithNames(const std::vector<NameCase>& cases) {
    ts::ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    options.chunkSize = 0x4000;  // room for the deep name
    std::vector<ts::ChmEntry> entries{Entry("/ok.txt", "fine", 0)};
    for (const NameCase& c : cases) entries.push_back(Entry(c.name, "evil", c.section));
    entries.push_back(Entry("/z/last.txt", "last", 1));
    return ts::BuildChm(entries, options).bytes;
}

ts::Bytes HostileNamesChm() { return ChmWithNames({std::begin(kNameCases), std::end(kNameCases)}); }

// Everything below `root` lies inside `inside` (a path relative to root),
// apart from the entries named in `besides` and the levels leading to `inside`.
void ExpectOnlyInside(const fs::path& root, const std::string& inside, const std::vector<std::string>& besides,
                      const std::string& what) {
    for (const std::string& entry : test::ListTree(root)) {
        const bool leadsThere = inside == entry || inside.rfind(entry + "/", 0) == 0;
        const bool below = entry.rfind(inside + "/", 0) == 0;
        const bool allowed = std::find(besides.begin(), besides.end(), entry) != besides.end();
        EXPECT_TRUE(leadsThere || below || allowed) << what << ": " << entry << " lies outside " << inside;
    }
}

class HostileName : public ::testing::TestWithParam<NameCase> {};

TEST_P(HostileName, ExtractWritesNothingOutsideTheFolder) {
    const NameCase& c = GetParam();
    TempDir dir;
    const std::string chm = dir / "hostile.chm";
    Save(chm, ChmWithNames({c}));
    fs::create_directories(dir / "sandbox");
    for (const bool keepGoing : {false, true}) {
        std::vector<std::string> args{"extract", chm, "t/out"};
        if (keepGoing) args.insert(args.begin() + 1, "--keep-going");
        const CliRun run = RunCli(args, dir / "sandbox");
        ASSERT_TRUE(run.exitStatus == 0 || run.exitStatus == 1) << c.what << ": status " << run.exitStatus << "\n" << run.err;
        ExpectOnlyInside(dir.path(), "sandbox/t/out", {"hostile.chm", "sandbox", "sandbox/t"}, c.what);
        EXPECT_EQ(test::ReadFile(dir / "sandbox/t/out/ok.txt"), "fine") << c.what;
        if (keepGoing) {
            EXPECT_EQ(test::ReadFile(dir / "sandbox/t/out/z/last.txt"), "last") << c.what;
        }
    }
    EXPECT_FALSE(fs::exists("/tmp/vexmor-escape.txt"));
}

INSTANTIATE_TEST_SUITE_P(Names, HostileName, ::testing::ValuesIn(kNameCases), CaseName<NameCase>);

// Reading never creates anything, however odd the names.
TEST(HostileName, ListAndCatWriteNothingAtAll) {
    TempDir dir;
    Save(dir / "hostile.chm", HostileNamesChm());
    fs::create_directories(dir / "work");
    EXPECT_EQ(RunCli({"list", dir / "hostile.chm"}, dir / "work").exitStatus, 0);
    EXPECT_EQ(RunCli({"cat", dir / "hostile.chm", "../up.txt"}, dir / "work").out, "evil");
    EXPECT_EQ(test::ListTree(dir.path()), (std::vector<std::string>{"hostile.chm", "work"}));
}

// --- streams that declare more than they hold ---

// Rewrites the length of `name` in the directory to the largest number its
// ENCINT width holds, so the layout of the file stays as it was.
void StretchLength(ts::ChmImage& image, const std::string& name) {
    const ts::PlacedEntry* entry = image.layout.Find(name);
    ASSERT_NE(entry, nullptr) << name;
    std::size_t at = static_cast<std::size_t>(entry->directoryEntryOffset);
    auto skipEncInt = [&] {
        while (image.bytes.at(at) & 0x80) ++at;
        ++at;
    };
    skipEncInt();  // name length
    at += entry->name.size();
    skipEncInt();  // section
    skipEncInt();  // offset
    while (image.bytes.at(at) & 0x80) image.bytes[at++] = 0xFF;
    image.bytes[at] = 0x7F;
}

struct StretchCase {
    const char* what;
    const char* stretched;  // the stream whose length is widened
    const char* innerPath;  // as list shows it
    // What extract says: the widened stream now claims the bytes of the
    // stored streams after it, so that export is refused before writing.
    const char* extractMessage;
    bool othersWritten;
};

class DeclaredTooLarge : public ::testing::TestWithParam<StretchCase> {};

TEST_P(DeclaredTooLarge, FailsWithAMessageAndWritesNothingForIt) {
    const StretchCase& c = GetParam();
    // 3-byte ENCINT lengths, widened to 2 MiB: far beyond a file of a few KiB.
    ts::ChmImage image = ts::BuildChm({Entry("/ok.txt", "fine", 0), Entry("/stored.bin", ts::SampleString(20000, 1), 0),
                                       Entry("/c/packed.htm", ts::SampleString(30000, 2), 1)});
    StretchLength(image, c.stretched);
    ASSERT_LT(image.bytes.size(), 1u << 20);
    TempDir dir;
    const std::string chm = dir / "stretched.chm";
    Save(chm, image.bytes);

    const CliRun cat = RunCli({"cat", chm, c.innerPath}, dir.path());
    EXPECT_EQ(cat.exitStatus, 1) << c.what;
    EXPECT_EQ(cat.out, "") << c.what;
    EXPECT_NE(cat.err.find("runs past the end"), std::string::npos) << c.what << ": " << cat.err;

    const CliRun extract = RunCli({"extract", "--keep-going", chm, "out"}, dir.path());
    EXPECT_EQ(extract.exitStatus, 1) << c.what;
    EXPECT_NE(extract.err.find(c.extractMessage), std::string::npos) << c.what << ": " << extract.err;
    EXPECT_FALSE(fs::exists(dir / ("out/" + std::string(c.innerPath)))) << c.what;
    if (c.othersWritten)
        EXPECT_EQ(test::ReadFile(dir / "out/ok.txt"), "fine") << c.what;
    else
        EXPECT_FALSE(fs::exists(dir / "out")) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Streams, DeclaredTooLarge,
                         ::testing::Values(StretchCase{"stored", "/stored.bin", "stored.bin", "数据重叠的文件-stored.bin 与 ", false},
                                           StretchCase{"compressed", "/c/packed.htm", "c/packed.htm", "runs past the end", true}),
                         CaseName<StretchCase>);

// --- bounded memory ---

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// More decoded data than the reader's span cache holds, in several streams
// read twice over (extract, then cat of each), and the largest span the
// reader accepts.
TEST(Memory, StaysBoundedWhenTheDataOutgrowsTheCache) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers' own memory hides the reader's";
    ts::ChmOptions options;
    options.lzx.windowBits = 21;
    options.lzx.resetIntervalBytes = 16u << 20;
    options.lzx.blockSize = 1u << 20;
    std::vector<ts::ChmEntry> entries;
    for (unsigned i = 0; i < 3; ++i) entries.push_back(Entry("/big" + std::to_string(i) + ".htm", ts::SampleString(12u << 20, i), 1));
    TempDir dir;
    const std::string chm = dir / "big.chm";
    Save(chm, ts::BuildChm(entries, options).bytes);

    const CliRun extract = RunCli({"extract", chm, "out"}, dir.path());
    ASSERT_EQ(extract.exitStatus, 0) << extract.err;
    EXPECT_LT(extract.peakResidentKiB, kMemoryBoundKiB);
    EXPECT_EQ(fs::file_size(dir / "out/big2.htm"), 12u << 20);
    const CliRun cat = RunCli({"cat", chm, "big1.htm"}, dir.path());
    ASSERT_EQ(cat.exitStatus, 0) << cat.err;
    EXPECT_EQ(cat.out.size(), 12u << 20);
    EXPECT_LT(cat.peakResidentKiB, kMemoryBoundKiB);
}

// Files that cost a careless reader gigabytes: names of a million levels,
// a declared directory far beyond what a sparse file holds, streams that
// claim the same bytes thousands of times over.
struct HostileFileCase {
    const char* what;
    void (*save)(const std::string& path);
    int extractStatus;    // -1: not extracted (thousands of deep folders cost the disk, not the reader)
    const char* written;  // a file that extract must write all the same, or nullptr
};

const HostileFileCase kHostileFiles[] = {
    {"a letter and a million slashes",
     [](const std::string& p) { Save(p, ts::NamedChm("/x" + std::string(1000000, '/')).bytes); }, 1, "ok.txt"},
    {"half a million levels", [](const std::string& p) { Save(p, ts::NamedChm(ts::NestedFolders(500000) + "/f").bytes); }, 1,
     "ok.txt"},
    {"every folder of its own", [](const std::string& p) { Save(p, ts::ManyFoldersChm(10000, 100).bytes); }, -1,
     nullptr},
    {"a 2 GiB directory declared in a sparse file",
     [](const std::string& p) { ts::DeclareSparseDirectory(p, ts::BuildChm({Entry("/ok.txt", "fine", 0)}), 2ull << 30); },
     0, "ok.txt"},
    {"streams claiming one MiB 4000 times over", [](const std::string& p) { Save(p, ts::OverlappingChm(4000, 1u << 20).bytes); },
     1, nullptr},
};

class HostileFile : public ::testing::TestWithParam<HostileFileCase> {};

TEST_P(HostileFile, ListAndExtractStayWithinBoundedMemory) {
    const HostileFileCase& c = GetParam();
    // The sanitizers' own memory hides the reader's; the rest still holds.
    const long bound = kSanitized ? LONG_MAX : kMemoryBoundKiB;
    TempDir dir;
    const std::string chm = dir / "hostile.chm";
    c.save(chm);
    const CliRun list = RunCli({"list", chm}, dir.path(), dir / "list.txt");
    EXPECT_EQ(list.exitStatus, 0) << c.what << ": " << list.err.substr(0, 200);
    EXPECT_LT(list.peakResidentKiB, bound) << c.what;
    if (c.extractStatus < 0) return;
    const CliRun extract = RunCli({"extract", "--keep-going", chm, "out"}, dir.path());
    EXPECT_EQ(extract.exitStatus, c.extractStatus) << c.what << ": " << extract.err.substr(0, 200);
    EXPECT_LT(extract.peakResidentKiB, bound) << c.what;
    if (c.written) {
        EXPECT_TRUE(fs::exists(dir / ("out/" + std::string(c.written)))) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFile, ::testing::ValuesIn(kHostileFiles), CaseName<HostileFileCase>);

}  // namespace
}  // namespace vexmor
