#include "platform/storage/storage_tree.h"

#include <algorithm>
#include <string_view>

namespace vexmor::storage {

namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// True when `path` (the leading '/' removed, no trailing '/') splits into
// at most kMaxLevels non-empty levels.
bool IsPlainPath(std::string_view path, std::size_t maxLevels) {
    std::size_t levels = 0;
    for (std::string_view rest = path;;) {
        const std::size_t slash = rest.find('/');
        if (slash == 0 || rest.empty() || ++levels > maxLevels) return false;
        if (slash == std::string_view::npos) return true;
        rest.remove_prefix(slash + 1);
    }
}

}  // namespace

StorageTree::StorageTree(const std::vector<DirectoryEntry>& entries) : nodes_(1) {
    // Listing order puts the entries of one folder together: the folder of
    // the previous entry is looked up once, not once per entry.
    std::string_view lastFolder;
    std::size_t lastFolderNode = kRoot;
    const std::size_t maxNodes = kBaseNodes + kNodesPerEntry * entries.size();
    for (std::size_t e = 0; e < entries.size(); ++e) {
        std::string_view name = entries[e].name;
        if (!name.empty() && name.front() == '/') name.remove_prefix(1);
        // An empty name is the root itself.
        const bool onlyStorages = name.empty() || name.back() == '/';
        if (!name.empty() && onlyStorages) name.remove_suffix(1);
        const bool hasData = entries[e].length > 0;
        if ((onlyStorages && hasData) || !IsPlainPath(name, kMaxLevels)) {
            if (hasData || !onlyStorages) AddStream(kRoot, entries[e].name, e);
            continue;
        }
        if (onlyStorages) {
            Storage(name, maxNodes);  // no data: past the bound there is nothing to list
            continue;
        }
        const std::size_t lastSlash = name.rfind('/');
        const std::string_view folder = lastSlash == std::string_view::npos ? std::string_view() : name.substr(0, lastSlash);
        const std::string_view leaf = lastSlash == std::string_view::npos ? name : name.substr(lastSlash + 1);
        std::optional<std::size_t> node = kRoot;
        if (!folder.empty() && folder == lastFolder) {
            node = lastFolderNode;
        } else if (!folder.empty()) {
            node = Storage(folder, maxNodes);
            if (!node) {
                AddStream(kRoot, entries[e].name, e);
                continue;
            }
            lastFolder = folder;
            lastFolderNode = *node;
        }
        AddStream(*node, leaf, e);
    }
}

std::optional<std::size_t> StorageTree::Storage(std::string_view path, std::size_t maxNodes) {
    std::size_t node = kRoot;
    std::string_view rest = path;
    auto next = [&rest](std::size_t slash) { rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1); };
    while (!rest.empty()) {  // down the levels that exist
        const std::size_t slash = rest.find('/');
        const auto found = storageByName_.find({node, rest.substr(0, slash)});
        if (found == storageByName_.end()) break;
        node = nodes_[node].children[found->second].index;
        next(slash);
    }
    if (rest.empty()) return node;
    const auto missing = static_cast<std::size_t>(std::count(rest.begin(), rest.end(), '/')) + 1;
    if (missing > maxNodes - nodes_.size()) return std::nullopt;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        node = StorageChild(node, rest.substr(0, slash));
        next(slash);
    }
    return node;
}

std::size_t StorageTree::StorageChild(std::size_t parent, std::string_view name) {
    StorageNode& node = nodes_[parent];
    const auto [found, added] = storageByName_.try_emplace({parent, name}, node.children.size());
    if (!added) return node.children[found->second].index;
    const std::size_t child = nodes_.size();
    node.children.push_back({name, true, child});
    nodes_.emplace_back();  // invalidates `node`
    return child;
}

void StorageTree::AddStream(std::size_t parent, std::string_view name, std::size_t entry) {
    nodes_[parent].children.push_back({name, false, entry});
}

const StorageNode::Child* StorageTree::Find(std::size_t node, const std::string& name, bool storage) const {
    const StorageNode& n = nodes_[node];
    if (storage) {
        if (auto found = storageByName_.find({node, name}); found != storageByName_.end())
            return &n.children[found->second];
    } else {
        if (!n.streamByName) {
            n.streamByName = std::make_unique<std::unordered_map<std::string_view, std::size_t>>();
            for (std::size_t i = 0; i < n.children.size(); ++i)
                if (!n.children[i].isStorage) n.streamByName->emplace(n.children[i].name, i);
        }
        if (auto found = n.streamByName->find(name); found != n.streamByName->end()) return &n.children[found->second];
    }
    for (const StorageNode::Child& child : n.children) {
        if (child.isStorage != storage) continue;
        if (EqualsIgnoringAsciiCase(child.name, name)) return &child;
    }
    return nullptr;
}

}  // namespace vexmor::storage
