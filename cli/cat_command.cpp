#include <array>

#include "catalogue/inner_name.h"
#include "catalogue/item_copy.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "platform/storage/storage_error.h"

namespace vexmor::cli {

namespace {

const TChmItem* FindItem(const TChmItems& items, const std::string& innerPath) {
    for (std::size_t i = 0; i < items.Count(); ++i) {
        if (InnerPathAndName(items[i].Path, items[i].Name) == innerPath) return &items[i];
    }
    return nullptr;
}

}  // namespace

int RunCat(const CatCommand& command) {
    TChmExtractor extractor;
    extractor.Open(command.file);
    const TChmItem* item = FindItem(extractor.Items(), command.innerPath);
    if (item == nullptr) {
        Message("no item " + command.innerPath + " in " + command.file);
        return kExitFailure;
    }
    // Streamed block by block: a stream is never held whole in memory.
    WithItemName(*item, [&] {
        const std::shared_ptr<storage::IStream> stream = item->Storage->OpenStream(item->Name);
        constexpr std::uint32_t kBlock = 64 * 1024;
        std::array<unsigned char, kBlock> buffer;
        for (;;) {
            const std::uint32_t delivered = stream->Read(buffer.data(), kBlock);
            if (delivered > kBlock) {
                throw storage::EStorageError(storage::code::kReadFault, "a stream delivered more bytes than asked");
            }
            WriteStdout(buffer.data(), delivered);
            if (delivered < kBlock) break;
        }
    });
    return kExitOk;
}

}  // namespace vexmor::cli
