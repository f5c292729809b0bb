"""Task functions for the helixo.parallel suite, in a module of their own so that worker
processes import them by name without importing pytest or the suites."""

from __future__ import annotations

import os
import signal
import time


def pid(_item) -> int:
    """The worker process's id."""
    return os.getpid()


def die_at(item: int, victim: int = 2) -> int:
    """item itself, except that the victim kills its own worker process (after a pause, so
    that the other items are done by then)."""
    if item == victim:
        time.sleep(0.3)
        os.kill(os.getpid(), signal.SIGKILL)
    return item
