// Names a target folder refuses, and the substitutes written in their place.
// FAT, exFAT and NTFS with Windows names refuse characters that inner names
// of help files hold (every help file has "::DataSpace"); which ones depends
// on the file system, so a name is first tried as it is and substituted only
// when the folder refuses it.
#pragma once

#include <functional>
#include <string>

namespace vexmor {

// The substitute of `name`: every byte such file systems refuse (the control
// bytes 0x01-0x1F, " * : < > ? \ |, and dots and spaces at the end) and the
// percent sign itself are written as "%" and two upper-case hex digits, so
// that decoding each "%XX" gives the name back. Equal to `name` when it holds
// none of them.
std::string SubstituteName(const std::string& name);

// A name of the same kind as `name` for trying a target with: the bytes
// SubstituteName would escape (the percent sign aside) after `stem`, with the
// trailing dots and spaces still at the end.
std::string ProbeNameFor(const std::string& stem, const std::string& name);

// `substitute` decoded: each "%XX" back to its byte.
std::string OriginalName(const std::string& substitute);

// What TryNameThenSubstitute did.
struct NameOutcome {
    int errnum = 0;    // 0, or why the last name tried failed
    std::string name;  // the name used, or the one that failed
};

// Runs `attempt(name)`, which returns 0 or an errno. When that fails in a way
// that may mean the folder refuses the name itself (EINVAL, EPERM, EILSEQ,
// ENOENT),
// the name has a different substitute, and `stands(name)` says nothing stands
// at it (an entry there shows the name is accepted and the failure has
// another cause), the substitute is tried. A substitute that fails the same
// way reports the first failure, on the name as given.
NameOutcome TryNameThenSubstitute(const std::string& name, const std::function<int(const std::string&)>& attempt,
                                  const std::function<bool(const std::string&)>& stands);

}  // namespace vexmor
