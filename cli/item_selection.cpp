#include "cli/item_selection.h"

#include "catalogue/inner_name.h"
#include "cli/output.h"
#include "cli/patterns.h"

namespace vexmor::cli {

std::optional<std::vector<bool>> SelectItems(const TChmItems& items, const std::vector<std::string>& patterns) {
    std::vector<std::string> names;
    if (!patterns.empty()) {
        names.reserve(items.Count());
        for (std::size_t i = 0; i < items.Count(); ++i) names.push_back(InnerPathAndName(items[i].Path, items[i].Name));
    } else {
        names.resize(items.Count());
    }
    Selection selection = Select(patterns, names);
    if (!selection.unmatched.empty()) {
        for (const std::string& pattern : selection.unmatched) Message("no stream matches '" + pattern + "'");
        return std::nullopt;
    }
    return std::move(selection.selected);
}

}  // namespace vexmor::cli
