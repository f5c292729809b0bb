"""Finding and loading the plug-ins, and one host shared by every Python thread: calls are
serialised, the GIL is released while a plug-in runs, and arrays freed by other threads
during a call are handed back to the host afterwards."""

from __future__ import annotations

import gc
import json
import os
import pathlib
import subprocess
import threading
import time

import numpy as np
import pytest

import helixo
from helixo import calls

from conftest import build_dir

PYTHON = "/usr/bin/python3"


def run_child(script: str, plugin_path) -> dict:
    env = dict(os.environ)
    env["PYTHONPATH"] = str(build_dir() / "python")
    env["HELIXO_PLUGIN_PATH"] = str(plugin_path)
    done = subprocess.run([PYTHON, "-c", script], env=env, capture_output=True, text=True,
                          check=False, timeout=60)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


LOOKUP = """
import json, helixo
try:
    result = {"outputs": [int(v) for v in helixo.call("flatmark", "fasta", "/nonexistent",
              "/nonexistent", True, True, True, 0, "", "", "", "\\t", "", nout=2)]}
except helixo.HelixoError as err:
    result = {"identifier": err.identifier, "message": err.message}
print(json.dumps(result))
"""


def test_an_empty_plugin_folder_gives_plugin_not_found_naming_the_path(tmp_path):
    empty = tmp_path / "empty"
    empty.mkdir()
    result = run_child(LOOKUP, empty)
    assert result["identifier"] == "helixo:python:PluginNotFound"
    assert str(empty / "flatmark.so") in result["message"]
    # only the folder named: nothing beside the package was tried
    assert str(build_dir() / "bin") not in result["message"]


def test_the_plugin_folder_setting_is_used_when_it_holds_the_plugin():
    result = run_child(LOOKUP, build_dir() / "bin")
    assert result["identifier"] == "helixo:flatmark:CannotOpenInFile"


def test_without_the_setting_every_place_tried_is_named(monkeypatch, tmp_path):
    monkeypatch.delenv("HELIXO_PLUGIN_PATH", raising=False)
    tried = calls.plugin_candidates("nosuchplugin")
    package = pathlib.Path(calls.__file__).resolve().parent
    assert tried[:2] == [package / "nosuchplugin.so", package.parent.parent / "bin" / "nosuchplugin.so"]
    with pytest.raises(helixo.HelixoError) as caught:
        helixo.call("nosuchplugin")
    assert caught.value.identifier == "helixo:python:PluginNotFound"
    for path in tried:
        assert str(path) in caught.value.message


@pytest.mark.parametrize("plugin,reason", [
    (lambda tmp: tmp / "missing.so", "missing.so"),
    (lambda tmp: str(tmp / "missing.so"), "missing.so"),
    (lambda tmp: build_dir() / "bin" / "libhxhost.so", "hxFunction"),
    (lambda tmp: tmp, "missing"),
], ids=["path", "text", "no-entry", "folder"])
def test_paths_that_cannot_be_loaded_give_plugin_not_found(tmp_path, plugin, reason):
    with pytest.raises(helixo.HelixoError) as caught:
        helixo.call(plugin(tmp_path))
    assert caught.value.identifier == "helixo:python:PluginNotFound"
    assert str(reason if reason != "missing" else tmp_path) in caught.value.message


@pytest.mark.parametrize("plugin", [3, None, b"flatmark", ["flatmark"]])
def test_a_plugin_is_named_by_text_or_a_path(plugin):
    with pytest.raises(TypeError, match="plugin"):
        helixo.call(plugin)


def test_threads_share_the_host_and_leak_nothing():
    probe = build_dir() / "bin" / "hxprobe.so"
    gc.collect()
    before = helixo.live_arrays()
    failures = []

    def work(seed):
        rng = np.random.default_rng(seed)
        kept = []
        for _ in range(30):
            array = rng.normal(size=(int(rng.integers(2, 50)), 3))
            (copy,) = helixo.call(probe, "echo", array, nout=1)
            if not np.array_equal(copy, array):
                failures.append(seed)
            kept.append(copy)
            if len(kept) > 3:
                kept.pop(0)  # freed on this thread while others call
    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    gc.collect()
    assert helixo.live_arrays() == before


def test_other_threads_run_while_a_plugin_runs():
    probe = build_dir() / "bin" / "hxprobe.so"
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)
    ticker = threading.Thread(target=count)
    ticker.start()
    time.sleep(0.01)
    started = time.monotonic()
    helixo.call(probe, "handle_loop", 1e8, nout=1)
    ended = time.monotonic()
    stop.set()
    ticker.join()
    during = [t for t in ticks if started < t < ended]
    assert ended - started > 0.05
    assert len(during) >= 10


def test_a_second_thread_waits_for_the_running_call():
    probe = build_dir() / "bin" / "hxprobe.so"
    spans = {}

    def one_call():
        start = time.monotonic()
        helixo.call(probe, "handle_loop", 5e7, nout=1)
        return start, time.monotonic()

    # A call alone, at its fastest: load on the machine only makes a call slower than this.
    alone = min(end - start for start, end in (one_call(), one_call()))

    def work(name):
        spans[name] = one_call()
    threads = [threading.Thread(target=work, args=(k,)) for k in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    # Serialised: the call that ends last ran whole after the other one ended (whichever thread
    # took the host first). Calls run side by side would end about together.
    first_end, last_end = sorted(end for _, end in spans.values())
    assert last_end - first_end >= 0.5 * alone
