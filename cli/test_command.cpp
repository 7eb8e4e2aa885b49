#include <exception>
#include <new>
#include <vector>

#include "catalogue/byte_total.h"
#include "catalogue/inner_name.h"
#include "catalogue/read_plan.h"
#include "catalogue/storage_order.h"
#include "catalogue/stream_blocks.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/output.h"

namespace vexmor::cli {

namespace {

constexpr std::uint32_t kTestBlock = 64 * 1024;

void PrintLine(const std::string& line) {
    const std::string text = line + "\n";
    WriteStdout(text.data(), text.size());
}

// Why `item`'s stream is damaged, or empty when it reads whole: every byte
// decoded, exactly as many as the directory states.
std::string DamageOf(const TChmItem& item) {
    std::uint64_t delivered = 0;
    try {
        const std::shared_ptr<storage::IStream> stream = item.Storage->OpenStreamAt(item.Name, item.Placement);
        ReadInBlocks<kTestBlock>(*stream, [&](const unsigned char*, std::uint32_t count) { delivered += count; });
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    }
    if (delivered != item.Size)
        return "delivered " + std::to_string(delivered) + " of its " + std::to_string(item.Size) + " bytes";
    return {};
}

}  // namespace

int RunTest(const TestCommand& command) {
    TChmExtractor extractor;
    extractor.Open(command.file);
    const TChmItems& items = extractor.Items();
    std::vector<std::size_t> order;
    try {
        order = StorageOrder(items);
    } catch (const EChmExtractError& e) {
        // Streams that claim the same bytes could make a small file decode
        // without end: the file is damaged, and not decoded.
        PrintLine(EscapeForLine(e.what()));
        PrintLine(std::to_string(items.Count()) + " streams: not tested, the file is damaged");
        return kExitFailure;
    }
    // Decoded ahead on the other cores while this thread checks the streams.
    const std::unique_ptr<storage::ReadAheadPlan> plan = PlanReadsOf(items, order);
    std::size_t damaged = 0;
    ByteTotal bytes;
    for (const std::size_t index : order) {
        const TChmItem& item = items[index];
        const std::string damage = DamageOf(item);
        if (damage.empty()) {
            bytes += item.Size;
            continue;
        }
        ++damaged;
        PrintLine(EscapeForLine(InnerPathAndName(item.Path, item.Name)) + ": " + EscapeForLine(damage));
    }
    if (damaged == 0) {
        PrintLine(std::to_string(items.Count()) + " streams, " + ByteTotalText(bytes) + " bytes: all good");
        return kExitOk;
    }
    PrintLine(std::to_string(items.Count()) + " streams: " + std::to_string(damaged) + " damaged");
    return kExitFailure;
}

}  // namespace vexmor::cli
