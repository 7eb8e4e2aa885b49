// The help file as the reader holds it: opened without waiting on anything
// that is not a regular file, and a file cut while open is a clear read
// fault, never data from past its end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"
#include "tests/common/temp_dir.h"
#include "tests/storage/storage_walk.h"
#include "tests/support/chm_writer.h"
#include "tests/support/hostile_chm.h"
#include "tests/support/temp_file.h"

namespace vexmor::test {
namespace {

namespace ts = testsupport;

// A FIFO that nobody writes to: opening it for reading the usual way waits
// for a writer forever.
TEST(FileSource, AFifoIsRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = dir / "help.chm";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        storage::CreateITStorage()->StgOpenStorage(fifo);
        FAIL() << "a FIFO opened as a help file";
    } catch (const storage::EStorageError& e) {
        EXPECT_EQ(e.ErrorCode(), storage::code::kInvalidHeader);
        EXPECT_NE(std::string(e.what()).find("is not a regular file"), std::string::npos) << e.what();
    }
}

TEST(FileSource, AFileCutWhileOpenIsAReadFault) {
    const std::string bytes(300000, 'x');
    ts::ChmOptions options;
    options.lzx.blockSize = 0x8000;
    ts::TempFile file(ts::BuildChm({{"/big.bin", ts::ToBytes(bytes), 0}}, options).bytes);
    const auto root = storage::CreateITStorage()->StgOpenStorage(file.string());
    const auto stream = root->OpenStream("big.bin");
    ASSERT_EQ(::truncate(file.string().c_str(), 1000), 0);
    try {
        ReadAll(*stream);
        FAIL() << "read past the end of a cut file";
    } catch (const storage::EStorageError& e) {
        EXPECT_EQ(e.ErrorCode(), storage::code::kReadFault);
        EXPECT_NE(std::string(e.what()).find("shorter than when it was opened"), std::string::npos) << e.what();
    }
}

// Written to in place while open (here: the same bytes, a new modification
// time): a stream opened afterwards is a read fault, not bytes the directory
// read at open may not describe. A file replaced by a rename is another
// file: the one held open still reads as it was.
TEST(FileSource, AFileWrittenToWhileOpenFailsAtTheNextStream) {
    TempDir dir;
    const ts::ChmImage image = ts::BuildChm({{"/a.txt", ts::ToBytes("first"), 0}, {"/b.txt", ts::ToBytes("second"), 1}});
    const std::string bytes(image.bytes.begin(), image.bytes.end());
    const std::string replaced = dir / "replaced.chm";
    const std::string touched = dir / "touched.chm";
    WriteFile(replaced, bytes);
    WriteFile(touched, bytes);
    const auto replacedRoot = storage::CreateITStorage()->StgOpenStorage(replaced);
    const auto touchedRoot = storage::CreateITStorage()->StgOpenStorage(touched);
    EXPECT_EQ(ReadAll(*replacedRoot->OpenStream("a.txt")), "first");
    EXPECT_EQ(ReadAll(*touchedRoot->OpenStream("a.txt")), "first");

    const std::string other = dir / "other.chm";
    WriteFile(other, "not a help file");
    ASSERT_EQ(::rename(other.c_str(), replaced.c_str()), 0);
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, touched.c_str(), times, 0), 0);

    EXPECT_EQ(ReadAll(*replacedRoot->OpenStream("b.txt")), "second");
    try {
        touchedRoot->OpenStream("b.txt");
        FAIL() << "a stream of a file written to while open was opened";
    } catch (const storage::EStorageError& e) {
        EXPECT_EQ(e.ErrorCode(), storage::code::kChangedWhileRead);
        EXPECT_NE(std::string(e.what()).find("changed on disk since it was opened"), std::string::npos) << e.what();
    }
}

// Bytes written in place while a stream is read, the modification time put
// back afterwards: the read that reaches the stream's end fails, and so does
// opening a later stream, on the change time that nobody can put back.
TEST(FileSource, BytesWrittenWhileAStreamIsReadFailItsLastReadAndLaterOpens) {
    TempDir dir;
    const std::string path = dir / "help.chm";
    const std::string first(20000, 'a');
    const ts::ChmImage image = ts::BuildChm({{"/a.bin", ts::ToBytes(first), 0}, {"/b.bin", ts::ToBytes("second"), 0}});
    WriteFile(path, std::string(image.bytes.begin(), image.bytes.end()));
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const auto root = storage::CreateITStorage()->StgOpenStorage(path);
    const auto stream = root->OpenStream("a.bin");
    std::string buffer(4096, '\0');
    ASSERT_EQ(stream->Read(buffer.data(), 4096), 4096u);

    // Past a tick of the file system's clock, so that the change time moves.
    ::usleep(20000);
    const ts::PlacedEntry* placed = image.layout.Find("/a.bin");
    ASSERT_NE(placed, nullptr);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "changed", 7, static_cast<off_t>(image.layout.contentOffset + placed->offset + 10000)), 7);
    ::close(fd);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    ASSERT_EQ(stream->Read(buffer.data(), 4096), 4096u);  // not the last read yet
    for (const char* what : {"last read", "later open"}) {
        try {
            if (std::string(what) == "last read")
                ReadAll(*stream);
            else
                root->OpenStream("b.bin");
            FAIL() << what << " of a file written to while it was read";
        } catch (const storage::EStorageError& e) {
            EXPECT_EQ(e.ErrorCode(), storage::code::kChangedWhileRead) << what;
            EXPECT_TRUE(std::string(e.what()).starts_with("The help file changed while it was being read")) << e.what();
        }
    }
}

// Entries of one name are opened each by its own place in the file; a place
// that no entry of the name has is not opened.
TEST(FileSource, AStreamOpensByItsPlacementAmongEntriesOfOneName) {
    ts::ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    ts::TempFile file(ts::BuildChm({{"/same.txt", ts::ToBytes("stored"), 0},
                                    {"/same.txt", ts::ToBytes("compressed"), 1},
                                    {"/other.txt", ts::ToBytes("other"), 0}},
                                   options)
                          .bytes);
    const auto root = storage::CreateITStorage()->StgOpenStorage(file.string());
    std::vector<storage::ElementInfo> same;
    const auto elements = root->EnumElements();
    for (storage::ElementInfo info; elements->Next(info) == storage::kOk;)
        if (info.name == "same.txt") same.push_back(info);
    ASSERT_EQ(same.size(), 2u);

    EXPECT_EQ(ReadAll(*root->OpenStreamAt(same[0].name, same[0].placement)), "stored");
    EXPECT_EQ(ReadAll(*root->OpenStreamAt(same[1].name, same[1].placement)), "compressed");
    storage::Placement nowhere = same[0].placement;
    nowhere.offset += 1;
    for (const auto& [name, placement] : {std::pair{std::string("same.txt"), nowhere},
                                          std::pair{std::string("other.txt"), same[0].placement}}) {
        try {
            root->OpenStreamAt(name, placement);
            FAIL() << name << " opened at a placement it does not have";
        } catch (const storage::EStorageError& e) {
            EXPECT_EQ(e.ErrorCode(), storage::code::kFileNotFound) << e.what();
        }
    }
}

// A header may declare a directory far larger than the chunks written; in a
// sparse file the rest costs nothing to skip, and the entries still list.
TEST(FileSource, ASparseDeclaredDirectoryListsWhatItHolds) {
    TempDir dir;
    const std::string path = dir / "sparse.chm";
    const ts::ChmImage image = ts::BuildChm({{"/ok.txt", ts::ToBytes("fine"), 0}, {"/c.htm", ts::ToBytes("packed"), 1}});
    ts::DeclareSparseDirectory(path, image, 1ull << 30);
    std::map<std::string, std::string> listed;
    WalkStreams(storage::CreateITStorage()->StgOpenStorage(path), [&](const WalkedStream& s) { listed[s.name] = s.bytes; });
    EXPECT_EQ(listed["ok.txt"], "fine");
    EXPECT_EQ(listed["c.htm"], "packed");
}

}  // namespace
}  // namespace vexmor::test
