#include "tests/storage/read_everything.h"

#include <memory>

#include "platform/storage/storage.h"
#include "tests/storage/storage_walk.h"

namespace vexmor::test {

namespace {

void Walk(storage::IStorage& storage, const std::string& prefix, ReadOutcome& outcome) {
    auto elements = storage.EnumElements();
    storage::ElementInfo info;
    while (elements->Next(info) == storage::kOk) {
        try {
            if (info.type == storage::ElementType::Storage)
                Walk(*storage.OpenStorage(info.name), prefix + info.name + "/", outcome);
            else
                outcome.streams[prefix + info.name] = ReadAll(*storage.OpenStream(info.name));
        } catch (const storage::EStorageError& e) {
            outcome.failures.push_back(e);
        }
    }
}

}  // namespace

ReadOutcome ReadEverything(const std::string& path) {
    ReadOutcome outcome;
    try {
        auto root = storage::CreateITStorage()->StgOpenStorage(path);
        Walk(*root, "", outcome);
    } catch (const storage::EStorageError& e) {
        outcome.failures.push_back(e);
    }
    return outcome;
}

}  // namespace vexmor::test
