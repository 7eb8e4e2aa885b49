#include "site/site_names.h"

#include <array>

#include "catalogue/inner_name.h"
#include "catalogue/path_delim.h"

namespace vexmor::site {

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}



bool IsBookkeeping(const TChmItem& item) {
    const std::string_view first = item.Path.empty() ? std::string_view(item.Name) : std::string_view(item.Path);
    return first.starts_with('#') || first.starts_with('$') || first.starts_with("::");
}

SiteNames::SiteNames(const TChmItems& items) {
    for (std::size_t i = 0; i < items.Count(); ++i) {
        const TChmItem& item = items[i];
        if (IsBookkeeping(item)) continue;
        std::string path = InnerPathAndName(item.Path, item.Name);
        folded_.try_emplace(FoldCase(path), path);
        exact_.insert(std::move(path));
        AddWords(item.Name, false);
        std::size_t start = 0;
        while (start < item.Path.size()) {
            std::size_t end = item.Path.find(kPathDelim, start);
            if (end == std::string::npos) end = item.Path.size();
            AddWords(std::string_view(item.Path).substr(start, end - start), true);
            start = end + 1;
        }
    }
}

void SiteNames::AddWords(std::string_view level, bool folder) {
    std::size_t i = 0;
    while (i < level.size()) {
        if (!IsWordByte(static_cast<unsigned char>(level[i]))) {
            namesAreWords_ = false;
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < level.size() && IsWordByte(static_cast<unsigned char>(level[i]))) ++i;
        const std::string word(level.substr(start, i - start));
        // In a link, only the last word of a folder's level comes before '/'.
        if (folder && i == level.size()) {
            AddSpelling(word, folderWords_);
            folderSieve_.Add(word);
        } else {
            if (word.find('.') == std::string::npos) namesWithoutDot_ = true;
            AddSpelling(word, nameWords_);
            nameSieve_.Add(word);
        }
    }
}

std::optional<std::string_view> SiteNames::Find(std::string_view path) const {
    if (const auto exact = exact_.find(std::string(path)); exact != exact_.end()) return *exact;
    if (const auto folded = folded_.find(FoldCase(path)); folded != folded_.end()) return folded->second;
    return std::nullopt;
}

bool SiteNames::IsCaseVariant(std::string_view word, const Spellings& spellings) {
    const auto spelling = spellings.find(FoldCase(word));
    return spelling != spellings.end() && spelling->second != word;
}

void SiteNames::AddSpelling(std::string_view word, Spellings& spellings) {
    const auto [spelling, added] = spellings.try_emplace(FoldCase(word), word);
    if (!added && spelling->second != word) spelling->second.clear();
}

}  // namespace vexmor::site
