// The facts of a help file, read from hand-built files: sound, damaged in
// the streams they come from, and without them.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "catalogue/help_file_facts.h"
#include "catalogue/uChmExtractor.h"
#include "tests/common/case_name.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"

namespace vexmor {
namespace {

using testsupport::AppendText;
using testsupport::AppendU16;
using testsupport::AppendU32;
using testsupport::Bytes;
using testsupport::ChmEntry;
using testsupport::ChmImage;

Bytes SystemWithTitle(const std::string& title) {
    Bytes out;
    AppendU32(out, 3);
    AppendU16(out, 3);
    AppendU16(out, static_cast<std::uint16_t>(title.size() + 1));
    AppendText(out, title);
    out.push_back(0);
    return out;
}

struct FactsCase {
    const char* what;
    std::vector<ChmEntry> entries;
    // Damages the built image; may be empty.
    std::function<void(ChmImage&)> damage;
    std::optional<std::string> title;  // nullopt: no #SYSTEM facts expected
    bool lzx;                          // window and section lengths expected
    std::string note;                  // a part of the one note expected; empty: none
};

void PrintTo(const FactsCase& c, std::ostream* out) { *out << c.what; }

class HelpFileFactsTest : public ::testing::TestWithParam<FactsCase> {};

TEST_P(HelpFileFactsTest, ReadsWhatIsSoundAndNotesTheRest) {
    const FactsCase& c = GetParam();
    ChmImage image = testsupport::BuildChm(c.entries);
    if (c.damage) c.damage(image);
    test::TempDir dir;
    const std::string path = dir / "facts.chm";
    test::WriteFile(path, std::string(image.bytes.begin(), image.bytes.end()));

    TChmExtractor extractor;
    extractor.Open(path);
    const HelpFileFacts facts = ReadHelpFileFacts(extractor.Items());

    EXPECT_EQ(facts.streams, extractor.Items().Count());
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i) bytes += extractor.Items()[i].Size;
    EXPECT_EQ(facts.streamBytes.value, bytes);
    EXPECT_FALSE(facts.streamBytes.saturated);
    EXPECT_EQ(facts.fileBytes, image.bytes.size());
    EXPECT_EQ(facts.system ? facts.system->title : std::nullopt, c.title);
    if (c.lzx) {
        ASSERT_TRUE(facts.compressedSection.has_value());
        EXPECT_EQ(facts.compressedSection->windowSize, 1u << 16);
        EXPECT_EQ(facts.compressedSection->resetInterval, 2u * 0x8000);
        EXPECT_EQ(facts.compressedSection->uncompressedLength, image.layout.section1Length);
        EXPECT_EQ(facts.compressedSection->compressedLength, image.layout.content.length);
    } else {
        EXPECT_FALSE(facts.compressedSection.has_value());
    }
    if (c.note.empty()) {
        EXPECT_TRUE(facts.notes.empty()) << facts.notes.front();
    } else {
        ASSERT_EQ(facts.notes.size(), 1u) << facts.notes.front();
        EXPECT_NE(facts.notes[0].find(c.note), std::string::npos) << facts.notes[0];
    }
}

const Bytes kPage = testsupport::ToBytes("<html>page</html>");

// Overwrites `count` bytes of `range` at `at` with 0xEE.
std::function<void(ChmImage&)> Scribble(testsupport::FileRange testsupport::ChmLayout::*range, std::size_t at,
                                        std::size_t count) {
    return [=](ChmImage& image) {
        const std::uint64_t start = (image.layout.*range).offset + at;
        for (std::size_t i = 0; i < count; ++i) image.bytes.at(start + i) = 0xEE;
    };
}

// The #SYSTEM stream's first record header claims more than the stream holds.
void SystemRecordPastTheEnd(ChmImage& image) {
    const testsupport::PlacedEntry* system = image.layout.Find("/#SYSTEM");
    ASSERT_NE(system, nullptr);
    const std::uint64_t at = image.layout.contentOffset + system->offset + 4 + 2;
    image.bytes.at(at) = 0xFF;
    image.bytes.at(at + 1) = 0x7F;
}

INSTANTIATE_TEST_SUITE_P(
    Files, HelpFileFactsTest,
    ::testing::Values(
        FactsCase{"SoundFile",
                  {{"/#SYSTEM", SystemWithTitle("Manual"), 0}, {"/index.html", kPage, 1}},
                  nullptr, "Manual", true, ""},
        FactsCase{"SystemCompressed",
                  {{"/#SYSTEM", SystemWithTitle("Packed"), 1}, {"/index.html", kPage, 1}},
                  nullptr, "Packed", true, ""},
        FactsCase{"NoSystemStream", {{"/index.html", kPage, 1}}, nullptr, std::nullopt, true, "no #SYSTEM stream"},
        FactsCase{"SystemRecordRunsPastTheEnd",
                  {{"/#SYSTEM", SystemWithTitle("Lost"), 0}, {"/index.html", kPage, 1}},
                  SystemRecordPastTheEnd, std::nullopt, true, "record 3 claims 32767 bytes"},
        FactsCase{"EverythingStored", {{"/#SYSTEM", SystemWithTitle("Stored"), 0}, {"/index.html", kPage, 0}},
                  nullptr, "Stored", false, ""},
        FactsCase{"ControlDataNotLzx",
                  {{"/#SYSTEM", SystemWithTitle("Manual"), 0}, {"/index.html", kPage, 1}},
                  Scribble(&testsupport::ChmLayout::controlData, 4, 4), "Manual", false,
                  "LZXC signature is missing"},
        // The header length points far past the table.
        FactsCase{"ResetTableDamaged",
                  {{"/#SYSTEM", SystemWithTitle("Manual"), 0}, {"/index.html", kPage, 1}},
                  Scribble(&testsupport::ChmLayout::resetTable, 12, 4), "Manual", false,
                  "the reset table: it ends too early"}),
    test::CaseName<FactsCase>);

}  // namespace
}  // namespace vexmor
