// Counts that cannot be represented are errors, never wrapped values: the
// 64-bit checks of the memory budget and the size checks of the node array,
// at sizes no test through Python can reach.
#include <cstdint>
#include <new>

#include "budget.hpp"
#include "check.hpp"
#include "node.hpp"

using namespace kestrane;

namespace {

constexpr uint64_t kMax = ~uint64_t(0);

template <class F>
bool throws_bad_alloc(F&& f) {
    try {
        f();
    } catch (const std::bad_alloc&) {
        return true;
    }
    return false;
}

}  // namespace

int main() {
    struct Row {
        uint64_t a, b;
        bool add_over, mul_over;
    };
    constexpr uint64_t k32 = uint64_t(1) << 32, k63 = uint64_t(1) << 63;
    for (const Row& r : {Row{0, kMax, false, false}, Row{5, 0, false, false}, Row{3, 5, false, false},
                         Row{kMax, 1, true, false}, Row{k32, k32, false, true}, Row{k63, 2, false, true},
                         Row{k63, k63, true, true}, Row{kMax / 3, 3, false, false}}) {
        uint64_t sum, product;
        CHECK(add_overflows(r.a, r.b, &sum) == r.add_over);
        CHECK(mul_overflows(r.a, r.b, &product) == r.mul_over);
        if (!r.add_over) CHECK(sum == r.a + r.b);
        if (!r.mul_over) CHECK(product == r.a * r.b);
    }

    // A total that would wrap round to a small number is refused as too large.
    MemoryBudget budget("the result");
    budget.add(10);
    CHECK(throws_bad_alloc([&] { budget.check(kMax - 5); }));
    CHECK(throws_bad_alloc([&] { budget.add(kMax - 5); }));
    CHECK(throws_bad_alloc([&] { budget.bytes(uint64_t(1) << 32, uint64_t(1) << 32); }));
    CHECK(throws_bad_alloc([&] { budget.sum(kMax, 1); }));
    MemoryBudget fresh("the result");
    fresh.add(10);
    fresh.release(20);  // released beyond what is held: nothing is held
    fresh.add(memory_budget());
    CHECK(throws_bad_alloc([&] { fresh.add(1); }));

    // A node array of more bytes than memory can address.
    NodeList nodes;
    CHECK(throws_bad_alloc([&] { nodes.reserve(SIZE_MAX / sizeof(Node) + 2); }));
    CHECK(throws_bad_alloc([&] { nodes.reserve(SIZE_MAX / sizeof(Node)); }));
    CHECK(nodes.empty());
    return CHECK_RESULT();
}
