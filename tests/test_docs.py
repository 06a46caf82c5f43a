"""The code in README.md and ARCHITECTURE.md, run as a reader would run it."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
FENCE = re.compile(r"^```(\w*)\n(.*?)^```$", re.S | re.M)


@pytest.mark.parametrize("doc", ["README.md", "ARCHITECTURE.md"])
def test_code_blocks_run(doc, tmp_path):
    path = ROOT / doc
    if not path.is_file():
        pytest.skip(f"no {doc} beside the tests (a run against an installed wheel)")
    text = path.read_text()
    # make creates .venv-3.11 and the like, never .venv
    assert not re.findall(r"\.venv/", text)
    blocks = FENCE.findall(text)
    assert {lang for lang, _ in blocks} <= {"python", "text"}, "a block that is neither code nor text"
    # One script in reading order, as a later block may use what an earlier one
    # made; a file, so that worker processes can import its functions.
    script = tmp_path / "blocks.py"
    script.write_text("\n".join(body for lang, body in blocks if lang == "python"))
    proc = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=300,
                          cwd=tmp_path)
    assert proc.returncode == 0, proc.stderr
