// The storage view of a directory: split every name at '/'; each component
// but the last names a storage, the last a stream (a name ending in '/'
// names storages only). Children keep the order of first occurrence.
//
// An entry whose name is no such path is listed at the root under its whole
// stored name, so that it is seen and opens by that name, and costs no node
// for each of its levels: a name with an empty level ("/a//b"), a name
// ending in '/' that carries data, or one of more than kMaxLevels levels.
// Such names are never folder paths the program could build. So is an
// entry whose new folders would take the tree past kBaseNodes +
// kNodesPerEntry storages per entry: memory follows the entries, not the
// levels of their names. A folder entry (no data) of either kind is left
// out: it holds nothing to list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/storage/itsf_directory.h"

namespace vexmor::storage {

// Names are views into the directory's bytes, which outlive the tree.
struct StorageNode {
    struct Child {
        std::string_view name;
        bool isStorage = false;
        std::size_t index = 0;  // a node of the tree, or an entry of the directory
    };
    std::vector<Child> children;
    // Exact stream names to positions in `children`; the first one of a name
    // wins. Built on the first look-up only: listing never needs it.
    mutable std::unique_ptr<std::unordered_map<std::string_view, std::size_t>> streamByName;
};

class StorageTree {
public:
    explicit StorageTree(const std::vector<DirectoryEntry>& entries);

    static constexpr std::size_t kRoot = 0;
    // Far beyond any help file's folders; bounds the nodes a name can cost.
    static constexpr std::size_t kMaxLevels = 256;
    // Real files have far fewer folders than entries; writers list each
    // folder as an entry of its own.
    static constexpr std::size_t kBaseNodes = 4096;
    static constexpr std::size_t kNodesPerEntry = 2;
    const StorageNode& Node(std::size_t index) const { return nodes_[index]; }

    // The child of `node` with exactly `name`, or failing that the first one
    // equal without regard to ASCII case; nullptr when there is none.
    const StorageNode::Child* Find(std::size_t node, const std::string& name, bool storage) const;

private:
    // A storage's child storage by exact name: one index for the whole tree,
    // not a table in every node.
    struct ChildKey {
        std::size_t parent;
        std::string_view name;
        bool operator==(const ChildKey&) const = default;
    };
    struct ChildKeyHash {
        std::size_t operator()(const ChildKey& key) const noexcept {
            return std::hash<std::string_view>()(key.name) ^ (key.parent * 0x9E3779B97F4A7C15u);
        }
    };

    std::size_t StorageChild(std::size_t parent, std::string_view name);
    // The storage at `path` (levels joined with '/', none empty), its missing
    // levels created unless that would take the tree past `maxNodes`.
    std::optional<std::size_t> Storage(std::string_view path, std::size_t maxNodes);
    void AddStream(std::size_t parent, std::string_view name, std::size_t entry);

    std::vector<StorageNode> nodes_;
    std::unordered_map<ChildKey, std::size_t, ChildKeyHash> storageByName_;  // to positions in `children`
};

}  // namespace vexmor::storage
