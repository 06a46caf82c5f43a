// Node records and the node array. Pure C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "id_list.hpp"
#include "node_blocks.hpp"

namespace kestrane {

enum class Kind : uint8_t { Value = 0, Op = 1 };

// A node's kind and its payload: a value node carries a val_id and a type_id,
// an operator an op_id. The kind is stored once, here.
struct Payload {
    Kind tag;
    uint32_t a;  // val_id, or op_id
    uint32_t b;  // type_id (value payload only)

    static Payload value(uint32_t val_id, uint32_t type_id) { return {Kind::Value, val_id, type_id}; }
    static Payload op(uint32_t op_id) { return {Kind::Op, op_id, 0}; }
    bool is_value() const { return tag == Kind::Value; }
    bool is_op() const { return tag == Kind::Op; }
    uint32_t val_id() const { return a; }
    uint32_t type_id() const { return b; }
    uint32_t op_id() const { return a; }
};

// 64 bytes: in a large (page-aligned) node array, every node is one cache line.
struct Node {
    Link parent_link = kNoLink;  // on an operator: the value node above it
    Payload payload{};
    IdList parents;   // on a value node: operators above it
    IdList options;   // on a value node: operators below it
    IdList children;  // on an operator: value nodes below it

    Kind kind() const { return payload.tag; }
    bool is_value() const { return payload.is_value(); }
    bool is_op() const { return payload.is_op(); }
    bool has_parent() const { return parent_link != kNoLink; }
    NodeId parent() const { return parent_link; }
    void set_parent(NodeId p) { parent_link = static_cast<Link>(p); }
    void clear_parent() { parent_link = kNoLink; }
};

static_assert(sizeof(Node) == kCacheLine, "a node fills one cache line");

// The node array relocates nodes bytewise (realloc, mremap, memcpy). A Node qualifies: its
// fields before `parents` are trivially copyable, and the rest is exactly
// three link lists, each of which qualifies (see IdList::Rep).
static_assert(std::is_standard_layout_v<Node>, "offsetof needs a standard-layout Node");
static_assert(std::is_trivially_copyable_v<Payload> && std::is_trivially_copyable_v<Link>,
              "a Node's plain fields must copy bytewise");
static_assert(offsetof(Node, parents) + 3 * sizeof(IdList) == sizeof(Node) &&
                  offsetof(Node, options) == offsetof(Node, parents) + sizeof(IdList) &&
                  offsetof(Node, children) == offsetof(Node, options) + sizeof(IdList),
              "a Node ends in its three link lists and holds nothing else");

// The node array, in a block that grows by relocating the nodes bytewise (see
// above); a large array is page-aligned, so each node is one cache line (see
// node_blocks.hpp). Offers the vector operations the code uses.
class NodeList {
public:
    NodeList() = default;
    NodeList(const NodeList& o) {
        reserve(o.size_);
        for (const Node& n : o) push_back(n);
    }
    NodeList(NodeList&& o) noexcept
        : block_(std::exchange(o.block_, NodeBlock{})),
          data_(std::exchange(o.data_, nullptr)),
          size_(std::exchange(o.size_, 0)),
          cap_(std::exchange(o.cap_, 0)) {}
    NodeList& operator=(NodeList o) noexcept {
        std::swap(block_, o.block_);
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        std::swap(cap_, o.cap_);
        return *this;
    }
    ~NodeList() {
        clear();
        release_node_block(block_);
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Node& operator[](size_t i) { return data_[i]; }
    const Node& operator[](size_t i) const { return data_[i]; }
    Node* begin() { return data_; }
    Node* end() { return data_ + size_; }
    const Node* begin() const { return data_; }
    const Node* end() const { return data_ + size_; }
    Node& back() { return data_[size_ - 1]; }
    const Node& back() const { return data_[size_ - 1]; }

    // The nodes move bytewise into the grown block (see above); a failure
    // leaves the array as it was.
    void reserve(size_t n) {
        if (n <= cap_) return;
        if (n > SIZE_MAX / sizeof(Node)) throw std::bad_alloc();
        block_ = regrow_node_block(block_, size_ * sizeof(Node), n * sizeof(Node));
        data_ = static_cast<Node*>(block_.base);
        cap_ = block_.bytes / sizeof(Node);
    }
    void push_back(const Node& n) {
        if (size_ == cap_) return push_back(Node(n));  // `n` may live in this list
        new (data_ + size_) Node(n);
        ++size_;
    }
    void push_back(Node&& n) {
        if (size_ == cap_) reserve(cap_ ? grown(cap_) : 8);
        new (data_ + size_) Node(std::move(n));
        ++size_;
    }
    // A new default node at the end, made in place.
    Node& emplace_back() {
        if (size_ == cap_) reserve(cap_ ? grown(cap_) : 8);
        Node* n = new (data_ + size_) Node();
        ++size_;
        return *n;
    }
    void clear() {
        for (size_t i = 0; i < size_; ++i) data_[i].~Node();
        size_ = 0;
    }

private:
    static size_t grown(size_t cap) {
        if (cap > SIZE_MAX / 2 / sizeof(Node)) throw std::bad_alloc();
        return cap * 2;
    }

    NodeBlock block_;
    Node* data_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
};

}  // namespace kestrane
