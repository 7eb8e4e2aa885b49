#include "catalogue/inner_name.h"
#include "catalogue/item_copy.h"
#include "catalogue/read_plan.h"
#include "catalogue/stream_blocks.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/output.h"

namespace vexmor::cli {

namespace {

// Larger than a file copy's block: fewer writes to stdout, often a pipe.
constexpr std::uint32_t kCatBlock = 64 * 1024;

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
    const std::unique_ptr<storage::ReadAheadPlan> readAhead = PlanReadsOf(*item);
    WithItemName(*item, [&] {
        const std::shared_ptr<storage::IStream> stream = item->Storage->OpenStreamAt(item->Name, item->Placement);
        ReadInBlocks<kCatBlock>(*stream, [](const unsigned char* data, std::uint32_t count) { WriteStdout(data, count); });
    });
    return kExitOk;
}

}  // namespace vexmor::cli
