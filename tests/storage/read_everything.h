// Test helper: open a help file and read every stream, each on its own, so
// that one damaged stream does not hide the others.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/storage_error.h"

namespace vexmor::test {

struct ReadOutcome {
    std::map<std::string, std::string> streams;  // inner name -> bytes, for those read to the end
    std::vector<storage::EStorageError> failures;  // in the order met; opening the file included
};

// Walks every storage it can open and reads every stream. Only
// EStorageError is caught: anything else escapes and fails the test.
ReadOutcome ReadEverything(const std::string& path);

}  // namespace vexmor::test
