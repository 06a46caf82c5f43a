// A set of node ids given by the caller, asked only for membership. Pure C++.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "errors.hpp"

namespace kestrane {

// A sorted vector serves: the set is built once per call and never changes.
class IdSet {
public:
    IdSet() = default;
    explicit IdSet(std::vector<NodeId> ids) : ids_(std::move(ids)) { std::sort(ids_.begin(), ids_.end()); }
    bool empty() const { return ids_.empty(); }
    bool contains(NodeId x) const { return std::binary_search(ids_.begin(), ids_.end(), x); }

private:
    std::vector<NodeId> ids_;
};

}  // namespace kestrane
