// Part files that are removed when the process is stopped by a signal.
// Where a file system has no nameless files, an exported stream is written
// under a hidden temporary name until complete; a run stopped by Ctrl+C,
// `kill` or a closed terminal would otherwise leave that file behind.
//
// The files are kept in a table of the process (a signal handler can reach
// nothing else), a few slots wide; a file that finds no free slot is simply
// not removed on a signal.
#pragma once

namespace vexmor {

class PartFileGuard {
public:
    // Notes `name` in the folder `folder` as a part file. The folder must stay
    // open while the guard lives.
    PartFileGuard(int folder, const char* name);
    // Forgets the file: it was put in place or removed.
    ~PartFileGuard();
    PartFileGuard(const PartFileGuard&) = delete;
    PartFileGuard& operator=(const PartFileGuard&) = delete;

private:
    int slot_;  // -1 when no slot was free
};

// Makes SIGINT, SIGTERM and SIGHUP, where they would end the process, first
// remove the part files noted, then end the process by the same signal.
// A signal the process ignores (as under nohup) or handles already is left
// as it is.
void RemovePartFilesOnSignals();

}  // namespace vexmor
