"""A chain of a million nodes: hashes, connections, clones and grafts work
without recursion and give the exact results."""

from array import array

import pytest

import kestrane
from helpers import siphash13

N = 10**6


@pytest.fixture(scope="module")
def chain():
    """Nodes 0..N-1, even ids value nodes, odd ids operators, each linked to the next;
    payload ids equal node ids. Positions in the root walk equal ids."""
    g = kestrane.RustGraph()
    add_value, add_op = g.add_value_with_payload, g.add_op_with_payload
    to_op, to_value = g.connect_value_to_op, g.connect_op_to_value
    add_value(0, 0)
    for i in range(1, N):
        if i % 2:
            add_op(i)
            to_op(i - 1, i)
        else:
            add_value(i, 0)
            to_value(i - 1, i)
    return g


def test_connections_and_hashes(chain):
    conns = chain.connections()
    # value x: option x+1, parent x-1; operator x: parent x-1, child x+1
    expected = [(0, 1)] + [(x, y) for x in range(1, N - 1) for y in ((x + 1, x - 1) if x % 2 == 0
                                                                     else (x - 1, x + 1))]
    expected.append((N - 1, N - 2))
    assert conns == expected
    pairs = array("Q", [v for c in conns for v in c]).tobytes()
    ids = array("I", range(N)).tobytes()
    assert [chain.connection_hash(), chain.equality_hash()] == siphash13(
        [array("Q", [len(conns)]).tobytes() + pairs, ids + pairs])


def test_clone_from_top_and_bottom(chain):
    clone, corr = chain.clone_subgraph()
    assert corr == dict(zip(range(N), range(N)))
    assert clone.connection_hash() == chain.connection_hash()
    assert clone.get_options(N - 2) == [N - 1] and clone.get_parent(N - 1) == N - 2
    chain.set_root(N - 1)
    try:
        clone, corr = chain.clone_subgraph()
    finally:
        chain.set_root(0)
    assert corr == dict(zip(range(N), range(N - 1, -1, -1)))
    assert clone.get_options(N - 1) == [N - 2] and clone.get_op_id(0) == N - 1


def test_graft_chain_under_itself(chain):
    g, new_leaves, old = chain.clone_and_attach(chain, N - 1)
    assert g.num_nodes() == 2 * N - 1
    assert g.get_options(N - 1) == [N] and g.get_parent(N) == N - 1
    assert (new_leaves, old) == ([2 * N - 2], [])
