// A page parsed by gumbo within a budget of processor time. Gumbo takes time
// that grows with the square of the nesting depth (80 000 nested <ul> take
// over a minute), so a hostile page is given up on rather than parsed.
#pragma once

#include <gumbo.h>

#include <memory>
#include <string_view>

namespace vexmor::site {

// Processor time one page may take to parse; real pages take milliseconds.
inline constexpr double kParseSecondsLimit = 2.0;

class HtmlTree {
public:
    // nullptr when the parse ran over `seconds` of this thread's processor time.
    static std::unique_ptr<HtmlTree> Parse(std::string_view text, double seconds = kParseSecondsLimit);
    ~HtmlTree();
    HtmlTree(const HtmlTree&) = delete;
    HtmlTree& operator=(const HtmlTree&) = delete;

    const GumboNode* Document() const { return output_->document; }
    const GumboNode* Root() const { return output_->root; }

    struct Allocations;  // every block gumbo holds, freed together on give-up

private:
    HtmlTree() = default;
    std::unique_ptr<Allocations> allocations_;
    GumboOutput* output_ = nullptr;
};

}  // namespace vexmor::site
