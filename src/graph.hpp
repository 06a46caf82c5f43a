// Graph records and the operations that build, query and walk them.
// Pure C++: nothing here knows about Python.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace kestrane {

using NodeId = uint64_t;

// A broken precondition inside an operation. The Python layer raises it as
// PanicException with `message` as its only argument.
struct Panic {
    std::string message;
};

// An ordinary failure that the Python layer raises as ValueError.
struct ValueError {
    std::string message;
};

// Raised by poll_interrupt() when the host has a pending error to report
// (a signal handler raised KeyboardInterrupt, say); the error is already set.
struct Interrupted {};

[[noreturn]] void panic(std::string message);
// "index out of bounds: the len is {len} but the index is {index}"
[[noreturn]] void index_panic(uint64_t len, uint64_t index);

// Long enumerations call poll_interrupt() regularly; the Python layer installs a
// hook that runs pending signal handlers and returns true when one of them
// raised. Without a hook it does nothing.
using InterruptHook = bool (*)();
extern InterruptHook interrupt_hook;

class InterruptPoll {
public:
    // Asks the hook once every `every` calls of tick().
    explicit InterruptPoll(uint32_t every = 4096) : every_(every), left_(every) {}
    void tick() {
        if (--left_ == 0) {
            left_ = every_;
            if (interrupt_hook && interrupt_hook()) throw Interrupted{};
        }
    }

private:
    uint32_t every_;
    uint32_t left_;
};

// Links are stored as 32-bit ids: every stored id is below num_nodes(), and a
// graph never holds more than kMaxNodes nodes, which halves the link storage.
using Link = uint32_t;
constexpr uint64_t kMaxNodes = 0xFFFFFFFEu;
constexpr Link kNoLink = 0xFFFFFFFFu;

// A growable list of node ids in insertion order, duplicates kept. Up to two
// ids live inline (most link lists of a layered graph are that short); longer
// lists move to the heap. 16 bytes in a Node.
class IdList {
public:
    IdList() = default;
    IdList(const IdList& o) {
        if (o.on_heap())
            assign(o.data(), o.size_);
        else
            u_ = o.u_, size_ = o.size_;  // inline ids copy with the union
    }
    IdList(IdList&& o) noexcept { steal(o); }
    IdList& operator=(const IdList& o) {
        if (this != &o) assign(o.data(), o.size_);
        return *this;
    }
    IdList& operator=(IdList&& o) noexcept {
        if (this != &o) {
            free_heap();
            steal(o);
        }
        return *this;
    }
    ~IdList() { free_heap(); }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    NodeId operator[](size_t i) const { return data()[i]; }
    Link& at_mut(size_t i) { return data()[i]; }
    const Link* begin() const { return data(); }
    const Link* end() const { return data() + size_; }
    Link* begin() { return data(); }
    Link* end() { return data() + size_; }
    NodeId back() const { return data()[size_ - 1]; }

    // `id` must be below kMaxNodes (every caller stores a checked node id).
    void push_back(NodeId id) {
        if (size_ == cap_) reserve_exact(cap_ * 2);
        data()[size_++] = static_cast<Link>(id);
    }
    void pop_back() { --size_; }
    void clear() { size_ = 0; }
    bool contains(NodeId id) const {
        for (Link x : *this)
            if (x == id) return true;
        return false;
    }
    std::vector<NodeId> to_vector() const { return std::vector<NodeId>(begin(), end()); }
    // Appends the ids last to first, so that a stack pops them in stored order.
    template <class Vec>
    void push_reversed_onto(Vec& stack) const {
        for (const Link* p = end(); p != begin();) stack.push_back(*--p);
    }

private:
    static constexpr uint32_t kInline = 2;

    bool on_heap() const { return cap_ > kInline; }
    Link* data() { return on_heap() ? u_.heap : u_.inline_; }
    const Link* data() const { return on_heap() ? u_.heap : u_.inline_; }
    void free_heap() {
        if (on_heap()) std::free(u_.heap);
    }
    void steal(IdList& o) {
        u_ = o.u_;
        size_ = o.size_;
        cap_ = o.cap_;
        o.size_ = 0;
        o.cap_ = kInline;
    }
    void assign(const Link* src, uint32_t n) {
        if (n > cap_) reserve_exact(n);
        if (n) std::memmove(data(), src, n * sizeof(Link));
        size_ = n;
    }
    void reserve_exact(uint32_t n) {
        Link* p = static_cast<Link*>(std::malloc(size_t(n) * sizeof(Link)));
        if (!p) throw std::bad_alloc();
        if (size_) std::memcpy(p, data(), size_ * sizeof(Link));
        free_heap();
        u_.heap = p;
        cap_ = n;
    }

    union {
        Link* heap;
        Link inline_[kInline];
    } u_{};
    uint32_t size_ = 0;
    uint32_t cap_ = kInline;
};

enum class Kind : uint8_t { Value = 0, Op = 1 };

// The payload's own variant, kept apart from `kind` and read by the operations
// that use payloads (the two always agree in a graph built here).
struct Payload {
    enum class Tag : uint8_t { Value = 0, Op = 1 };
    Tag tag;
    uint32_t a;  // val_id, or op_id
    uint32_t b;  // type_id (value payload only)

    static Payload value(uint32_t val_id, uint32_t type_id) { return {Tag::Value, val_id, type_id}; }
    static Payload op(uint32_t op_id) { return {Tag::Op, op_id, 0}; }
    bool is_value() const { return tag == Tag::Value; }
    bool is_op() const { return tag == Tag::Op; }
    uint32_t val_id() const { return a; }
    uint32_t type_id() const { return b; }
    uint32_t op_id() const { return a; }
};

struct Node {
    Link parent_ = kNoLink;  // on an operator: the value node above it
    Kind kind;
    Payload payload;
    IdList parents;   // on a value node: operators above it
    IdList options;   // on a value node: operators below it
    IdList children;  // on an operator: value nodes below it

    bool is_value() const { return kind == Kind::Value; }
    bool is_op() const { return kind == Kind::Op; }
    bool has_parent() const { return parent_ != kNoLink; }
    NodeId parent() const { return parent_; }
    void set_parent(NodeId p) { parent_ = static_cast<Link>(p); }
    void clear_parent() { parent_ = kNoLink; }
};

static_assert(sizeof(IdList) == 16, "IdList should stay compact");

// The node array. It grows with realloc, which moves large blocks by remapping
// pages instead of copying them; a Node holds no pointer into itself, so it can
// be relocated bytewise. Offers the vector operations the code uses.
class NodeList {
public:
    NodeList() = default;
    NodeList(const NodeList& o) {
        reserve(o.size_);
        for (const Node& n : o) push_back(n);
    }
    NodeList(NodeList&& o) noexcept : data_(o.data_), size_(o.size_), cap_(o.cap_) {
        o.data_ = nullptr;
        o.size_ = o.cap_ = 0;
    }
    NodeList& operator=(NodeList o) noexcept {
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        std::swap(cap_, o.cap_);
        return *this;
    }
    ~NodeList() {
        clear();
        std::free(data_);
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

    void reserve(size_t n) {
        if (n <= cap_) return;
        void* p = std::realloc(static_cast<void*>(data_), n * sizeof(Node));
        if (!p) throw std::bad_alloc();
        data_ = static_cast<Node*>(p);
        cap_ = n;
    }
    void push_back(const Node& n) {
        if (size_ == cap_) return push_back(Node(n));  // `n` may live in this list
        new (data_ + size_) Node(n);
        ++size_;
    }
    void push_back(Node&& n) {
        if (size_ == cap_) reserve(cap_ ? cap_ * 2 : 8);
        new (data_ + size_) Node(std::move(n));
        ++size_;
    }
    void clear() {
        for (size_t i = 0; i < size_; ++i) data_[i].~Node();
        size_ = 0;
    }

private:
    Node* data_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
};

struct Graph {
    NodeList nodes;
    NodeId root_id = 0;

    size_t size() const { return nodes.size(); }
    bool has_valid_root() const { return !nodes.empty() && root_id < nodes.size(); }
    // Bounds-checked access: panics with the index message.
    const Node& at(NodeId id) const {
        if (id >= nodes.size()) index_panic(nodes.size(), id);
        return nodes[id];
    }
    Node& at(NodeId id) {
        if (id >= nodes.size()) index_panic(nodes.size(), id);
        return nodes[id];
    }
};

// Asks the memory system for the nodes pushed onto a walk stack since `from`: a
// depth-first walk jumps around the node array, and the loads then overlap.
// A hint only: compilers without the GCC/Clang builtin skip it.
template <class Stack>
void prefetch_nodes(const Graph& g, const Stack& stack, size_t from) {
#if defined(__GNUC__) || defined(__clang__)
    for (size_t i = from; i < stack.size(); ++i)
        if (stack[i] < g.nodes.size()) __builtin_prefetch(&g.nodes[stack[i]]);
#else
    (void)g, (void)stack, (void)from;
#endif
}

// ---- construction -------------------------------------------------------

NodeId add_value_with_payload(Graph& g, uint32_t val_id, uint32_t type_id);
NodeId add_op_with_payload(Graph& g, uint32_t op_id);
void connect_value_to_op(Graph& g, NodeId val, NodeId op);
void connect_op_to_value(Graph& g, NodeId op, NodeId val);

// ---- node queries -------------------------------------------------------

std::vector<NodeId> nodes_of_kind(const Graph& g, bool val_nodes, bool op_nodes);
bool same_spec(const Graph& g, NodeId a, NodeId b);

// ---- walks and leaves ---------------------------------------------------

// A set of node ids that a walk neither lists nor passes through. Only
// membership is asked, so a sorted vector serves.
class SkipSet {
public:
    SkipSet() = default;
    explicit SkipSet(std::vector<NodeId> ids);
    bool empty() const { return ids_.empty(); }
    bool contains(NodeId id) const;

private:
    std::vector<NodeId> ids_;
};

// Depth-first walk from `start`; see walk_with_skip in graph.cpp for the order.
std::vector<NodeId> walk_with_skip(const Graph& g, NodeId start, bool above, bool below,
                                   const SkipSet& skip);
std::vector<NodeId> walk(const Graph& g, NodeId start, bool above, bool below);
// Both directions from root_id; ValueError "Graph has no valid root_id set"
// when the root is not valid.
std::vector<NodeId> walk_from_root(const Graph& g, bool above, bool below);
// Leaves reached downward from root_id, in walk order; empty without a valid root.
std::vector<NodeId> leaves_with_skip(const Graph& g, const SkipSet& skip);
std::vector<NodeId> leaves(const Graph& g);

}  // namespace kestrane
