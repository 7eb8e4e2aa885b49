// The book's zip writer: libzip writes a few bytes at a time and goes back
// to each local header once its entry is written; the writer gathers the
// writes into blocks. Whatever the entries' sizes beside a block's bounds,
// the archive must read back as written. Entries made whole are compressed
// by the writer itself and handed to libzip as they are, streamed ones are
// compressed by libzip: both must carry the right size and CRC.
#include <gtest/gtest.h>
#include <zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/target_file.h"
#include "epub/zip_archive.h"
#include "tests/common/temp_dir.h"

namespace vexmor::epubtest {
namespace {

std::string Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// Bytes handed over in pieces, as a help file's stream is.
class StreamedBytes : public epub::EntryContent {
public:
    explicit StreamedBytes(std::string bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t Size() override { return bytes_.size(); }
    void Open() override { at_ = 0; }
    std::size_t Read(unsigned char* buffer, std::size_t count) override {
        const std::size_t n = std::min({count, bytes_.size() - at_, std::size_t{1000}});
        bytes_.copy(reinterpret_cast<char*>(buffer), n, at_);
        at_ += n;
        return n;
    }
    void Close() override {}

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

// The zip CRC-32, bit by bit: a reference apart from the writer's.
std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::vector<std::pair<std::string, std::string>> ReadBack(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> entries;
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (archive == nullptr) {
        ADD_FAILURE() << "libzip cannot open the archive: error " << error;
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
        // One byte more than the size is asked for: the entry must end there.
        std::string bytes(stat.size + 1, '\0');
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        EXPECT_NE(file, nullptr) << stat.name;
        if (file == nullptr) continue;
        EXPECT_EQ(zip_fread(file, bytes.data(), bytes.size()), static_cast<zip_int64_t>(stat.size))
            << stat.name << ": size does not match";
        bytes.resize(stat.size);
        EXPECT_EQ(zip_fclose(file), 0) << stat.name;
        // libzip does not check it on reading.
        EXPECT_EQ(stat.crc, Crc32(bytes)) << stat.name << ": CRC does not match";
        entries.emplace_back(stat.name, std::move(bytes));
    }
    zip_close(archive);
    return entries;
}

TEST(ZipArchive, EntriesAroundTheWriteBlockReadBackAsWritten) {
    test::TempDir dir;
    // Small entries, entries about as large as a block (256 KiB) or a few
    // times larger, stored noise written past the gathering, in turn.
    std::vector<std::pair<std::string, std::string>> written{
        {"mimetype", "application/epub+zip"},
        {"a.txt", std::string(1000, 'a')},
        {"noise-big.bin", Noise((1u << 20) + 4097, 1)},
        {"noise-block.bin", Noise((256u << 10) + 4097, 4)},
        {"d.txt", std::string(300, 'd')},
        {"noise-under.bin", Noise((256u << 10) - 30, 5)},
        {"b.txt", "b"},
        {"noise-edge.bin", Noise((1u << 20) - 30, 2)},
        {"text.xhtml", std::string(3u << 20, 'x')},
        {"noise-huge.bin", Noise(3u << 20, 3)},
        {"c.txt", "c"},
        {"empty.txt", ""},
        {"streamed/text.txt", std::string(70000, 't') + Noise(300, 6)},
        {"streamed/noise.bin", Noise(300000, 7)},
        {"streamed/empty.txt", ""},
    };
    for (int i = 0; i < 200; ++i) written.emplace_back("many/" + std::to_string(i), Noise(7000 + 97 * i, 10 + i));
    {
        const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
        TargetFile file(folder, "book.zip");
        {
            epub::ZipArchive zip(file);
            for (const auto& [name, bytes] : written) {
                if (name.starts_with("streamed/")) zip.Add(name, std::make_unique<StreamedBytes>(bytes));
                else zip.Add(name, bytes, name.starts_with("noise") || name == "mimetype");
            }
            zip.Close();
        }
        file.Commit([](const struct stat&, const std::string&) {});
        ::close(folder);
    }
    const auto read = ReadBack((dir.path() / "book.zip").string());
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].first, written[i].first);
        EXPECT_TRUE(read[i].second == written[i].second) << written[i].first << " differs";
    }
}

}  // namespace
}  // namespace vexmor::epubtest
