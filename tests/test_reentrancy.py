"""Python code that runs inside a call (signal handlers and, from 3.12, the
collector's callbacks, both at every poll; an item's __index__) finds nothing
half-done and cannot pull what the call reads from under it: it clears the
lists and dicts the call converts, reads every list and dict it can find, and
uses the graph the call works on. Each mode runs in its own interpreter, since
a fault here ends the process."""

import sys

import pytest

from helpers import chain, run_python

HARNESS = """
import gc, signal, sys, kestrane
from helpers import chain
mode = sys.argv[1]
N = 200_000

g = chain(N)
wide = kestrane.RustGraph()
top = wide.add_op_with_payload(1)
for i in range(N // 4):
    wide.connect_op_to_value(top, wide.add_value_with_payload(i, 0))
wide.set_root(1)
small = chain(6)
entry = {"conditions": [[0]], "has_callable": False, "cumulative": False}

class Slow:  # an item whose conversion runs Python code (and, at a low threshold, schedules a collection)
    def __index__(self):
        [[] for _ in range(4)]
        return 0

# name: (the argument the interfering code clears, or None; the call)
ROWS = {
    "is_below nodes": (lambda: [0] * N, lambda a: g.is_below(0, a)),
    "is_below nodes, __index__": (lambda: [Slow()] * (N // 8), lambda a: g.is_below(0, a)),
    "is_below skip": (lambda: [1] * N, lambda a: g.is_below(0, [1], True, a)),
    "cross_sections": (lambda: [10 * N] * N, lambda a: g.cross_sections(a)),  # ids past the end: a panic once read
    "glue_leaves candidates": (lambda: [2] * N, lambda a: kestrane.glue_leaves(small, [], a, False)),
    "condition_combinations": (lambda: [[[0]]] * (N // 4), lambda a: kestrane.condition_combinations(a, [0] * len(a))),
    "offset_list": (lambda: [0] * N, lambda a: kestrane.condition_combinations([], a)),
    "op snapshot": (lambda: {i: entry for i in range(N // 8)}, lambda a: kestrane.get_conditions(small, 0, a, False)),
    "walk": (None, lambda a: g.walk(0)),
    "walk_from_root": (None, lambda a: g.walk_from_root(True, True)),
    "leaves": (None, lambda a: g.leaves()),
    "nodes": (None, lambda a: g.nodes(True, True)),
    "traces": (None, lambda a: g.traces(N - 2, True, True, True, True, False)),
    "connections": (None, lambda a: g.connections()),
    "get_children": (None, lambda a: wide.get_children(0)),
    "clone_subgraph": (None, lambda a: g.clone_subgraph()),
    "condition lists": (None, lambda a: kestrane.condition_combinations([[[i] for i in range(N // 4)]], [0])),
}

state = {"arg": None, "graph_in_use": 0, "busy": False}

def interfere(*_):
    if state["busy"]:  # a handler can itself be interrupted by the next signal
        return
    state["busy"] = True
    arg = state["arg"]
    if arg is not None:
        arg.clear()
    for o in gc.get_objects(0):  # a half-built list has NULL slots: reading them faults
        if type(o) in (list, dict):
            list(o)
    try:
        g.set_root(0)
    except RuntimeError:
        state["graph_in_use"] += 1
    state["busy"] = False

if mode == "signal":
    signal.signal(signal.SIGALRM, interfere)
    signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
else:
    gc.callbacks.append(lambda phase, info: phase == "start" and interfere())
    gc.set_threshold(1)

for name, (make, call) in ROWS.items():
    in_use = state["graph_in_use"]
    for _ in range(6):
        state["arg"] = make() if make else None
        try:
            call(state["arg"])
        except BaseException as e:  # a refusal, a changed size, the interferer's own error
            if type(e).__name__ not in ("RuntimeError", "PanicException"):
                raise
    state["arg"] = None
    print(name, state["graph_in_use"] > in_use, flush=True)
signal.setitimer(signal.ITIMER_REAL, 0)
"""


def run_harness(mode):
    proc = run_python(HARNESS, mode, timeout=600)
    assert proc.returncode == 0, (proc.stdout[-500:], proc.stderr[-2000:])
    return dict(line.rsplit(" ", 1) for line in proc.stdout.splitlines())


def test_signal_handlers_inside_calls():
    seen = run_harness("signal")
    assert len(seen) == 17
    # The walk behind leaves() polls: the handler ran while the call held the
    # graph, though its one-item result needs no poll.
    assert seen["leaves"] == "True"


@pytest.mark.skipif(sys.version_info < (3, 12), reason="the collector runs at polls from 3.12")
def test_collector_callbacks_inside_calls():
    assert len(run_harness("gc")) == 17



@pytest.mark.parametrize("enabled", [True, False])
def test_collector_setting_changed_inside_a_call_is_kept(enabled):
    import gc
    import signal

    g = chain(200_000)
    flipped = []

    def flip(*_):
        try:
            g.set_root(0)
        except RuntimeError:  # inside the call: the graph is in use
            if not flipped:
                (gc.disable if enabled else gc.enable)()
                flipped.append(True)

    (gc.enable if enabled else gc.disable)()
    old = signal.signal(signal.SIGALRM, flip)
    signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
    try:
        for _ in range(200):
            g.connections()  # a result of many lists, built with the collector paused
            if flipped:
                break
        now = gc.isenabled()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
        gc.enable()
    assert flipped and now is not enabled


FORK = """
import os, sys, threading, time, warnings, kestrane
warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads
g = kestrane.RustGraph(); g.add_value_with_payload(1, 1)
class Slow:
    def __index__(self):
        time.sleep(0.5); return 0
class ForkHere:
    def __index__(self):
        self.pid = os.fork()
        self.refused = not child_can_change()  # the walk still holds the graph
        return 0
def child_can_change():
    try:
        g.add_value_with_payload(2, 2)
        return True
    except RuntimeError:
        return False
def report(pid):
    if pid == 0:
        os._exit(0 if child_can_change() else 1)
    print(os.waitpid(pid, 0)[1] == 0)
# another thread inside a call: the child does not have it, nor its access
t = threading.Thread(target=lambda: g.walk(Slow())); t.start(); time.sleep(0.1)
report(os.fork()); t.join()
# the forking thread inside a call: its access lasts to the call's end, in both
f = ForkHere()
g.walk(f)
if f.pid == 0:
    os._exit(0 if f.refused and child_can_change() else 1)
print(os.waitpid(f.pid, 0)[1] == 0, f.refused and child_can_change())
"""


def test_forked_child_keeps_only_its_own_accesses():
    proc = run_python(FORK, timeout=60)
    assert (proc.stdout.split(), proc.stderr) == (["True", "True", "True"], "")
