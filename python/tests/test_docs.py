"""The Python examples of README.md and docs/python.md run as they are written, from the
repository root."""

import os
import re

import pytest

from conftest import SOURCE_DIR


def python_blocks(path, section=None):
    text = (SOURCE_DIR / path).read_text()
    if section is not None:
        start = text.index(section)
        end = text.find("\n## ", start + len(section))
        text = text[start:end if end >= 0 else None]
    return re.findall(r"```python\n(.*?)```", text, re.S)


EXAMPLES = ([("README.md", i, code) for i, code in
             enumerate(python_blocks("README.md", "## Python"))] +
            [("docs/python.md", i, code) for i, code in
             enumerate(python_blocks("docs/python.md"))])


def test_the_readme_has_an_example():
    assert any(name == "README.md" for name, _, _ in EXAMPLES)


@pytest.mark.parametrize("name,index,code", EXAMPLES,
                         ids=["%s-%d" % (name, index) for name, index, _ in EXAMPLES])
def test_example(name, index, code, monkeypatch, tmp_path):
    monkeypatch.chdir(SOURCE_DIR)
    code = code.replace('"/tmp/', '"%s/' % tmp_path)
    exec(compile(code, "%s example %d" % (name, index), "exec"), {"__name__": "example"})
