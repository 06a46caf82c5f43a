"""The wheel and the sdist: built from this tree, the wheel installed into a
fresh virtual environment and imported there (marker `wheel`: it rebuilds the
extension, so it runs only when asked for with `-m wheel`), the sdist
complete. Skipped where they cannot run: without a C++ compiler or the build
backend (a test of an installed wheel), and, for the sdist's file list,
outside a git checkout (an unpacked sdist)."""

import os
import shutil
import subprocess
import sys
import tarfile
import venv
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent

pytestmark = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                reason="packaging is checked in the ordinary build")


def run(*cmd, cwd=None):
    proc = subprocess.run([str(c) for c in cmd], cwd=cwd, capture_output=True, text=True, timeout=900)
    assert proc.returncode == 0, proc.stdout[-3000:] + proc.stderr[-3000:]
    return proc.stdout


def git_checkout():
    try:
        top = subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=ROOT, capture_output=True,
                             text=True, timeout=60)
    except OSError:
        return False
    return top.returncode == 0 and Path(top.stdout.strip()).resolve() == ROOT


@pytest.mark.wheel
def test_wheel_installs_into_fresh_venv(tmp_path):
    pytest.importorskip("scikit_build_core")
    if not any(shutil.which(c) for c in (os.environ.get("CXX", "c++"), "c++", "g++", "clang++")):
        pytest.skip("no C++ compiler on PATH")
    dist = tmp_path / "dist"
    run(sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-w", dist,
        "-C", f"build-dir={tmp_path / 'build'}", ROOT)
    wheels = list(dist.glob("kestrane-*.whl"))
    assert len(wheels) == 1
    env = tmp_path / "env"
    venv.create(env, with_pip=True)
    py = env / "bin" / "python"
    run(py, "-m", "pip", "install", "-q", "--no-index", "--no-deps", wheels[0])
    out = run(py, "-c", "import kestrane, pathlib; g = kestrane.RustGraph(); "
                        "g.add_value_with_payload(1, 2); print(kestrane.__all__[0], g.leaves()); "
                        "import importlib.util as u; "
                        "print(pathlib.Path(u.find_spec('kestrane').origin).parent.joinpath("
                        "'kestrane-stubs', '__init__.pyi').is_file())", cwd=tmp_path)
    assert out.split() == ["RustGraph", "[0]", "True"]


def test_sdist_is_complete(tmp_path):
    pytest.importorskip("build")
    pytest.importorskip("scikit_build_core")
    if not git_checkout():
        pytest.skip("not a git checkout: no list of tracked files to compare with")
    run(sys.executable, "-m", "build", "--sdist", "--no-isolation", "-o", tmp_path, ROOT)
    sdists = list(tmp_path.glob("kestrane-*.tar.gz"))
    assert len(sdists) == 1
    with tarfile.open(sdists[0]) as tar:
        names = {n.split("/", 1)[1] for n in tar.getnames() if "/" in n}
    tracked = run("git", "ls-files", cwd=ROOT).split()
    wanted = [f for f in tracked if f.startswith(("src/", "tests/", "stubs/", "bench/", "examples/"))]
    wanted += ["pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE", "CHANGELOG.md"]
    assert not [f for f in wanted if f not in names]
