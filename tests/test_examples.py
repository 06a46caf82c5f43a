"""The demos a newcomer runs first."""

import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


@pytest.mark.parametrize("script, expect", [
    ("demo.py", "leaves: [2, 3]"),
    ("search_demo.py", "complete programs in the last step"),
])
def test_example_runs(script, expect):
    proc = subprocess.run([sys.executable, str(EXAMPLES / script)], capture_output=True, text=True,
                          timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert expect in proc.stdout
