// What extract and site tell of an export: the folder named after the file,
// the bytes written, the summary line and each failure's text.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <vector>
#include <optional>
#include <string>
#include <utility>

#include "catalogue/byte_total.h"
#include "catalogue/uChmExtractor.h"
#include "cli/progress.h"

namespace vexmor::cli {

// The file's name without folder and extension, as a folder of the current
// one; empty when the name gives no usable folder name.
std::string FolderNamedAfter(const std::string& file);

// Counts the bytes stored in the current item's file; they count as written
// only once the item's file is in place. Says on stderr where an item was
// written under another name.
class ByteCounter : public ExportObserver {
public:
    explicit ByteCounter(ExportProgress& progress) : progress_(progress) {}
    void Copied(std::uint64_t bytes) override { bytes_ += bytes; }
    void Renamed(const TChmItem& item, const std::string& writtenAs) override;
    std::uint64_t Take() { return std::exchange(bytes_, 0); }

private:
    ExportProgress& progress_;
    std::uint64_t bytes_ = 0;
};

struct Tally {
    std::size_t written = 0;
    std::size_t failed = 0;
    ByteTotal bytes;
};

std::string Summary(const Tally& tally, std::size_t total, const std::string& folder, bool stopped);

// Writes the items `order` lists, in that order, through `write`, with the
// progress line on a terminal and a message for each failure. Stops at the
// first failure unless `keepGoing`, then prints the summary itself and
// gives nullopt; otherwise gives the tally for the caller's summary.
std::optional<Tally> WriteItems(const TChmItems& items, const std::vector<std::size_t>& order,
                                const std::string& folder, bool keepGoing,
                                const std::function<void(const TChmItem&, ExportObserver&)>& write);

// The catalogue's and the file layer's failures name the item themselves;
// anything else (out of memory, ...) is given the name here.
std::string FailureText(const TChmItem& item, const std::exception& e);

// Checks the folder operand of an export and gives the folder to write to
// (ending in '/'), or nullopt after a message; `status` is then the exit
// status. `named` is the operand, empty for the default; `what` the
// command's work as the message names it ("extract").
std::optional<std::string> ExportFolder(const std::string& file, const std::string& named, const std::string& what,
                                        int& status);

}  // namespace vexmor::cli
