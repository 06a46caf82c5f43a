"""Neighbour lists, the connection list and the two graph fingerprints."""

import struct

import pytest

import kestrane
from helpers import (EXAMPLE_EDGES, EXAMPLE_NODES, make_graph, neighbour_list, panic_type, permuted, random_graph,
                     random_spec, siphash13)

EXAMPLE_CONNECTIONS = [(0, 1), (0, 4), (1, 0), (1, 2), (1, 3), (2, 1), (3, 5), (3, 1), (3, 4),
                       (4, 0), (4, 3), (5, 3), (5, 6), (6, 5)]


def fingerprint(g):
    return g.connections(), g.connection_hash(), g.equality_hash()


def test_worked_example(example):
    assert example.neighbors(3) == [5, 1, 4]
    assert example.neighbors(1) == [0, 2, 3]
    assert example.connections() == EXAMPLE_CONNECTIONS
    assert example.connection_hash() == 1816983117386385071
    assert example.equality_hash() == 13319695098458191400


def test_single_value_node():
    g = make_graph([("v", 3, 4)])
    assert g.neighbors(0) == []
    assert g.connections() == []
    assert g.connection_hash() == 13646096770106105413


def test_neighbors_read_all_four_fields():
    # Wrong-kind links: operator 1 gets options, value 0 gets a parent.
    g = make_graph([("v", 0, 0), ("o", 0), ("v", 0, 0)],
                   [("vo", 1, 0), ("ov", 1, 2), ("ov", 0, 1), ("vo", 2, 1)])
    assert g.neighbors(0) == [1, 1]  # parents, then parent
    assert g.neighbors(1) == [0, 0, 2, 2]  # options, parents, parent, children
    assert g.neighbors(2) == [1, 1]  # options, then parents


@pytest.mark.parametrize("method", ["connections", "connection_hash", "equality_hash"])
@pytest.mark.parametrize("root, index", [(None, 0), (7, 7), (100, 100)])
def test_invalid_root_fails_in_the_walk(method, root, index):
    g = kestrane.RustGraph() if root is None else make_graph(EXAMPLE_NODES, EXAMPLE_EDGES, root)
    with pytest.raises(panic_type()) as info:
        getattr(g, method)()
    assert str(info.value) == f"index out of bounds: the len is {g.num_nodes()} but the index is {index}"


def test_neighbors_bounds(example):
    with pytest.raises(panic_type()) as info:
        example.neighbors(7)
    assert str(info.value) == "index out of bounds: the len is 7 but the index is 7"


def test_positions_follow_the_walk_not_the_ids(example):
    example.set_root(6)
    walk = example.walk_from_root(True, True)
    assert walk == [6, 5, 3, 1, 2, 0, 4]
    pos = {x: i for i, x in enumerate(walk)}
    assert example.connections() == [(pos[x], pos[n]) for x in walk for n in example.neighbors(x)]


@pytest.mark.parametrize("seed", range(40))
def test_renumbering_keeps_connections_and_hashes(seed):
    spec = random_spec(seed)
    assert fingerprint(permuted(spec, seed)) == fingerprint(make_graph(*spec))


def test_payloads_and_shape():
    base = fingerprint(make_graph(EXAMPLE_NODES, EXAMPLE_EDGES))
    other_vals = [(k[0], k[1] + 1, *k[2:]) for k in EXAMPLE_NODES]
    other_types = [(k[0], k[1], k[2] + 5) if k[0] == "v" else k for k in EXAMPLE_NODES]
    conns, chash, ehash = fingerprint(make_graph(other_vals, EXAMPLE_EDGES))
    assert (conns, chash) == base[:2] and ehash != base[2]
    assert fingerprint(make_graph(other_types, EXAMPLE_EDGES)) == base


def test_unconnected_nodes_take_no_part():
    nodes = EXAMPLE_NODES + [("v", 50, 0), ("o", 51), ("v", 52, 0)]
    edges = EXAMPLE_EDGES + [("vo", 7, 8), ("ov", 8, 9)]
    assert fingerprint(make_graph(nodes, edges)) == fingerprint(make_graph(EXAMPLE_NODES, EXAMPLE_EDGES))


def test_duplicate_link_changes_both_hashes(example):
    base = fingerprint(example)
    example.connect_op_to_value(5, 6)
    conns, chash, ehash = fingerprint(example)
    assert conns == EXAMPLE_CONNECTIONS[:13] + [(5, 6), (6, 5), (6, 5)]
    assert chash != base[1] and ehash != base[2]


# ---- the byte streams, checked against CPython's own SipHash-1-3 ---------------------


def expected_streams(g):
    """The two hashed byte streams, rebuilt from the node queries."""
    walk = g.walk_from_root(True, True)
    pos = {x: i for i, x in enumerate(walk)}
    conns = [(pos[x], pos[n]) for x in walk for n in neighbour_list(g, x) if n in pos]
    assert g.connections() == conns
    pairs = b"".join(struct.pack("<QQ", a, b) for a, b in conns)
    ids = b"".join(struct.pack("<I", g.get_op_id(x) if g.get_value_payload(x) is None
                               else g.get_value_payload(x)[0]) for x in walk)
    return struct.pack("<Q", len(conns)) + pairs, ids + pairs


def test_hashes_match_siphash_of_the_described_streams():
    graphs = [make_graph(EXAMPLE_NODES, EXAMPLE_EDGES)] + [random_graph(s) for s in range(150)]
    graphs += [random_graph(1000 + s, 60) for s in range(20)]
    for g in graphs:
        for x in range(g.num_nodes()):
            assert g.neighbors(x) == neighbour_list(g, x)
    streams = [s for g in graphs for s in expected_streams(g)]
    hashes = siphash13(streams)
    assert [h for g in graphs for h in (g.connection_hash(), g.equality_hash())] == hashes
    assert hashes[:2] == [1816983117386385071, 13319695098458191400]


# ---- the Python methods ------------------------------------------------------------------


def test_argument_conversion(example):
    with pytest.raises(TypeError, match="^argument 'id': "):
        example.neighbors("3")
    with pytest.raises(OverflowError):
        example.neighbors(-1)
    assert example.neighbors(id=True) == example.neighbors(1)
    with pytest.raises(TypeError):
        example.connections(1)
