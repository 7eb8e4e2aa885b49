// Exporting from real help files built for the case: the file written to
// while a stream is copied, and streams that share one name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "catalogue/uChmExtractor.h"
#include "tests/common/temp_dir.h"
#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"

namespace vexmor {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using test::ListTree;
using test::ReadFile;
using test::TempDir;

std::string Save(const TempDir& dir, const ts::ChmImage& image) {
    const std::string path = dir / "help.chm";
    test::WriteFile(path, std::string(image.bytes.begin(), image.bytes.end()));
    return path;
}

// After the first block of page.html is copied, writes over later bytes of
// it in the help file and puts the file's times back, as a careful attacker
// would.
class OverwriteWhileCopying : public ExportObserver {
public:
    OverwriteWhileCopying(std::string path, std::uint64_t at) : path_(std::move(path)), at_(at) {}
    bool BeforeItem(const TChmItem& item) override {
        current_ = item.Name;
        return true;
    }
    void Copied(std::uint64_t) override {
        if (done_ || (!current_.empty() && current_ != "page.html")) return;
        done_ = true;
        struct stat before {};
        if (::stat(path_.c_str(), &before) != 0) return;
        ::usleep(20000);  // past a tick of the file system's clock: the change time moves
        const int fd = ::open(path_.c_str(), O_WRONLY);
        if (fd < 0) return;
        written_ = ::pwrite(fd, "CHANGED", 7, static_cast<off_t>(at_)) == 7;
        ::close(fd);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
    }
    bool Written() const { return written_; }

private:
    std::string path_;
    std::uint64_t at_;
    std::string current_;  // empty for Export this, which names no item first
    bool done_ = false;
    bool written_ = false;
};

enum class Way { SaveToFile, ExtractAll };

class ChangedWhileCopied : public ::testing::TestWithParam<Way> {};

TEST_P(ChangedWhileCopied, IsAFailureNamingTheStreamAndWritesNothing) {
    TempDir dir;
    const ts::ChmImage image = ts::BuildChm({{"/page.html", ts::SampleText(50000, 1), 0}});
    const std::string help = Save(dir, image);
    const ts::PlacedEntry* page = image.layout.Find("/page.html");
    ASSERT_NE(page, nullptr);
    TChmExtractor extractor;
    extractor.Open(help);
    const TChmItem* item = nullptr;
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i)
        if (extractor.Items()[i].Name == "page.html") item = &extractor.Items()[i];
    ASSERT_NE(item, nullptr);
    OverwriteWhileCopying observer(help, image.layout.contentOffset + page->offset + 40000);

    std::string message = "no exception";
    try {
        if (GetParam() == Way::SaveToFile)
            item->SaveToFile(dir / "page.html", &observer);
        else
            extractor.Items().ExtractAll(dir / "out", &observer);
    } catch (const std::exception& e) {
        message = e.what();
    }

    ASSERT_TRUE(observer.Written());
    EXPECT_EQ(message, "帮助文件在读取时被改动-page.html (The help file changed while it was being read)");
    EXPECT_FALSE(fs::exists(dir / "page.html"));
    EXPECT_FALSE(fs::exists(dir / "out/page.html"));
}

INSTANTIATE_TEST_SUITE_P(Ways, ChangedWhileCopied, ::testing::Values(Way::SaveToFile, Way::ExtractAll),
                         [](const ::testing::TestParamInfo<Way>& param) {
                             return param.param == Way::SaveToFile ? "SaveToFile" : "ExtractAll";
                         });

// Export this of the second of two streams named alike writes its own bytes.
TEST(SharedName, EachStreamIsExportedWithItsOwnBytes) {
    ts::ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    TempDir dir;
    const std::string help =
        Save(dir, ts::BuildChm({{"/same.txt", ts::ToBytes("first"), 0}, {"/same.txt", ts::ToBytes("second"), 1}}, options));
    TChmExtractor extractor;
    extractor.Open(help);
    std::vector<const TChmItem*> same;
    for (std::size_t i = 0; i < extractor.Items().Count(); ++i)
        if (extractor.Items()[i].Name == "same.txt") same.push_back(&extractor.Items()[i]);
    ASSERT_EQ(same.size(), 2u);

    same[0]->SaveToFile(dir / "first.txt");
    same[1]->SaveToFile(dir / "second.txt");

    EXPECT_EQ(ReadFile(dir / "first.txt"), "first");
    EXPECT_EQ(ReadFile(dir / "second.txt"), "second");
}

}  // namespace
}  // namespace vexmor
