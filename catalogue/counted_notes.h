// Notes on what a file holds, each text kept once with the number of times
// it came up: a small file can repeat one fault hundreds of thousands of
// times, and one line says that as well as all of them.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vexmor {

class CountedNotes {
public:
    void Add(std::string text);
    // In the order each text first came up; one that came up more than once
    // ends in " (N times)".
    std::vector<std::string> Lines() const;

private:
    std::unordered_map<std::string, std::size_t> index_;     // text to its place in `order_`
    std::vector<std::pair<const std::string*, std::uint64_t>> order_;  // the map's own keys: they never move
};

}  // namespace vexmor
