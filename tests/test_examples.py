"""The demos a newcomer runs first."""

import multiprocessing
import re
from functools import partial
from pathlib import Path

import pytest

from helpers import run_python

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def run(script, *args):
    proc = run_python(EXAMPLES / script, *args)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


@pytest.mark.parametrize("script, args, expect", [
    ("demo.py", [], "leaves: [2, 3]"),
    ("search_demo.py", [], "6 complete programs in the last step, the first 5:"),
    # conditions are counted where the operators impose some, not per candidate
    ("search_demo.py", ["5"], "step 5: 610 grafted, 8186 glued, 514 conditions, 4037 cross sections"),
    ("search_demo.py", ["--help"], "The cost grows steeply with each step: 5 steps take well under a second"),
])
def test_example_runs(script, args, expect):
    assert expect in " ".join(run(script, *args).split())


@pytest.fixture
def dask_cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", scheduler_port=0,
                                  dashboard_address=":0") as cluster:
        yield cluster.scheduler_address


@pytest.mark.parametrize("where", ["processes", "dask"])
def test_search_demo_spread_over_workers_reports_as_serial(where, request):
    args = (["--workers", "2"] if where == "processes"
            else ["--dask", request.getfixturevalue("dask_cluster")])

    def report(*args):
        return re.sub(r"\d+\.\d+ s", "_ s", run("search_demo.py", "5", *args))

    assert report(*args) == report()


@pytest.mark.parametrize("dask, bad, error", [
    # a payload that is no integer: the worker's TypeError comes back as it is
    (None, ((("x", 0),), ((),), 0), TypeError),
    # a link to a missing node: the graph's PanicException does not pickle, so
    # a RuntimeError that names it comes back instead
    ("local", (((0, 0),), ((9,),), 0), RuntimeError),
])
def test_search_demo_failing_worker(dask, bad, error, monkeypatch):
    if dask:
        pytest.importorskip("distributed")
    monkeypatch.syspath_prepend(str(EXAMPLES))
    import search_demo as sd

    good = sd.describe_graph(sd.element(0))
    with pytest.raises(error) as info:
        with sd.executor_for(2, dask) as (executor, workers, _):
            sd.run_batches(executor, workers, "glue", partial(sd.glue_and_inspect_batch, 3),
                           [good] * 40 + [bad] + [good] * 40)
    assert "while gluing candidate 40 of step 3: " in info.value.__notes__[0]
    assert not multiprocessing.active_children()


def group_alive(pgid):
    """The processes of a process group that are still running (not zombies)."""
    alive = []
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[2]) == pgid and fields[0] != "Z":
            alive.append(stat.parent.name)
    return alive


@pytest.mark.skipif(not Path("/proc/self/stat").exists(), reason="needs /proc")
@pytest.mark.parametrize("signals", [["SIGINT"], ["SIGINT", "SIGINT"], ["SIGTERM"]])
def test_search_demo_stopped_leaves_no_process(signals):
    # Ctrl-C reaches the whole group (as from a terminal); SIGTERM the main process.
    import os
    import signal
    import subprocess
    import sys
    import time

    # A run that is signalled part-way needs Popen, not run_python.
    proc = subprocess.Popen([sys.executable, str(EXAMPLES / "search_demo.py"), "7", "--workers", "2"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
    time.sleep(3)
    for i, name in enumerate(signals):
        if i:
            time.sleep(0.05)
        sig = getattr(signal, name)
        (os.killpg if sig == signal.SIGINT else os.kill)(proc.pid, sig)
    proc.communicate(timeout=60)
    deadline = time.monotonic() + 10
    while group_alive(proc.pid) and time.monotonic() < deadline:
        time.sleep(0.1)
    assert group_alive(proc.pid) == []
