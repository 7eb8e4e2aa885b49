#include <charconv>

#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/item_selection.h"
#include "cli/output.h"

namespace vexmor::cli {

namespace {

// The inner path and name as InnerPathAndName joins them, without a string
// of its own for each of possibly tens of thousands of lines.
void AppendInnerName(std::string& block, const TChmItem& item) {
    if (!item.Path.empty()) {
        block += item.Path;
        block += kPathDelim;
    }
    block += item.Name;
}

}  // namespace

int RunList(const ListCommand& command) {
    TChmExtractor extractor;
    extractor.Open(command.file);
    const TChmItems& items = extractor.Items();
    const std::optional<std::vector<bool>> selected = SelectItems(items, command.patterns);
    if (!selected) return kExitFailure;
    // Lines are gathered in blocks; only the catalogue is read, no stream.
    constexpr std::size_t kFlushAt = 64 * 1024;
    std::string block;
    std::string name;
    bool omitted = false;
    for (std::size_t i = 0; i < items.Count(); ++i) {
        if (!(*selected)[i]) continue;
        const TChmItem& item = items[i];
        if (command.nulSeparated) {
            // For scripts: the bytes as stored. A name holding a NUL byte
            // would read as two names, and no file system takes it: left out,
            // and the listing fails.
            const std::size_t start = block.size();
            AppendInnerName(block, item);
            if (block.find('\0', start) != std::string::npos) {
                Message(block.substr(start) + ": holds a NUL byte; left out of the NUL-separated list");
                block.resize(start);
                omitted = true;
                continue;
            }
            block += '\0';
        } else {
            char size[24];
            block.append(size, static_cast<std::size_t>(std::to_chars(size, size + sizeof size, item.Size).ptr - size));
            block += '\t';
            name.clear();
            AppendInnerName(name, item);
            block += EscapeForLine(name);
            block += '\n';
        }
        // The reader lists an entry whose name is no path of folders under its
        // whole stored name, at the root; say so, since export refuses it.
        if (item.Name.find(kPathDelim) != std::string::npos)
            Message(item.Name + ": listed under its stored name, which is no path of folders; it cannot be exported");
        if (block.size() >= kFlushAt) {
            WriteStdout(block.data(), block.size());
            block.clear();
        }
    }
    WriteStdout(block.data(), block.size());
    return omitted ? kExitFailure : kExitOk;
}

}  // namespace vexmor::cli
