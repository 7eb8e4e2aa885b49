#include "catalogue/inner_name.h"
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
        block += std::to_string(items[i].Size);
        block += '\t';
        block += InnerPathAndName(items[i].Path, items[i].Name);
        block += '\n';
        if (block.size() >= kFlushAt) {
            WriteStdout(block.data(), block.size());
            block.clear();
        }
    }
    WriteStdout(block.data(), block.size());
    return kExitOk;
}

}  // namespace vexmor::cli
