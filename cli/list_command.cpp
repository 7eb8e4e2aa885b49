#include <charconv>

#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/output.h"

namespace vexmor::cli {

int RunList(const ListCommand& command) {
    TChmExtractor extractor;
    extractor.Open(command.file);
    // Lines are gathered in blocks; only the catalogue is read, no stream.
    constexpr std::size_t kFlushAt = 64 * 1024;
    std::string block;
    const TChmItems& items = extractor.Items();
    for (std::size_t i = 0; i < items.Count(); ++i) {
        const TChmItem& item = items[i];
        char size[24];
        block.append(size, static_cast<std::size_t>(std::to_chars(size, size + sizeof size, item.Size).ptr - size));
        block += '\t';
        // The inner path and name as InnerPathAndName joins them, without a
        // string of its own for each of possibly tens of thousands of lines.
        if (!item.Path.empty()) {
            block += item.Path;
            block += kPathDelim;
        }
        block += item.Name;
        block += '\n';
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
    return kExitOk;
}

}  // namespace vexmor::cli
