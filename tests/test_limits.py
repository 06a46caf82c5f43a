"""Counts and results too large to hold: errors that say what was too large,
never wrapped counts or a process killed for want of memory."""

import os

import pytest

import kestrane
from helpers import diamonds, op, run_python
from twins import py_conditions
from twins.py_traces import PyGraph


@pytest.mark.parametrize("levels, call, top, message", [
    # 2**64 positions per child: the count wrapped to 0 and gave [[]]
    (65, "tree", [[0, 1]], "repeated leaf count of node 3 does not fit in 64 bits"),
    (65, "get", [[0, 1]], "repeated leaf count of node 3 does not fit in 64 bits"),
    (65, "get", [[]], "repeated leaf count of node 0 does not fit in 64 bits"),
    (63, "tree", [[0, 1]], "tree conditions result exceeds the memory budget"),
    (63, "get", [[]], "conditions leaf sequence exceeds the memory budget"),
])
def test_counts_beyond_64_bits_are_errors(levels, call, top, message):
    g = diamonds(levels)
    ops = {7: op(top), 8: op([[]])}
    with pytest.raises(MemoryError) as info:
        if call == "tree":
            kestrane.tree_conditions(g, 1, ops, False)
        else:
            kestrane.get_conditions(g, 0, ops, False)
    assert str(info.value) == message


def test_callable_position_that_cannot_move_right():
    g = kestrane.RustGraph()
    n = g.add_op_with_payload(4)
    g.connect_op_to_value(n, g.add_value_with_payload(9, 0))
    ops = {4: {"conditions": [[1]], "has_callable": True, "cumulative": False}, 9: op([[1, 2**64 - 1]])}
    with pytest.raises(MemoryError, match=r"^callable condition position 18446744073709551615 \+ 1 does not fit"):
        kestrane.update_callable_conditions(g, n, ops)
    ops[9] = op([[1, 2**64 - 2]])
    assert kestrane.update_callable_conditions(g, n, ops) == [[0, 2, 2**64 - 1]]


def test_huge_counts_that_are_never_needed():
    ops = {7: op([[]]), 8: op([[]])}
    assert kestrane.tree_conditions(diamonds(70), 1, ops, False) == [[]]
    assert kestrane.tree_conditions(diamonds(2), 1, {7: op([[0, 1]]), 8: op([[]])}, False) == [[0, 1, 1, 2]]


def test_leaf_met_along_many_paths():
    # Leaf x is a child of the top operator and the bottom of a ladder below
    # it, so it stands at 2**9 + 1 positions; a condition selecting one of
    # them is contradictory.
    g = kestrane.RustGraph()
    root = g.add_value_with_payload(0, 0)
    top = g.add_op_with_payload(5)
    g.connect_value_to_op(root, top)
    x, a, y = (g.add_value_with_payload(0, 0) for _ in range(3))
    for v in (x, a, y):
        g.connect_op_to_value(top, v)
    diamonds(9, start=a, end=x, g=g)
    ops = {5: op([[0], [2], [1, 2]]), 7: op([[]]), 8: op([[]])}
    expected = py_conditions.get_conditions(PyGraph.from_rust(g), root, ops, False)
    assert kestrane.get_conditions(g, root, ops, False) == expected


BUDGET_HELPERS = """
import kestrane
from helpers import diamonds, op

def star(n):
    g = kestrane.RustGraph()
    g.add_value_with_payload(0, 1)
    g.add_op_with_payload(1)
    g.connect_value_to_op(0, 1)
    for i in range(n):
        g.add_value_with_payload(i, 5)
        g.connect_op_to_value(1, 2 + i)
    return g

def comb(n):
    # root -> c_i -> leaf_i: every leaf's trace has three choices
    g = star(n)
    for i in range(n):
        q = g.add_op_with_payload(2)
        g.connect_value_to_op(2 + i, q)
        g.connect_op_to_value(q, g.add_value_with_payload(0, 0))
    return g

def attempt(name, call):
    try:
        r = call()
        print(name, "ok", len(r))
    except MemoryError as e:
        print(name, "MemoryError", e)
"""
BUDGET_SCRIPT = BUDGET_HELPERS + """
big = diamonds(12)
attempt("traces", lambda: big.traces(0, True, True, True, False, True))
attempt("small traces", lambda: diamonds(2).traces(0, True, True, True, False, True))
attempt("cross_sections", lambda: comb(12).cross_sections([15 + 2 * i for i in range(12)]))
attempt("small cross_sections", lambda: comb(2).cross_sections([5, 7]))
attempt("glue_leaves", lambda: kestrane.glue_leaves(star(8), list(range(2, 10)), [], False))
attempt("small glue_leaves", lambda: kestrane.glue_leaves(star(3), [2, 3, 4], [], False))
attempt("tree_conditions",
        lambda: kestrane.tree_conditions(star(12), 1, {1: op([[i] for i in range(12)] * 1000)}, False))
attempt("condition_combinations", lambda: kestrane.condition_combinations([[[0]] * 100] * 3, []))
"""


def fake_cgroups(root, lines, limits):
    """/proc/self/cgroup with `lines`, and each cgroup file in `limits`, under
    `root` (which stands for / through KESTRANE_TEST_FS_ROOT)."""
    (root / "proc/self").mkdir(parents=True)
    (root / "proc/self/cgroup").write_text("".join(line + "\n" for line in lines))
    for path, text in limits.items():
        (root / "sys/fs/cgroup" / path).parent.mkdir(parents=True, exist_ok=True)
        (root / "sys/fs/cgroup" / path).write_text(text + "\n")
    return {"KESTRANE_TEST_FS_ROOT": str(root)}


# Each way a limit of 200000 bytes reaches the budget. A limit on an ancestor
# cgroup holds for the process's own; the variable can lower the budget only.
V2 = (["0::/job/step"], {"job/memory.max": "200000", "job/step/memory.max": "max"})
V1 = (["4:cpu,memory:/slurm/job_1", "0::/"], {"memory/slurm/job_1/memory.limit_in_bytes": "200000",
                                              "memory/memory.limit_in_bytes": "9223372036854771712"})


@pytest.mark.parametrize("variable, cgroups", [
    ("200000", None),
    (None, V2),
    (None, V1),
    (str(10**15), V2),
], ids=["variable", "cgroup-v2", "cgroup-v1", "variable-cannot-raise-it"])
def test_enumerations_keep_to_the_memory_budget(tmp_path, variable, cgroups):
    env = {"KESTRANE_MEMORY_BUDGET": variable or ""}  # empty counts as unset
    if cgroups:
        env.update(fake_cgroups(tmp_path, *cgroups))
    proc = run_python(BUDGET_SCRIPT, env=env)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines() == [
        "traces MemoryError traces result exceeds the memory budget",
        "small traces ok 4",
        "cross_sections MemoryError cross sections result exceeds the memory budget",
        "small cross_sections ok 5",
        "glue_leaves MemoryError glue_leaves result exceeds the memory budget",
        "small glue_leaves ok 4",
        "tree_conditions MemoryError tree conditions result exceeds the memory budget",
        "condition_combinations MemoryError condition combinations result exceeds the memory budget",
    ]


KEPT_BLOCK_LOOP = """
from helpers import chain
def rss():
    return int(open("/proc/self/statm").read().split()[1]) * 4096
big_src, small_src = chain(300_000), chain(20_000)
kept, before = [], rss()
for _ in range(20):
    big = big_src.clone_subgraph()[0]
    del big
    kept.append(small_src.clone_subgraph()[0])
print(rss() - before, 20 * 20_000 * 64)
"""


@pytest.mark.skipif(not os.path.exists("/proc/self/statm") or "asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="needs /proc, and resident memory as the allocator leaves it (not a sanitizer's)")
def test_dropping_big_graphs_while_keeping_small_ones_holds_little_memory():
    # A dropped big graph's block is kept for the next big array, not handed to
    # a small clone that would hold it (and its touched pages) for its lifetime.
    proc = run_python(KEPT_BLOCK_LOOP, timeout=120)
    assert proc.returncode == 0, proc.stderr
    grown, live = map(int, proc.stdout.split())
    assert grown < 3 * live + (20 << 20)


def test_a_growing_set_gives_back_its_old_table():
    # The seen sets of these cross sections grow by doubling, each growth
    # holding the new table and giving back the old one: the call needs
    # 201208 bytes so, and would need 230840 if nothing were given back.
    proc = run_python(BUDGET_HELPERS + "attempt('cross_sections', lambda: comb(8).cross_sections(range(11, 27, 2)))",
                      env={"KESTRANE_MEMORY_BUDGET": "216000"})
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, "cross_sections ok 257\n", "")


@pytest.mark.parametrize("variable", ["4G", "-1", str(2**64)])
def test_a_memory_budget_that_does_not_parse_fails_the_import(variable):
    proc = run_python("import kestrane", env={"KESTRANE_MEMORY_BUDGET": variable})
    assert proc.returncode == 1
    assert proc.stderr.splitlines()[-1] == (f"ValueError: KESTRANE_MEMORY_BUDGET={variable!r} is not a number of "
                                            "bytes (a decimal integer, such as 4294967296)")


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="AddressSanitizer reserves more address space")
def test_the_budget_follows_the_address_space_limit():
    # 10**8 combinations need about 20 GB: within physical memory here, far
    # beyond the address space left, so the budget must refuse them up front.
    script = """
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (1 << 31, resource.getrlimit(resource.RLIMIT_AS)[1]))
        import kestrane
        try:
            kestrane.condition_combinations([[[0]] * 10**4] * 2, [])
        except MemoryError as e:
            print(e)
    """
    proc = run_python(script, env={"KESTRANE_MEMORY_BUDGET": ""})
    assert (proc.returncode, proc.stdout) == (0, "condition combinations result exceeds the memory budget\n")
