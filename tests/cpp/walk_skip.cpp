// walk_with_skip with a skip set, which no Python call passes: a skipped node
// is neither listed nor walked through, and the others keep walk order.
#include <vector>

#include "check.hpp"
#include "graph.hpp"
#include "id_set.hpp"
#include "walks.hpp"

using namespace kestrane;

int main() {
    // 0 -> op 1 -> [2, 3]; 2 -> op 4 -> [5]; 3 -> op 6 -> [5]
    Graph g;
    for (int i = 0; i < 7; ++i) {
        if (i == 1 || i == 4 || i == 6)
            add_op_with_payload(g, static_cast<uint32_t>(i));
        else
            add_value_with_payload(g, static_cast<uint32_t>(i), 0);
    }
    connect_value_to_op(g, 0, 1);
    connect_op_to_value(g, 1, 2);
    connect_op_to_value(g, 1, 3);
    connect_value_to_op(g, 2, 4);
    connect_op_to_value(g, 4, 5);
    connect_value_to_op(g, 3, 6);
    connect_op_to_value(g, 6, 5);

    CHECK((walk_with_skip(g, 0, true, true, IdSet{}) == std::vector<NodeId>{0, 1, 2, 4, 5, 6, 3}));
    // Skipping 2 cuts its branch: 5 is reached through 3 instead, and 4 only
    // from 5, upwards.
    CHECK((walk_with_skip(g, 0, false, true, IdSet({2})) == std::vector<NodeId>{0, 1, 3, 6, 5}));
    CHECK((walk_with_skip(g, 0, true, true, IdSet({2})) == std::vector<NodeId>{0, 1, 3, 6, 5, 4}));
    // Upward from 5, skipping operator 4: only the path through 6.
    CHECK((walk_with_skip(g, 5, true, false, IdSet({4})) == std::vector<NodeId>{5, 6, 3, 1, 0}));
    // A skipped start lists nothing.
    CHECK(walk_with_skip(g, 0, true, true, IdSet({0})).empty());
    return CHECK_RESULT();
}
