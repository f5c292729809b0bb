"""Fixtures shared by the helixo suites: where the build is, and hxrun as a peer."""

from __future__ import annotations

import json
import os
import pathlib
import subprocess

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]


def build_dir() -> pathlib.Path:
    """The build folder under test: HELIXO_BUILD_DIR (set by ctest), else build/."""
    return pathlib.Path(os.environ.get("HELIXO_BUILD_DIR", REPO / "build"))


@pytest.fixture(scope="session")
def hxrun() -> pathlib.Path:
    path = build_dir() / "bin" / "hxrun"
    if not path.exists():
        pytest.fail(f"hxrun is not built at {path}")
    return path


@pytest.fixture(scope="session")
def sample() -> pathlib.Path:
    """The bundled sample folder (sample.bam, sample.bam.bai, sample.sam)."""
    return REPO / "sample"


def run_hxrun_json(hxrun_path: os.PathLike, plugin: str, args: list[str], nout: int,
                   workdir: os.PathLike, interrupt_at: int = 0) -> dict:
    """Runs hxrun with --json into a file of workdir and returns the parsed document
    with the process's standard output added under "stdout"."""
    doc = pathlib.Path(workdir) / "hxrun.json"
    command = [str(hxrun_path), "--nout", str(nout), "--json", str(doc)]
    if interrupt_at:
        command += ["--interrupt-at", str(interrupt_at)]
    done = subprocess.run(command + [plugin] + list(args), capture_output=True, check=False)
    if done.returncode not in (0, 1, 130):
        raise AssertionError(f"hxrun failed ({done.returncode}): {done.stderr.decode()}")
    result = json.loads(doc.read_text(encoding="utf-8"))
    result["stdout"] = done.stdout
    return result
