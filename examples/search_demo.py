"""A small search of the kind kestrane exists for.

The Python side keeps a toy grammar of operators (each produces a value of one
type from argument values of given types) and its own `ValueNode` objects. It
mirrors them into `RustGraph` objects and grows programs breadth-first:

1. graft: hang each operator's element graph under each open leaf of the right
   type (`clone_and_attach`), dropping shapes already seen (`equality_hash`,
   with `connection_hash` as the cheaper first test);
2. glue: fold open leaves onto other value nodes of the same type
   (`glue_leaves`), which turns trees into shared graphs; the glued graphs are
   counted as they come and not kept;
3. inspect: ask each candidate which of its leaves its operators' conditions
   bind together (`get_conditions`; candidates whose operators impose none get
   the plain "all leaves" answer, which is not counted), and for its cross
   sections between the root and its open leaves (`cross_sections`).

It prints a short report: graphs explored, results per step, time taken, and
a progress line every second or two while a step runs. The cost grows steeply
with the number of steps: 5 steps take well under a second, 6 a few seconds,
7 minutes.

Each step is written against the `concurrent.futures.Executor` interface, so
the same code runs in this process, on worker processes (`--workers N`) or on
a Dask cluster (`--dask ADDRESS`, or `--dask local` for a cluster on this
machine). A `RustGraph` cannot be pickled, so the frontier travels as plain
descriptions (`GraphDesc`: nodes and links in id order); a worker rebuilds
each candidate into a `RustGraph`, runs the hot loops there and sends back
descriptions and counts. Batches of candidates go out in order and their
results are merged in order, so every run gives the same report.
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
import pickle
import signal
import sys
import time
from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import FIRST_COMPLETED, Executor, Future, ProcessPoolExecutor, wait
from contextlib import ExitStack, contextmanager
from functools import partial
from typing import ParamSpec, TypeVar

import kestrane
from kestrane import RustGraph

# Types and operators of the toy grammar: name -> (result type, argument types).
INT, LIST, BOOL = 0, 1, 2
TYPE_NAMES = {INT: "Int", LIST: "List", BOOL: "Bool"}
OPERATORS: dict[int, tuple[str, int, tuple[int, ...]]] = {
    0: ("add", INT, (INT, INT)),
    1: ("len", INT, (LIST,)),
    2: ("range", LIST, (INT,)),
    3: ("less", BOOL, (INT, INT)),
    4: ("filter", LIST, (LIST, BOOL)),
    5: ("one", INT, ()),
}
# Which argument positions of an operator must be bound together.
OP_SNAPSHOT: dict[int, dict[str, object]] = {
    0: {"conditions": [[0, 1]], "has_callable": False, "cumulative": False},
    3: {"conditions": [[0], [1]], "has_callable": False, "cumulative": False},
    4: {"conditions": [[0, 1]], "has_callable": False, "cumulative": False},
}
MAX_GLUED_LEAVES = 4
SHOWN_PROGRAMS = 5

# A picklable description of a graph, made of plain tuples so that any
# executor can ship it: for each node in id order its payload ((val_id,
# type_id) for a value node, the op id for an operator) and its outgoing links
# in order (the options of a value node, the children of an operator); then
# the root. Rebuilding it gives the same node ids and link order, so every
# later call sees the same graph.
Node = tuple[int, int] | int
GraphDesc = tuple[tuple[Node, ...], tuple[tuple[int, ...], ...], int]
Key = tuple[int, int]


class ValueNode:
    """The Python side's value node: a needed value of one type, with the
    operators that could produce it as options."""

    _next_id = 0

    def __init__(self, type_id: int) -> None:
        self.type_id = type_id
        self.val_id = ValueNode._next_id
        ValueNode._next_id += 1
        self.options: list[tuple[int, list[ValueNode]]] = []

    def mirror(self) -> RustGraph:
        """Mirrors this tree into a new RustGraph rooted at this node."""
        g = kestrane.RustGraph()
        stack: list[tuple[ValueNode, int | None]] = [(self, None)]
        while stack:
            node, parent_op = stack.pop()
            vid = g.add_value_with_payload(node.val_id, node.type_id)
            if parent_op is not None:
                g.connect_op_to_value(parent_op, vid)
            for op_id, children in node.options:
                oid = g.add_op_with_payload(op_id)
                g.connect_value_to_op(vid, oid)
                stack.extend((c, oid) for c in reversed(children))
        g.set_root(0)
        return g


def element(op_id: int) -> RustGraph:
    """The element graph of one operator: a value of its result type with the
    operator as its only option and one open leaf per argument."""
    _, result, args = OPERATORS[op_id]
    v = ValueNode(result)
    v.options.append((op_id, [ValueNode(t) for t in args]))
    return v.mirror()


def describe_graph(g: RustGraph) -> GraphDesc:
    """The picklable description of a graph."""
    nodes: list[Node] = []
    links: list[tuple[int, ...]] = []
    for n in range(g.num_nodes()):
        payload = g.get_value_payload(n) if g.is_value_node(n) else None
        if payload is not None:
            nodes.append(payload)
            links.append(tuple(g.get_options(n)))
        else:
            op_id = g.get_op_id(n)
            if op_id is None:
                raise ValueError(f"node {n} has no payload")
            nodes.append(op_id)
            links.append(tuple(g.get_children(n)))
    return tuple(nodes), tuple(links), g.get_root()


def rebuild(desc: GraphDesc) -> RustGraph:
    """The RustGraph a description was made from."""
    nodes, links, root = desc
    g = kestrane.RustGraph()
    for node in nodes:
        if isinstance(node, tuple):
            g.add_value_with_payload(*node)
        else:
            g.add_op_with_payload(node)
    for n, (node, out) in enumerate(zip(nodes, links, strict=True)):
        connect = g.connect_value_to_op if isinstance(node, tuple) else g.connect_op_to_value
        for m in out:
            connect(n, m)
    g.set_root(root)
    return g


def program(desc: GraphDesc, node: int | None = None, depth: int = 0) -> str:
    """A readable one-line form of a described tree, read from the root's
    first options."""
    nodes, links, root = desc
    node = root if node is None else node
    payload = nodes[node]
    if not isinstance(payload, tuple):
        return "?op"
    if not links[node] or depth > 6:
        return "?" + TYPE_NAMES.get(payload[1], str(payload[1]))
    op = links[node][0]
    op_id = nodes[op]
    name = OPERATORS[op_id][0] if isinstance(op_id, int) and op_id in OPERATORS else "?"
    args = ", ".join(program(desc, c, depth + 1) for c in links[op])
    return f"{name}({args})"


def leaf_type(g: RustGraph, leaf: int) -> int | None:
    payload = g.get_value_payload(leaf)
    return None if payload is None else payload[1]


# ---- the work of one batch of candidates, run wherever the executor runs it

def _name_candidate(err: BaseException, doing: str, step: int, index: int,
                    desc: GraphDesc) -> BaseException | None:
    """Names the candidate a task failed on: adds a note to the exception, or,
    where it could not travel back from a worker process (it does not pickle),
    returns a RuntimeError with the note to raise instead."""
    try:
        text = program(desc)
    except Exception:  # noqa: BLE001 - any failure: the description still names it
        text = repr(desc)
    note = f"while {doing} candidate {index} of step {step}: {text}"
    try:
        pickle.loads(pickle.dumps(err))
    except Exception:  # noqa: BLE001 - whatever pickling raises, the error cannot travel
        stand_in = RuntimeError(f"{type(err).__name__}: {err}")
        stand_in.add_note(note)
        return stand_in
    err.add_note(note)
    return None


@contextmanager
def _naming_candidate(doing: str, step: int, index: int, desc: GraphDesc) -> Iterator[None]:
    """Runs the body for one candidate; an error it raises comes out naming
    that candidate (see _name_candidate)."""
    try:
        yield
    except (KeyboardInterrupt, SystemExit, GeneratorExit):
        raise
    except BaseException as err:
        stand_in = _name_candidate(err, doing, step, index, desc)
        if stand_in is None:
            raise
        # not chained: the cause would have to pickle too
        raise stand_in from None


def graft_batch(step: int, elements: dict[int, GraphDesc], first: int,
                batch: Sequence[GraphDesc]) -> list[tuple[Key, GraphDesc]]:
    """Grafts every element onto every open leaf of the right type, for
    candidates `first`, `first + 1`, ... of the frontier; returns the new
    graphs in order, each shape once (the caller drops shapes that an earlier
    batch or step already gave)."""
    elems = {op_id: rebuild(d) for op_id, d in elements.items()}
    out: list[tuple[Key, GraphDesc]] = []
    seen: set[Key] = set()
    for i, desc in enumerate(batch):
        with _naming_candidate("grafting onto", step, first + i, desc):
            g = rebuild(desc)
            for leaf in g.leaves():
                want = leaf_type(g, leaf)
                for op_id, elem in elems.items():
                    if OPERATORS[op_id][1] != want:
                        continue
                    new_graph, _new_leaves, _others = g.clone_and_attach(elem, leaf)
                    key = (new_graph.connection_hash(), new_graph.equality_hash())
                    if key not in seen:
                        seen.add(key)
                        out.append((key, describe_graph(new_graph)))
    return out


def glue_and_inspect_batch(step: int, first: int,
                           batch: Sequence[GraphDesc]) -> tuple[int, int, int, list[str]]:
    """Glues and inspects candidates `first`, `first + 1`, ... of a step;
    returns the number of glued graphs, of condition lists found (see the
    module's docstring) and of cross sections, and the complete programs
    (those without open leaves) among them."""
    glued = conditions = sections = 0
    complete: list[str] = []
    for i, desc in enumerate(batch):
        with _naming_candidate("gluing", step, first + i, desc):
            g = rebuild(desc)
            leaves = g.leaves()
            if len(leaves) >= 2:
                # graphs beyond the first returned are the ones with leaves glued
                glued += len(kestrane.glue_leaves(g, leaves, [], False, MAX_GLUED_LEAVES)) - 1
            options = g.get_options(g.get_root())
            if options and kestrane.tree_conditions(g, options[0], OP_SNAPSHOT, False):
                conditions += len(kestrane.get_conditions(g, g.get_root(), OP_SNAPSHOT, False))
            sections += len(g.cross_sections(leaves))
            if not leaves:
                complete.append(program(desc))
    return glued, conditions, sections, complete


# ---- spreading batches over an executor

R = TypeVar("R")
P = ParamSpec("P")


class SerialExecutor(Executor):
    """Runs each task in this process as it is submitted."""

    def submit(self, fn: Callable[P, R], /, *args: P.args, **kwargs: P.kwargs) -> Future[R]:
        future: Future[R] = Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except Exception as err:  # noqa: BLE001 - the future carries it, as an executor's does
            future.set_exception(err)
        return future


class Progress:
    """Prints a progress line at most every second while a step runs."""

    def __init__(self, label: str) -> None:
        self.label = label
        self.start = time.perf_counter()
        self.last = self.start

    def tick(self, done: int, total: int) -> None:
        now = time.perf_counter()
        if now - self.last >= 1.0:
            print(f"  ... {self.label}: {done}/{total} ({now - self.start:.1f} s)", file=sys.stderr)
            self.last = now


# Batches are sized to take about this long, so that results, and progress
# lines, come back at least every second or two however long a step is.
BATCH_SECONDS = 0.25
FIRST_BATCH = 16


def _unpickled(task: Callable[[int, Sequence[GraphDesc]], R], first: int,
               batch: bytes) -> tuple[R, float]:
    t0 = time.perf_counter()
    result = task(first, pickle.loads(batch))
    return result, time.perf_counter() - t0


def run_batches(executor: Executor, workers: int, label: str,
                task: Callable[[int, Sequence[GraphDesc]], R],
                items: Sequence[GraphDesc]) -> list[R]:
    """Runs `task(first, batch)` over consecutive batches of `items` and
    returns the results in batch order. Batch sizes follow the time each
    item took in the last batch (growing by at most double), aiming at
    BATCH_SECONDS a batch: long enough that the
    per-task cost stays small, short enough for steady progress lines (a
    batch reports only when it is done, wherever it runs), and no more than
    an eighth of a worker's share, so that every worker gets some. At most two
    batches per worker are in flight at a time. A batch travels as one
    pickled blob: a Dask client would otherwise walk through every tuple in
    it looking for futures, which costs more than the work. If a task fails,
    the batches not yet started are cancelled and its exception is raised
    here."""
    most = max(FIRST_BATCH, -(-len(items) // (8 * workers)))
    size = FIRST_BATCH
    results: dict[int, R] = {}
    pending: dict[Future[tuple[R, float]], tuple[int, int]] = {}
    progress = Progress(label)
    done_items = 0
    first = 0
    try:
        while first < len(items) or pending:
            while first < len(items) and len(pending) < 2 * workers:
                batch = pickle.dumps(items[first:first + size], pickle.HIGHEST_PROTOCOL)
                pending[executor.submit(_unpickled, task, first, batch)] = (first, size)
                first += size
            finished, _ = wait(pending, timeout=1.0, return_when=FIRST_COMPLETED)
            for future in finished:
                start, count = pending.pop(future)
                results[start], seconds = future.result()
                count = min(count, len(items) - start)
                done_items += count
                # Later candidates tend to be larger: grow by at most double.
                fits = int(BATCH_SECONDS * count / seconds) if seconds > 0 else most
                size = max(1, min(most, 2 * size, fits))
            progress.tick(done_items, len(items))
    finally:
        for future in pending:
            future.cancel()
    return [results[start] for start in sorted(results)]


@contextmanager
def signals_held() -> Iterator[None]:
    """Ctrl-C and SIGTERM are ignored inside the block: the cleanup it holds
    runs to its end."""
    held = {sig: signal.signal(sig, signal.SIG_IGN) for sig in (signal.SIGINT, signal.SIGTERM)}
    try:
        yield
    finally:
        for sig, handler in held.items():
            signal.signal(sig, handler)


def ignore_sigint() -> None:
    """In a worker: Ctrl-C is the main process's to handle (it stops the
    workers); a worker that died of it first would only add a traceback."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)


class Terminated(Exception):
    """SIGTERM arrived."""


def stop_on_sigterm(signum: int, frame: object) -> None:
    """SIGTERM ends the run the way Ctrl-C does: workers stopped, nothing left
    running. (Its default action would end this process alone.)"""
    raise Terminated


@contextmanager
def executor_for(workers: int | None, dask: str | None) -> Iterator[tuple[Executor, int, str]]:
    """The executor a run asked for, the number of tasks it runs at once, and
    a line saying where it runs. Worker processes, and a Dask cluster this
    function started, are shut down when the block ends, however it ends."""
    if dask is None:
        if workers is None:
            yield SerialExecutor(), 1, "in this process"
            return
        # Workers are not forked from this process, which may have threads
        # (a Dask client's, say) that a fork would copy mid-step.
        methods = multiprocessing.get_all_start_methods()
        context = multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")
        pool = ProcessPoolExecutor(workers, mp_context=context, initializer=ignore_sigint)
        try:
            yield pool, workers, f"on {workers} worker processes"
        except BaseException:
            # The batches still running are of no use now: stop their workers
            # rather than wait for them. A second Ctrl-C (or a SIGTERM) must
            # not cut this short, or workers outlive the run and the pool's
            # manager thread is joined forever at exit.
            with signals_held():
                pool.shutdown(wait=False, cancel_futures=True)
                for process in multiprocessing.active_children():
                    process.terminate()
                for process in multiprocessing.active_children():
                    process.join(5)
                    if process.is_alive():
                        process.kill()
                        process.join()
            raise
        pool.shutdown(wait=True)
        return
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        raise SystemExit("--dask needs dask.distributed: pip install 'dask[distributed]'") from None
    with ExitStack() as stack:
        if dask == "local":
            cluster = stack.enter_context(LocalCluster(  # type: ignore[no-untyped-call]
                n_workers=workers or 2, threads_per_worker=1, processes=True,
                host="127.0.0.1", scheduler_port=0, dashboard_address=":0"))
            client = stack.enter_context(Client(cluster))  # type: ignore[no-untyped-call]
        else:
            client = stack.enter_context(Client(dask))  # type: ignore[no-untyped-call]
        slots = max(1, sum(client.nthreads().values()))
        executor = client.get_executor(pure=False)
        try:
            yield executor, slots, f"on the Dask cluster at {client.scheduler.address} ({slots} threads)"
        except BaseException:
            executor.shutdown(wait=False)
            raise
        executor.shutdown(wait=True)


# ---- the search

def search(executor: Executor, workers: int, steps: int, goal: int = INT) -> None:
    t0 = time.perf_counter()
    elements = {op_id: describe_graph(element(op_id)) for op_id in OPERATORS}
    start = ValueNode(goal).mirror()
    frontier = [describe_graph(start)]
    seen = {(start.connection_hash(), start.equality_hash())}
    explored = 1
    complete: list[str] = []
    print(f"search for a value of type {TYPE_NAMES[goal]}: {len(OPERATORS)} operators, {steps} steps")
    for step in range(1, steps + 1):
        ts = time.perf_counter()
        grown: list[GraphDesc] = []
        for batch in run_batches(executor, workers, "graft",
                                 partial(graft_batch, step, elements), frontier):
            for key, desc in batch:
                if key not in seen:
                    seen.add(key)
                    grown.append(desc)
        glued = conditions = sections = 0
        complete = []
        for g, c, s, done in run_batches(executor, workers, "glue",
                                         partial(glue_and_inspect_batch, step), grown):
            glued += g
            conditions += c
            sections += s
            complete.extend(done)
        explored += len(grown) + glued
        print(f"step {step}: {len(grown):6d} grafted, {glued:6d} glued, "
              f"{conditions:6d} conditions, {sections:7d} cross sections "
              f"({time.perf_counter() - ts:.2f} s)")
        frontier = grown
    shown = complete[:SHOWN_PROGRAMS]
    tail = "" if not shown else ":" if len(shown) == len(complete) else f", the first {len(shown)}:"
    print(f"explored {explored} graphs in {time.perf_counter() - t0:.2f} s; "
          f"{len(complete)} complete programs in the last step{tail}")
    for text in shown:
        print("  ", text)


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(
        description="Grows programs of a toy grammar breadth-first with kestrane and "
                    "prints what each step found.")
    parser.add_argument("steps", nargs="?", type=int, default=5,
                        help="number of search steps (default 5). The cost grows steeply "
                             "with each step: 5 steps take well under a second, 6 a few "
                             "seconds, 7 several minutes")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="run the steps on N worker processes (with --dask local: "
                             "the number of Dask workers, default 2)")
    parser.add_argument("--dask", metavar="ADDRESS",
                        help="run the steps on the Dask cluster at ADDRESS; 'local' starts "
                             "one on 127.0.0.1 and closes it at the end")
    args = parser.parse_args(argv)
    if args.steps < 0:
        parser.error("steps must not be negative")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    if args.workers is not None and args.dask not in (None, "local"):
        parser.error("--workers sets the size of a local cluster; a remote one has its own")
    signal.signal(signal.SIGTERM, stop_on_sigterm)
    try:
        with executor_for(args.workers, args.dask) as (executor, workers, where):
            print(f"running {where}", file=sys.stderr)
            search(executor, workers, args.steps)
    except (KeyboardInterrupt, Terminated) as stop:
        # The workers are stopped by now. A worker pool's own threads may
        # still wait on queues that no worker reads any more, and the
        # interpreter would join them at exit for ever: end here instead.
        print("stopped", file=sys.stderr)
        sys.stdout.flush()
        sys.stderr.flush()
        os._exit(128 + (signal.SIGINT if isinstance(stop, KeyboardInterrupt) else signal.SIGTERM))


if __name__ == "__main__":
    main()
