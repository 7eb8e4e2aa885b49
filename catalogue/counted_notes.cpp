#include "catalogue/counted_notes.h"

namespace vexmor {

void CountedNotes::Add(std::string text) {
    const auto [found, added] = index_.try_emplace(std::move(text), order_.size());
    if (added)
        order_.emplace_back(&found->first, 1);
    else
        ++order_[found->second].second;
}

std::vector<std::string> CountedNotes::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(order_.size());
    for (const auto& [text, times] : order_)
        lines.push_back(times == 1 ? *text : *text + " (" + std::to_string(times) + " times)");
    return lines;
}

}  // namespace vexmor
