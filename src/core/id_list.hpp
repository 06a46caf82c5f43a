// Link lists: the node ids a node links to, stored as 32-bit ids. Pure C++.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "errors.hpp"

namespace kestrane {

// Links are stored as 32-bit ids, which halves the link storage: every stored
// id is a checked node id, and a graph never holds more than kMaxNodes nodes.
using Link = uint32_t;
constexpr uint64_t kMaxNodes = 0xFFFFFFFEu;
constexpr Link kNoLink = 0xFFFFFFFFu;
// exact text: callers match it (both messages).
constexpr const char* kTooManyNodes = "a graph holds at most 4294967294 nodes";
constexpr const char* kTooManyIds = "a link list holds at most 4294967295 ids";

// A growable list of node ids in insertion order, duplicates kept. Up to two
// ids live inline (most link lists of a layered graph are that short); longer
// lists move to the heap. 16 bytes in a Node.
class IdList {
public:
    IdList() = default;
    IdList(const IdList& o) {
        if (o.on_heap())
            assign(o.data(), o.rep_.size);
        else
            rep_.u = o.rep_.u, rep_.size = o.rep_.size;  // inline ids copy with the union
    }
    IdList(IdList&& o) noexcept { steal(o); }
    IdList& operator=(const IdList& o) {
        if (this != &o) assign(o.data(), o.rep_.size);
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

    size_t size() const { return rep_.size; }
    bool empty() const { return rep_.size == 0; }
    NodeId operator[](size_t i) const { return data()[i]; }
    Link& at_mut(size_t i) { return data()[i]; }
    const Link* begin() const { return data(); }
    const Link* end() const { return data() + rep_.size; }
    Link* begin() { return data(); }
    Link* end() { return data() + rep_.size; }
    NodeId back() const { return data()[rep_.size - 1]; }

    // `id` must be below kMaxNodes (every caller stores a checked node id).
    // A failing push (MemoryError) leaves the list as it was.
    void push_back(NodeId id) {
        reserve_one();
        data()[rep_.size++] = static_cast<Link>(id);
    }
    // Makes room for one more id, so that the next push_back cannot fail: a
    // change that grows several lists reserves in all of them first.
    void reserve_one() {
        if (rep_.size == rep_.cap) reserve_exact(grown_capacity(rep_.cap));
    }
    // Makes room for `n` ids in all.
    void reserve(size_t n) {
        if (n > UINT32_MAX) throw TooLarge(kTooManyIds);
        if (n > rep_.cap) reserve_exact(static_cast<uint32_t>(n));
    }
    // The capacity after a full list of `cap` ids grows: doubled, at most the
    // largest count the 32-bit size can hold; TooLarge when the list is
    // already that long.
    static uint32_t grown_capacity(uint32_t cap) {
        constexpr uint64_t kMax = UINT32_MAX;
        if (cap >= kMax) throw TooLarge(kTooManyIds);
        const uint64_t doubled = uint64_t(cap) * 2;
        return static_cast<uint32_t>(doubled > kMax ? kMax : doubled);
    }
    void pop_back() { --rep_.size; }
    void clear() { rep_.size = 0; }
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
    // The same, leaving out the ids for which keep(id) is false.
    template <class Vec, class Keep>
    void push_reversed_onto(Vec& stack, Keep&& keep) const {
        for (const Link* p = end(); p != begin();)
            if (keep(*--p)) stack.push_back(*p);
    }

    static constexpr uint32_t kInline = 2;
    // All of a list's state: inline ids or one owned heap block, and two
    // counts. No pointer into the list itself, so a list may be relocated
    // bytewise (the node array relies on it).
    struct Rep {
        union {
            Link* heap;
            Link inline_[kInline];
        } u;
        uint32_t size = 0;
        uint32_t cap = kInline;
    };

private:
    bool on_heap() const { return rep_.cap > kInline; }
    Link* data() { return on_heap() ? rep_.u.heap : rep_.u.inline_; }
    const Link* data() const { return on_heap() ? rep_.u.heap : rep_.u.inline_; }
    void free_heap() {
        if (on_heap()) std::free(rep_.u.heap);
    }
    void steal(IdList& o) {
        rep_.u = o.rep_.u;
        rep_.size = o.rep_.size;
        rep_.cap = o.rep_.cap;
        o.rep_.size = 0;
        o.rep_.cap = kInline;
    }
    void assign(const Link* src, uint32_t n) {
        if (n > rep_.cap) reserve_exact(n);
        if (n) std::memmove(data(), src, size_t(n) * sizeof(Link));
        rep_.size = n;
    }
    void reserve_exact(uint32_t n) {
        if (size_t(n) > SIZE_MAX / sizeof(Link)) throw std::bad_alloc();
        Link* p = static_cast<Link*>(std::malloc(size_t(n) * sizeof(Link)));
        if (!p) throw std::bad_alloc();
        if (rep_.size) std::memcpy(p, data(), size_t(rep_.size) * sizeof(Link));
        free_heap();
        rep_.u.heap = p;
        rep_.cap = n;
    }

    Rep rep_{};
};

static_assert(sizeof(IdList) == 16, "IdList should stay compact");
static_assert(std::is_trivially_copyable_v<IdList::Rep> && sizeof(IdList::Rep) == sizeof(IdList),
              "a link list is its Rep and nothing else");

}  // namespace kestrane
