// The file an exported stream is written to: built aside under a temporary
// name (or none) in its folder and put in place of the target only when
// complete, so that nothing standing at the target is ever written through.
#pragma once

#include <sys/stat.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "catalogue/descriptor.h"
#include "catalogue/part_file_guard.h"

namespace vexmor {

// Stores all `count` bytes to the descriptor `fd`, going on after partial
// writes; throws EInOutError (a write that stores nothing counts as "Disk full").
void WriteAll(int fd, const void* data, std::size_t count);

// Which file an entry is: device and inode, and its change time, so that an
// inode number the file system hands out again is not taken for the file
// that had it before.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t changedNs = 0;
    auto operator<=>(const FileStamp&) const = default;
};

FileStamp StampOf(const struct stat& info);

// What stands at `name` in the folder `folder`, looked at without following
// a link; nullopt when nothing does. Throws EInOutError for what may not be
// replaced: a folder, or a regular file that is read-only (no write
// permission bit, whoever the caller is) or that the caller may not write.
std::optional<struct stat> InspectTarget(int folder, const std::string& name);

// Looks at what stands at a target (at `name`, the name given or its
// substitute) before it is replaced; throws to refuse it.
using TargetCheck = std::function<void(const struct stat& existing, const std::string& name)>;

// How the file is kept aside until it is complete.
enum class Aside {
    // A nameless file (O_TMPFILE), or a named one where the file system has
    // none or where nothing could give it a name later (no /proc).
    Nameless,
    Named,     // a hidden file with a unique temporary name
};

class TargetFile {
public:
    // Creates the file that is to take the place of `name` in `folder`, with
    // mode 0666 less the umask. Throws EInOutError. A file under a temporary
    // name is removed if a signal stops the process (RemovePartFilesOnSignals).
    TargetFile(int folder, std::string name, Aside aside = Aside::Nameless);
    // Discards the file unless Commit put it in place.
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    void Write(const void* data, std::size_t count);
    // Stores `count` bytes at `offset` of the file, for a writer that goes
    // back to fill in what it learns later (a zip archive's headers).
    void WriteAt(std::uint64_t offset, const void* data, std::size_t count);
    // Puts the complete file at `name` and closes it. Whatever stands there
    // (a file, a link, a FIFO, a device) is first shown to `check` and
    // InspectTarget, then replaced, never written through; a regular file
    // passes its permission bits on. Returns the stamp of the file now at
    // `name`. On failure the target is as it was.
    // Where the folder refuses `name`, the file is put at its substitute
    // (SubstituteName) instead, which is then shown to `check` likewise.
    FileStamp Commit(const TargetCheck& check);

    // The name the file was put at: the one given, or its substitute.
    const std::string& Name() const { return name_; }

private:
    // Whether the folder refuses a file of this program's own whose name
    // holds the characters of `name` that some targets refuse.
    bool RefusesCharactersOf(const std::string& name) const;
    // A new file under a unique temporary name in the folder.
    Descriptor CreateUnderTemporaryName();
    void SetTemporaryName(std::string name);
    // Puts the file at `name`: 0, or the errno of a failure the folder may
    // give for a name it refuses. Throws for any other failure.
    int PlaceAt(const std::string& name, const TargetCheck& check, FileStamp& stamp);
    // Passes the permission bits of a regular file at `name` on.
    void TakeModeOf(const struct stat& existing);
    // Gives the bytes of the nameless file a temporary name, by copying.
    void CopyToTemporaryName();
    // 0, or the errno of the failed link.
    int LinkNameless(const std::string& linkName);
    void LinkUnderTemporaryName();
    // 0, or the errno of the failed rename.
    int RenameOver(const std::string& name);

    int folder_;
    std::string name_;
    Descriptor file_;
    std::string tempName_;  // empty while the file has no name
    std::unique_ptr<PartFileGuard> guard_;  // while tempName_ is set
};

}  // namespace vexmor
