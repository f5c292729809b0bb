"""Ctrl-C during a call, for real: a child /usr/bin/python3 runs a long call and receives
SIGINT from this process. The stop reaches the plug-in through its polls and is raised as
helixo.Interrupted; Python's own handler is back after the call; a second Ctrl-C that the
plug-in does not service ends the process as hxrun's does."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import helixo

from conftest import build_dir

PYTHON = "/usr/bin/python3"


def child_env() -> dict:
    env = dict(os.environ)
    package = str(build_dir() / "python")
    env["PYTHONPATH"] = package + (os.pathsep + env["PYTHONPATH"] if env.get("PYTHONPATH") else "")
    return env


def start_child(script: str) -> subprocess.Popen:
    return subprocess.Popen([PYTHON, "-c", textwrap.dedent(script)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=child_env(), text=True)


def wait_until(condition, child, seconds=30.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if child.poll() is not None or time.monotonic() > deadline:
            out, err = child.communicate(timeout=5) if child.poll() is not None else ("", "")
            child.kill()
            pytest.fail(f"the child did not get there: {out} {err}")
        time.sleep(0.001)


class PipeFeeder:
    """Writes table lines into a named pipe until the reader closes it or `stop` is called,
    so the scan reading it is still running whenever the test sends its signal."""

    def __init__(self, path):
        os.mkfifo(path)
        self.path = path
        self.written = 0
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self.feed, daemon=True)
        self.thread.start()

    def feed(self):
        lines = b"".join(b"k%d\tv\n" % k for k in range(1000))
        try:
            with open(self.path, "wb", buffering=0) as pipe:
                while not self.stopped.is_set():
                    pipe.write(lines)
                    self.written += len(lines)
        except BrokenPipeError:
            pass

    def stop(self):
        self.stopped.set()
        if self.thread.is_alive():
            # A reader that never came: open the other end so the feeder's open returns.
            os.close(os.open(self.path, os.O_RDONLY | os.O_NONBLOCK))
        self.thread.join(timeout=30)


def test_ctrl_c_stops_a_long_flatmark_scan_and_python_gets_its_handler_back(tmp_path):
    source = tmp_path / "long.tsv"
    feeder = PipeFeeder(source)
    index = tmp_path / "long.idx"
    child = start_child(f"""
        import signal, sys, time
        import helixo
        try:
            helixo.call("flatmark", "table", {str(source)!r}, {str(index)!r}, True, True, True,
                        0, "", "", "", "\\t", "", nout=2)
            print("returned")
        except helixo.Interrupted as err:
            print("Interrupted", err.identifier)
        except KeyboardInterrupt as err:
            print("KeyboardInterrupt", type(err).__name__)
        print("handler", signal.getsignal(signal.SIGINT) is signal.default_int_handler)
        try:
            signal.raise_signal(signal.SIGINT)
            time.sleep(5)
            print("no KeyboardInterrupt")
        except KeyboardInterrupt as err:
            print("later", type(err).__name__)
    """)
    try:
        # A pipe holds 64 KiB: once several MiB went in, the scan is under way, and it cannot
        # end before the signal because the pipe stays open until the child closes it.
        wait_until(lambda: feeder.written > (4 << 20), child)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        feeder.stop()
    assert child.returncode == 0, err
    assert out.splitlines() == ["Interrupted helixo:flatmark:IterruptedByUser", "handler True",
                                "later KeyboardInterrupt"]
    # Stopped during the scan: the placeholder header and the keys so far, no magic.
    assert index.read_bytes()[:512] == bytes(512)


def test_ctrl_c_reaches_a_polling_plugin_on_the_main_thread():
    probe = build_dir() / "bin" / "hxprobe.so"
    child = start_child(f"""
        import sys, helixo
        print("calling", flush=True)
        try:
            helixo.call({str(probe)!r}, "wait_for_interrupt")
            print("returned")
        except KeyboardInterrupt as err:
            print(type(err).__name__, getattr(err, "identifier", None))
    """)
    assert child.stdout.readline() == "calling\n"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=60)
    assert child.returncode == 0, err
    # The console text of the stopped call reaches stdout before the exception.
    assert out.splitlines() == ["waiting", "Interrupted helixo:probe:IterruptedByUser"]


def test_a_second_ctrl_c_ends_a_call_that_does_not_poll():
    probe = build_dir() / "bin" / "hxprobe.so"
    child = start_child(f"""
        import helixo
        print("calling", flush=True)
        helixo.call({str(probe)!r}, "sleep_without_polling")
        print("returned")
    """)
    assert child.stdout.readline() == "calling\n"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    time.sleep(0.2)
    assert child.poll() is None  # the first one waits for a poll that never comes
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=30)
    assert child.returncode == -signal.SIGINT
    assert "returned" not in out


@pytest.mark.skipif(sys.platform != "linux", reason="thread signal delivery as on Linux")
def test_calls_from_other_threads_leave_ctrl_c_to_python():
    probe = build_dir() / "bin" / "hxprobe.so"
    child = start_child(f"""
        import threading, time, helixo
        done = []
        def work():
            done.append(helixo.call({str(probe)!r}, "handle_loop", 3e8, nout=1)[0])
        thread = threading.Thread(target=work)
        thread.start()
        try:
            print("calling", flush=True)
            time.sleep(10)
            print("slept")
        except KeyboardInterrupt as err:
            print(type(err).__name__)
        thread.join()
        print(done)
    """)
    assert child.stdout.readline() == "calling\n"
    time.sleep(0.1)
    child.send_signal(signal.SIGINT)  # Python's handler: the main thread's sleep ends
    out, err = child.communicate(timeout=60)
    assert child.returncode == 0, err
    assert out.splitlines() == ["KeyboardInterrupt", "[300000000.0]"]


def test_a_stop_request_from_another_thread_reaches_a_call_on_a_worker_thread():
    # As a parallel worker's event loop stops the task its executor thread runs: that
    # thread's call installs no SIGINT handler, so the request is the only way in.
    from helixo import _host
    probe = build_dir() / "bin" / "hxprobe.so"
    outcome = []

    def work():
        try:
            outcome.append(helixo.call(probe, "wait_for_interrupt"))
        except helixo.Interrupted as err:
            outcome.append(err.identifier)

    thread = threading.Thread(target=work)
    thread.start()
    deadline = time.monotonic() + 30
    # A request made before the call began is cleared by it, so it is repeated until seen.
    while thread.is_alive() and time.monotonic() < deadline:
        _host.request_interrupt()
        thread.join(0.05)
    assert not thread.is_alive()
    assert outcome == ["helixo:probe:IterruptedByUser"]


def test_a_stop_request_while_no_call_runs_does_not_reach_the_next_call():
    from helixo import _host
    probe = build_dir() / "bin" / "hxprobe.so"
    _host.request_interrupt()
    assert helixo.call(probe, "handle_loop", 1000.0, nout=1) == (1000.0,)
