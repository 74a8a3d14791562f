"""The python examples of docs/python.md run, and their asserts hold."""

import pathlib
import re

import pytest

DOC = pathlib.Path(__file__).resolve().parents[2] / "docs" / "python.md"
EXAMPLES = re.findall(r"^```python\n(.*?)^```", DOC.read_text(encoding="utf-8"), re.M | re.S)


@pytest.mark.parametrize("code", EXAMPLES, ids=[f"example{i}" for i in range(len(EXAMPLES))])
def test_example_runs(code, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    exec(compile(code, str(DOC), "exec"), {"__name__": "__doc_example__"})
