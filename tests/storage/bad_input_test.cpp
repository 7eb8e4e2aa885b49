// Damaged and hostile files end in the reader's exception with a clear
// message: never a crash, a hang, wrong bytes passed off as right, or an
// allocation sized by an unchecked number.
#include <sys/resource.h>

#include <functional>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "platform/storage/storage_error.h"
#include "tests/common/case_name.h"
#include "tests/common/fixture_files.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/common/temp_dir.h"
#include "tests/storage/chm_bytes.h"
#include "tests/storage/read_everything.h"

namespace vexmor::test {
namespace {

using storage::EStorageError;
namespace code = storage::code;

const std::string kSmall = DataFile("small.chm");
const char kControlData[] = "::DataSpace/Storage/MSCompressed/ControlData";
const char kResetTable[] =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
const char kContent[] = "::DataSpace/Storage/MSCompressed/Content";

std::map<std::string, ManifestEntry> ExpectedHashes() { return ByInnerName(ReadManifest(DataFile("small.sha256"))); }

// What a read of a damaged file may deliver: streams that read to the end
// carry exactly their true bytes. The section machinery under ::DataSpace is
// left out: damage there changes those stored streams themselves.
void ExpectNoWrongBytes(const ReadOutcome& outcome, const std::map<std::string, ManifestEntry>& hashes,
                        const std::string& what) {
    for (const auto& [name, bytes] : outcome.streams) {
        auto expected = hashes.find(name);
        if (expected == hashes.end() || name.rfind("::DataSpace/", 0) == 0) continue;
        EXPECT_EQ(Sha256Hex(bytes), expected->second.sha256) << what << ": " << name;
    }
}

TEST(BadInput, EveryTruncationFailsCleanlyAndNeverDeliversWrongBytes) {
    const std::string whole = ReadFile(kSmall);
    const auto hashes = ExpectedHashes();
    TempDir dir;
    const std::string path = dir / "cut.chm";
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < 8192; ++n) lengths.push_back(n);
    for (std::size_t n = 8192; n < whole.size(); n += 997) lengths.push_back(n);
    lengths.push_back(whole.size() - 1);
    for (std::size_t length : lengths) {
        WriteFile(path, whole.substr(0, length));
        const ReadOutcome outcome = ReadEverything(path);
        ASSERT_FALSE(outcome.failures.empty()) << "a file cut to " << length << " bytes read without complaint";
        ExpectNoWrongBytes(outcome, hashes, "cut to " + std::to_string(length));
    }
}

// Mutations are seeded, so a failure names a reproducible case.
TEST(BadInput, RandomByteChangesEndInTheReadersException) {
    const ChmBytes pristine = ChmBytes::Load(kSmall);
    struct Region {
        const char* name;
        std::size_t begin, end;
    };
    const std::size_t contentAt = pristine.StoredAt(kContent);
    const Region regions[] = {
        {"header", 0, pristine.layout.itspOffset + 0x54},
        {"directory", pristine.FirstChunkAt(), pristine.FirstChunkAt() + pristine.layout.chunkSize},
        {"compressed data", contentAt, contentAt + static_cast<std::size_t>(pristine.Entry(kContent).length)},
    };
    TempDir dir;
    const std::string path = dir / "mutated.chm";
    std::mt19937 random(20261210);
    for (const Region& region : regions) {
        for (int round = 0; round < 150; ++round) {
            std::string bytes = pristine.bytes;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int c = 0; c < changes; ++c)
                bytes[region.begin + random() % (region.end - region.begin)] = static_cast<char>(random());
            WriteFile(path, bytes);
            // Only the reader's exception may escape; the outcome itself can be anything.
            ReadEverything(path);
        }
    }
#if !defined(__SANITIZE_ADDRESS__)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "peak resident memory in KiB";
#endif
}

struct DamageCase {
    const char* what;
    std::function<void(ChmBytes&)> damage;
    std::uint32_t code;
    const char* message;  // a part of the message the user reads
};

class Damage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(Damage, EndsInTheReadersExceptionWithAClearMessage) {
    const DamageCase& c = GetParam();
    ChmBytes chm = ChmBytes::Load(kSmall);
    c.damage(chm);
    TempDir dir;
    WriteFile(dir / "damaged.chm", chm.bytes);
    const ReadOutcome outcome = ReadEverything(dir / "damaged.chm");
    ASSERT_FALSE(outcome.failures.empty()) << c.what;
    const EStorageError& first = outcome.failures.front();
    EXPECT_EQ(first.ErrorCode(), c.code) << c.what << ": " << first.what();
    EXPECT_NE(std::string(first.what()).find(c.message), std::string::npos) << c.what << ": " << first.what();
    ExpectNoWrongBytes(outcome, ExpectedHashes(), c.what);
}

std::size_t ResetEntry(const ChmBytes& chm, std::size_t index) { return chm.StoredAt(kResetTable) + 0x28 + 8 * index; }

// Widens a stream's declared length to the largest number of the same width.
void StretchLength(ChmBytes& chm, const std::string& name) {
    const testsupport::ProbedEntry& e = chm.Entry(name);
    for (std::size_t i = 0; i < e.lengthBytes; ++i)
        chm.bytes[e.lengthAt + i] = static_cast<char>(i + 1 < e.lengthBytes ? 0xFF : 0x7F);
}

const DamageCase kDamageCases[] = {
    {"not a help file", [](ChmBytes& c) { c.bytes.replace(0, 4, "ITSX"); }, code::kInvalidHeader, "Not a compiled HTML help file"},
    {"unknown version", [](ChmBytes& c) { c.PutU32(4, 9); }, code::kNotImplemented, "version 9"},
    {"directory past the end", [](ChmBytes& c) { c.PutU64(0x48, 1ull << 40); }, code::kDamaged, "directory lies outside"},
    {"chunk size 0", [](ChmBytes& c) { c.PutU32(c.layout.itspOffset + 0x10, 0); }, code::kDamaged, "chunk size 0 is out of range"},
    {"chunk size enormous", [](ChmBytes& c) { c.PutU32(c.layout.itspOffset + 0x10, 0xFFFFFFF0u); }, code::kDamaged, "out of range"},
    {"first listing chunk outside", [](ChmBytes& c) { c.PutU32(c.layout.itspOffset + 0x20, 7); }, code::kDamaged, "lies outside the directory"},
    {"listing chunk links to itself", [](ChmBytes& c) { c.PutU32(c.FirstChunkAt() + 0x10, 0); }, code::kDamaged, "loop"},
    {"listing chunk links outside", [](ChmBytes& c) { c.PutU32(c.FirstChunkAt() + 0x10, 0x7FFFFFFF); }, code::kDamaged, "lies outside the directory"},
    {"free space larger than the chunk", [](ChmBytes& c) { c.PutU32(c.FirstChunkAt() + 4, 0x2000); }, code::kDamaged, "free space"},
    {"window size 0", [](ChmBytes& c) { c.PutU32(c.StoredAt(kControlData) + 16, 0); }, code::kDamaged, "window size 0 is out of range"},
    {"window size 4 MiB", [](ChmBytes& c) { c.PutU32(c.StoredAt(kControlData) + 16, 128); }, code::kDamaged, "window size 4194304 is out of range"},
    {"reset interval 0", [](ChmBytes& c) { c.PutU32(c.StoredAt(kControlData) + 12, 0); }, code::kDamaged, "reset interval 0"},
    {"reset interval enormous", [](ChmBytes& c) { c.PutU32(c.StoredAt(kControlData) + 12, 0xFFFFFFFFu); }, code::kDamaged, "reset interval"},
    {"reset offsets out of order",
     [](ChmBytes& c) {
         const std::uint64_t second = c.GetU64(ResetEntry(c, 2));
         c.PutU64(ResetEntry(c, 2), c.GetU64(ResetEntry(c, 4)));
         c.PutU64(ResetEntry(c, 4), second);
     },
     code::kDamaged, "out of order"},
    {"reset offset out of bounds", [](ChmBytes& c) { c.PutU64(ResetEntry(c, 2), 1ull << 40); }, code::kDamaged, "past the compressed data"},
    {"reset table lists more than it holds", [](ChmBytes& c) { c.PutU32(c.StoredAt(kResetTable) + 4, 0x10000000); }, code::kDamaged, "more entries"},
    {"section length 2^40", [](ChmBytes& c) { c.PutU64(c.StoredAt(kResetTable) + 0x10, 1ull << 40); }, code::kDamaged, "longer than the table covers"},
    {"section length 2^64 - 1", [](ChmBytes& c) { c.PutU64(c.StoredAt(kResetTable) + 0x10, ~0ull); }, code::kDamaged, "longer than the table covers"},
    {"compressed stream past its section", [](ChmBytes& c) { StretchLength(c, "/images/random.bin"); }, code::kDamaged, "runs past the end of the compressed section"},
    {"stored stream past the file", [](ChmBytes& c) { StretchLength(c, kContent); }, code::kDamaged, "runs past the end of the file"},
    {"compressed data zeroed",
     [](ChmBytes& c) { c.bytes.replace(c.StoredAt(kContent), 64, std::string(64, '\0')); },
     code::kDamaged, "The help file is damaged"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Damage, ::testing::ValuesIn(kDamageCases), CaseName<DamageCase>);

TEST(BadInput, MissingFileNotAHelpFileAndDamagedFileGiveDifferentMessages) {
    TempDir dir;
    WriteFile(dir / "plain.chm", std::string(4096, 'x'));
    std::string cut = ReadFile(kSmall);
    cut.resize(0x200);
    WriteFile(dir / "cut.chm", cut);
    struct Case {
        std::string path;
        std::uint32_t code;
        const char* message;
    } cases[] = {
        {dir / "missing.chm", code::kFileNotFound, "File or element not found"},
        {dir.path().string(), code::kAccessDenied, "is a folder"},
        {dir / "plain.chm", code::kInvalidHeader, "Not a compiled HTML help file"},
        {dir / "cut.chm", code::kDamaged, "The help file is damaged"},
    };
    for (const Case& c : cases) {
        const ReadOutcome outcome = ReadEverything(c.path);
        ASSERT_EQ(outcome.failures.size(), 1u) << c.path;
        EXPECT_EQ(outcome.failures[0].ErrorCode(), c.code) << outcome.failures[0].what();
        EXPECT_NE(std::string(outcome.failures[0].what()).find(c.message), std::string::npos) << outcome.failures[0].what();
    }
}

TEST(StorageError, CodesWithoutATextSayOleError) {
    EXPECT_EQ(storage::MessageForCode(0x80070057), "OLE error 80070057");
    EXPECT_EQ(EStorageError(0x8003ABCD).what(), std::string("OLE error 8003ABCD"));
    EXPECT_EQ(EStorageError(code::kDamaged, "chunk 3").what(), std::string("The help file is damaged: chunk 3"));
}

}  // namespace
}  // namespace vexmor::test
