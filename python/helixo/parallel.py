"""Plug-in calls spread over worker processes with Dask's distributed scheduler.

The plug-ins run one call at a time on one thread; a cohort of BAM files, the references of
a large BAM file or a folder of text files to index split into pieces of one call each, and
this module runs those pieces side by side in worker processes, each with its own host:

    >>> import helixo
    >>> helixo.parallel.starts("x.bam", "x.bam.bai")        # every reference, both cores
    >>> helixo.parallel.baminfo(bams, client="tcp://head:8786")   # on a cluster

``client`` picks where the pieces run, in every function:

* ``None``: a local cluster of worker processes, one per core with one thread each, started
  at the first call that needs it and reused for the life of the process (shut down at
  exit); the scheduler allows one retry of a task whose worker died, and hands each worker
  one task at a time.
* a ``distributed.Client``: its cluster.
* a scheduler address (``"tcp://host:8786"``): a client of that scheduler, made at the first
  call and reused. Workers need ``helixo`` installed and the files at the same paths.

File names are made absolute in the caller, so that relative names mean what they mean
there. Results come back in the caller's order. A task's error is raised as itself (a
``HelixoError`` keeps its identifier and message) with the failing item in its ``item``
attribute; a worker process that died running a task gives ``helixo:python:WorkerLost``.
Ctrl-C cancels what is pending, sends the stop request to the hosts of the workers running
the tasks (their plug-in calls stop at their next poll, leaving files as each service does
after a stop) and raises ``helixo.Interrupted``. A run that lasts more than a few seconds
shows Dask's progress bar when the caller's output is a terminal or a Jupyter kernel.
"""

from __future__ import annotations

import asyncio
import atexit
import concurrent.futures
import inspect
import logging
import os
import re
import signal
import sys
import threading
import time
import uuid
from collections.abc import Iterable
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

import dask
import distributed
from distributed.diagnostics.progressbar import TextProgressBar

from . import _arguments as arg
from . import alignport, flatmark
from .alignments import Alignments
from .errors import HelixoError, Interrupted

__all__ = ["baminfo", "close", "features", "index", "local_cluster", "map", "sam_file_name",
           "saminfo", "starts", "writesambyregion"]

WORKER_LOST = "helixo:python:WorkerLost"
SCHEDULER_UNREACHABLE = "helixo:python:SchedulerUnreachable"
INTERRUPTED = "helixo:python:IterruptedByUser"
STOP_MESSAGE = "Operation terminated by user."

#: Seconds a client waits for a scheduler address to answer.
CONNECT_SECONDS = 5.0
#: Seconds a run lasts before its progress bar appears.
PROGRESS_AFTER_SECONDS = 2.0
#: Seconds the caller waits, after Ctrl-C, for the running calls to reach their stop.
STOP_SECONDS = 30.0
#: Retries of a task whose worker died, on the local cluster (the scheduler's
#: allowed-failures: the second death of a worker under the same task reports it).
LOCAL_ALLOWED_FAILURES = 1
#: Tasks the local cluster's scheduler hands a worker per thread (worker-saturation): one, so
#: that a worker's death is charged to the task it was running, not to tasks queued behind it
#: (a plug-in call lasts far longer than the round trip that fetches the next task).
LOCAL_WORKER_SATURATION = 1.0

ClientArg = Union[None, str, distributed.Client]
Errors = str

# --- clients --------------------------------------------------------------------------------

_lock = threading.Lock()
_local: Optional[Tuple[Any, distributed.Client]] = None
_by_address: Dict[str, distributed.Client] = {}
_exit_registered = False


class _QuietWorker(distributed.WorkerPlugin):
    """Leaves Ctrl-C to the caller in the local cluster's worker processes: a terminal's
    Ctrl-C reaches the whole process group, and a worker must not die of it; the caller
    delivers the stop request itself."""

    name = "helixo-quiet-worker"

    def setup(self, worker: Any) -> None:  # runs on the worker's event loop, its main thread
        if threading.current_thread() is threading.main_thread():
            signal.signal(signal.SIGINT, signal.SIG_IGN)


def _cores() -> int:
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # macOS has no affinity masks
        return max(1, os.cpu_count() or 1)


def _register_exit() -> None:
    global _exit_registered
    if not _exit_registered:
        atexit.register(close)
        _exit_registered = True


def local_cluster(n_workers: Optional[int] = None) -> Tuple[Any, distributed.Client]:
    """Starts a local cluster as the embedded default makes it and returns (cluster, client).

    Args:
        n_workers: worker processes (one thread each); None: one per core.
    Returns:
        The ``distributed.LocalCluster`` and a client of it (not made Dask's default client);
        the caller closes both.
    """
    n = _cores() if n_workers is None else arg.count("local_cluster", "n_workers", n_workers)
    with dask.config.set({"distributed.scheduler.allowed-failures": LOCAL_ALLOWED_FAILURES,
                          "distributed.scheduler.worker-saturation": LOCAL_WORKER_SATURATION}):
        cluster = distributed.LocalCluster(
            n_workers=n, threads_per_worker=1, processes=True, host="127.0.0.1",
            dashboard_address=None, silence_logs=logging.ERROR,
            # The scheduler serves HTTP even without a dashboard, on port 8787 unless told
            # otherwise; a second session would warn that the port is taken. Any free port on
            # loopback instead.
            scheduler_kwargs={"dashboard": False, "dashboard_address": "127.0.0.1:0"})
    try:
        # Results come straight from the worker that holds them, not relayed by the scheduler.
        client = distributed.Client(cluster, set_as_default=False, direct_to_workers=True)
        client.register_worker_plugin(_QuietWorker(), name=_QuietWorker.name)
    except BaseException:
        cluster.close()
        raise
    return cluster, client


def _local_client() -> distributed.Client:
    global _local
    with _lock:
        if _local is None:
            _local = local_cluster()
            _register_exit()
        return _local[1]


def _address_client(address: str) -> distributed.Client:
    with _lock:
        client = _by_address.get(address)
        if client is not None and client.status == "running":
            return client
        try:
            client = distributed.Client(address, timeout=CONNECT_SECONDS, set_as_default=False)
        except (OSError, TimeoutError, ValueError) as error:
            raise HelixoError(
                SCHEDULER_UNREACHABLE,
                f"No scheduler answered at '{address}' within {CONNECT_SECONDS:g} s: {error}"
            ) from error
        _by_address[address] = client
        _register_exit()
        return client


def _client(func: str, client: ClientArg) -> distributed.Client:
    if client is None:
        return _local_client()
    if isinstance(client, distributed.Client):
        return client
    if isinstance(client, str):
        return _address_client(client)
    raise TypeError(f"{func}: client must be None, a distributed.Client or a scheduler "
                    f"address (str), not {type(client).__name__}")


def close(client: Union[None, str] = None) -> None:
    """Closes what this module opened: the local cluster and the clients of addresses.

    Args:
        client: None: all of it (what runs at exit); an address: that address's client only.
    A later call that needs a closed one opens it again.
    """
    global _local
    with _lock:
        if client is None:
            closing = list(_by_address.values())
            _by_address.clear()
            local, _local = _local, None
        else:
            closing = [c for c in [_by_address.pop(arg.text("close", "client", client), None)]
                       if c is not None]
            local = None
    for c in closing:
        try:
            c.close(timeout=CONNECT_SECONDS)
        except Exception:  # a scheduler already gone: nothing left to close
            pass
    if local is not None:
        cluster, local_client = local
        try:
            local_client.close()
        finally:
            cluster.close()


# --- the worker's side ----------------------------------------------------------------------

_worker_lock = threading.Lock()
_active: Dict[str, int] = {}  # run → tasks of it executing in this process
_stopped: set = set()  # runs whose caller asked to stop
_stops: Dict[str, List[str]] = {}  # run → identifiers of the stops its calls raised


class _TaskStopped(HelixoError):
    """A task's Interrupted on its way to the caller: the worker treats a KeyboardInterrupt
    as its own end rather than the task's error, so the stop travels as a plain error and
    the caller raises it as Interrupted again."""


def _call(item: Any, fn: Callable[[Any], Any], run: str) -> Any:
    """One task: fn(item), unless the run was stopped before it began."""
    with _worker_lock:
        if run in _stopped:
            raise _TaskStopped(INTERRUPTED, STOP_MESSAGE)
        _active[run] = _active.get(run, 0) + 1
    try:
        return fn(item)
    except Interrupted as stop:
        with _worker_lock:
            _stops.setdefault(run, []).append(stop.identifier)
        raise _TaskStopped(stop.identifier, stop.message) from None
    finally:
        with _worker_lock:
            _active[run] -= 1
            if not _active[run]:
                del _active[run]


def _stop(run: str) -> bool:
    """On a worker, on its event loop: no task of the run starts any more, and a running
    one gets the host's stop request (seen at its next poll). Returns whether one ran."""
    with _worker_lock:
        _stopped.add(run)
        running = run in _active
    if running:
        from . import _host  # pylint: disable=import-outside-toplevel
        _host.request_interrupt()
    return running


async def _settle(run: str, seconds: float) -> List[str]:
    """On a worker: waits (at most seconds) until no task of the run executes, then returns
    the identifiers of the stops its calls raised."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with _worker_lock:
            if run not in _active:
                break
        await asyncio.sleep(0.005)
    with _worker_lock:
        return _stops.pop(run, [])


# --- the caller's side ----------------------------------------------------------------------

def _display() -> Optional[str]:
    """Where a progress bar goes: "kernel" (Jupyter), "terminal", or None (silent)."""
    if distributed.utils.is_kernel():
        return "kernel"
    try:
        return "terminal" if sys.stdout is not None and sys.stdout.isatty() else None
    except (AttributeError, ValueError):
        return None


class _Progress:
    """Dask's progress bar for the futures of a run, shown once the run lasts
    PROGRESS_AFTER_SECONDS; the terminal's bar is cleared before the run returns."""

    def __init__(self, client: distributed.Client, futures: list) -> None:
        self._listening: Optional[concurrent.futures.Future] = None
        self._interval = 0.0
        self._timer: Optional[threading.Timer] = None
        mode = _display()
        if mode is None or not futures:
            return
        self._timer = threading.Timer(PROGRESS_AFTER_SECONDS, self._show,
                                      (client, futures, mode))
        self._timer.daemon = True
        self._timer.start()

    def _show(self, client: distributed.Client, futures: list, mode: str) -> None:
        try:
            if mode == "kernel":
                from IPython.display import display  # pylint: disable=import-outside-toplevel
                display(distributed.progress(futures, notebook=True))
            else:
                bar = TextProgressBar(futures, scheduler=client.scheduler.address,
                                      loop=client.loop, start=False)
                self._interval = float(bar.interval)
                self._listening = asyncio.run_coroutine_threadsafe(
                    bar.listen(), client.loop.asyncio_loop)
        except Exception:  # a bar that cannot be drawn (no widgets, say) is left out
            pass

    def stop(self) -> None:
        if self._timer is not None:
            self._timer.cancel()
            self._timer.join()
        if self._listening is not None:
            try:
                self._listening.result(timeout=2.0)
            except Exception:
                self._listening.cancel()
            # The scheduler's end of the bar's stream sees the stream closed only at its next
            # update, one interval later; a cluster closed before then (the process ending)
            # would log that update's cancellation as an error.
            time.sleep(2 * self._interval)


def _failure(future: Any, item: Any, position: int, count: int) -> BaseException:
    """The exception of a failed task, with the failing item in its ``item`` attribute."""
    if future.status == "cancelled":
        error: BaseException = concurrent.futures.CancelledError(
            f"the task of item {position} was cancelled on the cluster")
    else:
        error = future.exception()
        if isinstance(error, _TaskStopped):
            error = Interrupted(error.identifier, error.message)
        elif isinstance(error, distributed.KilledWorker):
            lost = HelixoError(
                WORKER_LOST,
                f"The worker process running item {position} of {count} died (killed, or out "
                f"of memory), and so did every worker the scheduler retried it on: {error}")
            lost.__cause__ = error
            error = lost
        else:
            traceback = future.traceback()
            if traceback is not None:
                error = error.with_traceback(traceback)
    try:
        error.item = item
    except AttributeError:  # an exception type without attributes of its own
        pass
    return error


def _interrupt(client: distributed.Client, run: str, futures: list) -> Interrupted:
    """Ctrl-C in the caller: stops the run on every worker, cancels what is left and
    returns the Interrupted to raise (the identifier of a plug-in's stop, when one ran)."""
    identifiers: List[str] = []
    try:
        client.run(_stop, run, on_error="ignore")
        client.cancel([f for f in futures if not f.done()])
        settled = client.run(_settle, run, STOP_SECONDS, on_error="ignore")
        identifiers = sorted(i for stops in settled.values() if isinstance(stops, list)
                             for i in stops)
    except Exception:  # a cluster in trouble: the stop is still the user's
        pass
    return Interrupted(identifiers[0] if identifiers else INTERRUPTED, STOP_MESSAGE)


def _errors(func: str, errors: Any) -> str:
    errors = arg.text(func, "errors", errors)
    if errors not in ("raise", "return"):
        raise ValueError(f'{func}: errors must be "raise" or "return", not {errors!r}')
    return errors


def _run(func: str, fn: Callable[[Any], Any], payloads: List[Any], labels: List[Any],
         client: ClientArg, errors: str, sizes: Optional[List[int]] = None) -> List[Any]:
    """fn(payload) for every payload on the cluster; results (or, with errors="return",
    exceptions) in order. labels[k] is what a failure names as its item. With sizes (the
    work of each payload, in any unit), the largest are submitted first, so that a long task
    does not start last and run alone while the other workers wait."""
    errors = _errors(func, errors)
    if not payloads:
        return []
    cluster = _client(func, client)
    run = f"helixo-{uuid.uuid4().hex}"
    order = list(range(len(payloads)))
    if sizes is not None:
        order.sort(key=lambda k: -sizes[k])  # stable: equal sizes keep their order
    submitted = cluster.map(_call, [payloads[k] for k in order],
                            key=[f"{run}-{k}" for k in order], fn=fn, run=run, pure=False)
    futures: List[Any] = [None] * len(payloads)
    for k, future in zip(order, submitted):
        futures[k] = future
    position = {f.key: k for k, f in enumerate(futures)}
    failures: Dict[int, BaseException] = {}
    first: Optional[BaseException] = None
    stopped: Optional[Interrupted] = None
    progress = _Progress(cluster, futures)
    values: Dict[int, Any] = {}
    try:
        # Each result travels back as soon as its task ends, while the others still run, so
        # only the last one's transfer adds to the run's time.
        for future, value in distributed.as_completed(futures, loop=cluster.loop,
                                                       with_results=True, raise_errors=False):
            k = position[future.key]
            if future.status == "finished":
                values[k] = value
                continue
            failures[k] = _failure(future, labels[k], k, len(payloads))
            if errors == "raise":
                first = failures[k]
                cluster.cancel([f for f in futures if not f.done()])
                break
    except KeyboardInterrupt:
        stopped = _interrupt(cluster, run, futures)
    finally:
        progress.stop()
    if stopped is not None:
        raise stopped from None
    if first is not None:
        raise first
    return [failures[k] if k in failures else values[k] for k in range(len(futures))]


def map(fn: Callable[[Any], Any], items: Iterable[Any], client: ClientArg = None,
        errors: Errors = "raise") -> List[Any]:  # pylint: disable=redefined-builtin
    """``fn(item)`` for every item, in worker processes; the results in the order of items.

    Args:
        fn: a function of one argument (pickled with cloudpickle; a module-level function
            is found by name on the workers, so its module must be importable there).
        items: the arguments (each pickled to its worker).
        client: None (the local cluster), a ``distributed.Client`` or a scheduler address.
        errors: "raise": the first failure cancels what is pending and is raised;
            "return": each failure's exception takes its item's place in the list.
    Returns:
        A list with one result (or exception) per item.
    Raises:
        The task's own exception (a ``HelixoError`` with its identifier and message) with the
        item in its ``item`` attribute; HelixoError ``helixo:python:WorkerLost`` (the worker
        process died, and the retries did too), ``helixo:python:SchedulerUnreachable`` (no
        scheduler at the address); Interrupted: Ctrl-C during the run; ValueError, TypeError:
        errors not "raise" or "return", client of another type.
    """
    values = list(items)
    return _run("map", fn, values, values, client, errors)


# --- the ready-made splits ------------------------------------------------------------------

def _abspath(func: str, param: str, value: Any) -> str:
    return os.path.abspath(arg.path(func, param, value))


def _header_references(bam: str) -> Tuple[List[str], List[int]]:
    """The names and lengths of the references of a BAM file's header."""
    _, names, lengths = alignport.getheader(bam)
    return list(names), [int(n) for n in lengths]


def _starts_task(item: Tuple[str, str, Union[int, str]]) -> Any:
    return alignport.getstartsinref(*item)


def starts(bam: arg.PathArg, bai: arg.PathArg, refs: Optional[Sequence[Union[int, str]]] = None,
           *, client: ClientArg = None,
           errors: Errors = "raise") -> Dict[Union[int, str], Any]:
    """The ``(starts, ends, flags)`` of ``alignport.getstartsinref`` of every reference, one
    task per reference.

    Args:
        bam: the BAM file; bai: its BAI index.
        refs: the references, by 0-based number or name; None: every reference of the header.
        client, errors: as for ``map``.
    Returns:
        A dict keyed as the references were named (None: by name, in header order), each
        value the tuple of three 1-d arrays (uint32, uint32, uint16) that the serial call
        returns.
    Raises:
        HelixoError: those of ``alignport.getstartsinref`` (e.g.
        ``helixo:alignport:getstartsinref:InvalidReference``), with the reference as ``item``;
        those of ``map``.
    """
    f = "parallel.starts"
    bam_name, bai_name = _abspath(f, "bam", bam), _abspath(f, "bai", bai)
    sizes: Optional[List[int]] = None  # named references run in the caller's order
    if refs is None:
        # The longest references first (a reference's length stands in for its work).
        keys, sizes = _run(f, _header_references, [bam_name], [bam], client, "raise")[0]
    else:
        if isinstance(refs, (str, bytes)) or not isinstance(refs, (list, tuple)):
            raise TypeError(f"{f}: refs must be a list or tuple of int and str, "
                            f"not {type(refs).__name__}")
        keys = list(refs)
        for ref in keys:
            arg.reference(f, "refs", ref)
    outputs = _run(f, _starts_task, [(bam_name, bai_name, ref) for ref in keys], keys, client,
                   errors, sizes)
    return dict(zip(keys, outputs))


def _features_task(item: Tuple[str, str, Union[int, str], Any, Optional[Sequence[str]]]) -> Any:
    bam, bai, ref, numbers, names = item
    return Alignments(bam, bai).features(ref, numbers, names)


def features(bam: arg.PathArg, bai: arg.PathArg, wanted: Dict[Union[int, str], Any],
             names: Optional[Sequence[str]] = None, *, client: ClientArg = None,
             errors: Errors = "raise") -> Dict[Union[int, str], Dict[str, Any]]:
    """``Alignments.features`` of chosen alignments of several references, one task per
    reference (each computes its reference's starts on its worker).

    Args:
        bam: the BAM file; bai: its BAI index.
        wanted: reference (number or name) → the 1-based alignment numbers wanted in it.
        names: the feature names (a list or tuple of str, or one str); None: all eleven.
        client, errors: as for ``map``.
    Returns:
        A dict with the keys of ``wanted``, each value the dict feature name → output that
        ``Alignments(bam, bai).features(ref, numbers, names)`` returns.
    Raises:
        HelixoError: those of ``Alignments.features``, with the reference as ``item``; those
        of ``map``.
    """
    f = "parallel.features"
    bam_name, bai_name = _abspath(f, "bam", bam), _abspath(f, "bai", bai)
    if not isinstance(wanted, dict):
        raise TypeError(f"{f}: wanted must be a dict, not {type(wanted).__name__}")
    keys = list(wanted)
    for ref in keys:
        arg.reference(f, "wanted", ref)
    chosen = None if names is None else [names] if isinstance(names, str) else \
        arg.text_list(f, "names", names)
    payloads = [(bam_name, bai_name, ref, wanted[ref], chosen) for ref in keys]
    return dict(zip(keys, _run(f, _features_task, payloads, keys, client, errors)))


def _file_list(func: str, param: str, files: Any) -> Tuple[List[str], List[Any]]:
    if isinstance(files, (str, bytes, os.PathLike)) or not isinstance(files, Iterable):
        raise TypeError(f"{func}: {param} must be a list of file names, "
                        f"not {type(files).__name__}")
    given = list(files)
    return [_abspath(func, param, name) for name in given], given


def _baminfo_task(bam: str) -> Any:
    return alignport.baminfo(bam)


def _saminfo_task(sam: str) -> Any:
    return alignport.saminfo(sam)


def baminfo(bams: Iterable[arg.PathArg], *, client: ClientArg = None,
            errors: Errors = "raise") -> List[Any]:
    """``alignport.baminfo`` of every BAM file, one task per file.

    Args:
        bams: the BAM files. client, errors: as for ``map``.
    Returns:
        The list of ``(is_sorted, counts)``, in the order of bams.
    Raises:
        HelixoError: those of ``alignport.baminfo`` (e.g. ``helixo:alignport:baminfo:``
        identifiers, ``helixo:alignport:CannotOpenInFile``), with the file as ``item``;
        those of ``map``.
    """
    names, given = _file_list("parallel.baminfo", "bams", bams)
    return _run("parallel.baminfo", _baminfo_task, names, given, client, errors)


def saminfo(sams: Iterable[arg.PathArg], *, client: ClientArg = None,
            errors: Errors = "raise") -> List[Any]:
    """``alignport.saminfo`` of every SAM file, one task per file.

    Args:
        sams: the SAM files. client, errors: as for ``map``.
    Returns:
        The list of ``(is_sorted, counts, names)``, in the order of sams.
    Raises:
        HelixoError: those of ``alignport.saminfo``, with the file as ``item``; those of
        ``map``.
    """
    names, given = _file_list("parallel.saminfo", "sams", sams)
    return _run("parallel.saminfo", _saminfo_task, names, given, client, errors)


def _writesam_task(item: Tuple[str, str, str, str, bool, bool]) -> str:
    bam, bai, sam, region, optional_fields, contained = item
    # The service appends; a file of this region's name from an earlier run is replaced.
    if os.path.lexists(sam):
        os.remove(sam)
    alignport.writesambyregion(bam, bai, sam, region, optional_fields, contained)
    return sam


def sam_file_name(position: int, count: int, region: str) -> str:
    """The name ``writesambyregion`` gives the SAM file of region number ``position`` of
    ``count``: the zero-padded number and the region with every character other than
    letters, digits, ".", "_" and "-" made "_"
    (``"chr1:100-200"`` → ``"03_chr1_100-200.sam"``)."""
    width = len(str(max(count - 1, 0)))
    return f"{position:0{width}d}_{re.sub(r'[^A-Za-z0-9._-]', '_', region)}.sam"


def writesambyregion(bam: arg.PathArg, bai: arg.PathArg, regions: Sequence[str],
                     folder: arg.PathArg, optional_fields: bool = True, contained: bool = False,
                     *, client: ClientArg = None, errors: Errors = "raise") -> List[Any]:
    """One SAM file per region (``alignport.writesambyregion``), one task per region.

    Args:
        bam: the BAM file; bai: its BAI index.
        regions: reference names or regions such as ``"chr1:100-200"``.
        folder: where the files go (created when missing); each is named by
            ``sam_file_name`` and holds exactly what the serial call writes into a new file
            (a file of that name is replaced).
        optional_fields, contained: as for ``alignport.writesambyregion``.
        client, errors: as for ``map``.
    Returns:
        The paths of the files, in the order of regions.
    Raises:
        HelixoError: those of ``alignport.writesambyregion``, with the region as ``item``;
        those of ``map``.
    """
    f = "parallel.writesambyregion"
    bam_name, bai_name = _abspath(f, "bam", bam), _abspath(f, "bai", bai)
    out = _abspath(f, "folder", folder)
    if isinstance(regions, str) or not isinstance(regions, (list, tuple)):
        raise TypeError(f"{f}: regions must be a list or tuple of str, "
                        f"not {type(regions).__name__}")
    wanted = [arg.text(f, "regions", region) for region in regions]
    flags = (arg.flag(f, "optional_fields", optional_fields), arg.flag(f, "contained", contained))
    os.makedirs(out, exist_ok=True)
    payloads = [(bam_name, bai_name, os.path.join(out, sam_file_name(k, len(wanted), region)),
                 region) + flags for k, region in enumerate(wanted)]
    return _run(f, _writesam_task, payloads, wanted, client, errors)


class _IndexTask:
    """flatmark.index of one (source, index) pair with the run's options (picklable)."""

    def __init__(self, kind: str, options: Dict[str, Any]) -> None:
        self.kind = kind
        self.options = options

    def __call__(self, item: Tuple[str, str]) -> Any:
        return flatmark.index(self.kind, item[0], item[1], **self.options)


def index(kind: str, sources: Iterable[arg.PathArg], indexes: Iterable[arg.PathArg], *,
          client: ClientArg = None, errors: Errors = "raise",
          **flatmark_options: Any) -> List[Any]:
    """``flatmark.index`` of many text files, one task per file.

    Args:
        kind: the indexer type ("mrtab", "table", "fasta", "fastq", "flat").
        sources: the text files; indexes: the index file of each, in the same order.
        client, errors: as for ``map``.
        **flatmark_options: the keyword options of ``flatmark.index`` (wide, consecutive,
            keys, key_fields, ...), the same for every file.
    Returns:
        The list of ``(entries, lines)``, in the order of sources.
    Raises:
        HelixoError: those of ``flatmark.index``, with the source as ``item``; Interrupted:
        ``helixo:flatmark:IterruptedByUser`` after Ctrl-C (each index file as a stopped
        scan leaves it); TypeError: an option flatmark.index does not have; ValueError:
        sources and indexes of different lengths; those of ``map``.
    """
    f = "parallel.index"
    kind = arg.text(f, "kind", kind)
    source_names, given = _file_list(f, "sources", sources)
    index_names, _ = _file_list(f, "indexes", indexes)
    if len(source_names) != len(index_names):
        raise ValueError(f"{f}: {len(source_names)} sources but {len(index_names)} indexes")
    try:
        inspect.signature(flatmark.index).bind(kind, "", "", **flatmark_options)
    except TypeError as error:
        raise TypeError(f"{f}: {error}") from None
    return _run(f, _IndexTask(kind, dict(flatmark_options)),
                list(zip(source_names, index_names)), given, client, errors)
