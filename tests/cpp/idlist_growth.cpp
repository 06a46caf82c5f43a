// Growth rule of the link lists, checked on the C++ type itself: a list of
// 2^31 ids cannot be built in a test, but its next capacity can be asked.
#include <new>

#include "check.hpp"
#include "id_list.hpp"

using kestrane::IdList;

int main() {
    CHECK(IdList::grown_capacity(2) == 4);
    CHECK(IdList::grown_capacity(0x40000000u) == 0x80000000u);
    // Doubling 2^31 no longer fits in 32 bits: the list grows to the largest count.
    CHECK(IdList::grown_capacity(0x80000000u) == 0xFFFFFFFFu);
    CHECK(IdList::grown_capacity(0xFFFFFFF0u) == 0xFFFFFFFFu);
    bool refused = false;
    try {
        IdList::grown_capacity(0xFFFFFFFFu);
    } catch (const std::bad_alloc&) {
        refused = true;
    }
    CHECK(refused);

    // Inline to heap and on: order and duplicates kept through every growth.
    IdList l;
    for (uint32_t i = 0; i < 1000; ++i) l.push_back(i % 7);
    CHECK(l.size() == 1000);
    bool in_order = true;
    for (uint32_t i = 0; i < 1000; ++i) in_order = in_order && l[i] == i % 7;
    CHECK(in_order);
    IdList copy = l;
    copy.reserve(5000);
    CHECK(copy.size() == 1000 && copy[999] == l[999]);
    refused = false;
    try {
        copy.reserve(uint64_t(1) << 32);
    } catch (const std::bad_alloc&) {
        refused = true;
    }
    CHECK(refused && copy.size() == 1000);
    return CHECK_RESULT();
}
