#include "catalogue/folder_export.h"

#include "catalogue/folder_rule.h"
#include "catalogue/inner_name.h"
#include "catalogue/storage_order.h"

namespace vexmor {

namespace {

// `folder` with exactly one separator at its end; an empty text is the
// current folder (never the file-system root).
std::string WithTrailingDelim(const std::string& folder) {
    if (folder.empty()) return std::string(".") + kPathDelim;
    if (folder.back() == kPathDelim) return folder;
    return folder + kPathDelim;
}

}  // namespace

FolderExport::FolderExport(const TChmItems& items, const std::string& folder)
    : items_(items), folder_(WithTrailingDelim(folder)), order_(StorageOrder(items)) {}

void FolderExport::Write(const TChmItem& item, ExportObserver* observer) {
    if (!IsSafeInnerName(item.Path, item.Name))
        throw EChmExtractError("不安全的文件名-" + InnerPathAndName(item.Path, item.Name));
    // Root items go into the chosen folder itself, which is created like any
    // inner folder when it is missing.
    std::string targetFolder = folder_;
    if (!item.Path.empty()) targetFolder += item.Path + kPathDelim;
    if (!EnsureFolder(targetFolder)) throw EChmExtractError("不能创建文件夹-" + item.Path);
    item.SaveToFile(targetFolder + item.Name, observer);
}

}  // namespace vexmor
