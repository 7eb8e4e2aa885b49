#include "tests/support/huffman_code.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <stdexcept>
#include <utility>

namespace vexmor::testsupport {
namespace {

// Plain Huffman depths; unused symbols get 0.
std::vector<unsigned> HuffmanDepths(const std::vector<std::uint64_t>& counts) {
    struct Node {
        std::uint64_t weight;
        int left;
        int right;
    };
    std::vector<Node> nodes;
    using Item = std::pair<std::uint64_t, int>;  // weight, node index
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
    for (std::size_t s = 0; s < counts.size(); ++s) {
        if (counts[s] == 0) continue;
        nodes.push_back({counts[s], -1, static_cast<int>(s)});
        queue.emplace(counts[s], static_cast<int>(nodes.size() - 1));
    }
    while (queue.size() > 1) {
        const auto [wa, a] = queue.top();
        queue.pop();
        const auto [wb, b] = queue.top();
        queue.pop();
        nodes.push_back({wa + wb, a, b});
        queue.emplace(wa + wb, static_cast<int>(nodes.size() - 1));
    }
    std::vector<unsigned> depths(counts.size(), 0);
    if (nodes.empty()) return depths;
    std::vector<std::pair<int, unsigned>> stack{{static_cast<int>(nodes.size() - 1), 0u}};
    while (!stack.empty()) {
        const auto [index, depth] = stack.back();
        stack.pop_back();
        const Node& node = nodes[static_cast<std::size_t>(index)];
        if (node.left < 0) {
            depths[static_cast<std::size_t>(node.right)] = depth;
        } else {
            stack.emplace_back(node.left, depth + 1);
            stack.emplace_back(node.right, depth + 1);
        }
    }
    return depths;
}

}  // namespace

std::vector<std::uint8_t> BuildCodeLengths(std::span<const std::uint64_t> counts, unsigned maxLength) {
    if (counts.size() < 2) throw std::invalid_argument("a code needs at least two symbols");
    if (maxLength == 0 || maxLength > 16) throw std::invalid_argument("code lengths go up to 16");
    const auto used = static_cast<std::size_t>(std::count_if(counts.begin(), counts.end(), [](auto c) { return c != 0; }));
    if (used > (std::size_t{1} << maxLength)) throw std::invalid_argument("too many used symbols for the length limit");

    std::vector<std::uint64_t> work(counts.begin(), counts.end());
    if (used == 1) {
        // A second leaf keeps the code complete.
        const auto lone = static_cast<std::size_t>(std::find_if(work.begin(), work.end(), [](auto c) { return c != 0; }) - work.begin());
        work[lone == 0 ? 1 : 0] = 1;
    }

    // Halving the weights flattens the tree until it fits the limit.
    for (;;) {
        const auto depths = HuffmanDepths(work);
        if (*std::max_element(depths.begin(), depths.end()) <= maxLength) {
            std::vector<std::uint8_t> lengths(depths.size());
            std::transform(depths.begin(), depths.end(), lengths.begin(), [](unsigned d) { return static_cast<std::uint8_t>(d); });
            return lengths;
        }
        for (auto& c : work) {
            if (c != 0) c = (c + 1) / 2;
        }
    }
}

std::vector<std::uint16_t> CanonicalCodes(std::span<const std::uint8_t> lengths) {
    std::vector<std::uint16_t> codes(lengths.size(), 0);
    std::uint32_t next = 0;
    for (unsigned length = 1; length <= 16; ++length) {
        for (std::size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == length) codes[s] = static_cast<std::uint16_t>(next++);
        }
        next <<= 1;
    }
    return codes;
}

}  // namespace vexmor::testsupport
