// A private folder for one fuzzing process, where each input is written as a
// file (the reader opens files by path). Placed under $TMPDIR when set, else
// under /dev/shm when it exists, else under /tmp; removed with everything in
// it on destruction. libFuzzer ends without running destructors, so its
// scripts point TMPDIR at a folder they remove themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexmor::fuzz {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    // `Path()/name`, holding exactly `size` bytes of `data`.
    std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) const;

private:
    std::string path_;
};

// Removes `path` and everything below it, without following symbolic links.
void RemoveTree(const std::string& path);

}  // namespace vexmor::fuzz
