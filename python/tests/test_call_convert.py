"""helixo.call's conversions, through a real plug-in call: the host's test plug-in hxprobe echoes
its inputs back (a copy made by the plug-in through the host), and hxrun echoing the same array
written as a literal says what the host holds (class, dimensions, data in column order)."""

from __future__ import annotations

import gc
import math
import pathlib

import numpy as np
import pytest

import helixo

from conftest import build_dir, run_hxrun_json

SEED = 20261209


@pytest.fixture(scope="module")
def probe() -> pathlib.Path:
    path = build_dir() / "bin" / "hxprobe.so"
    if not path.exists():
        pytest.fail(f"the test plug-in is not built at {path}")
    return path


def echo(probe: pathlib.Path, *values):
    return helixo.call(probe, "echo", *values, nout=len(values))


def literal(array: np.ndarray) -> str:
    """hxrun's literal for a real numeric or logical array: values in column order, shape."""
    cls = "logical" if array.dtype == np.bool_ else array.dtype.name.replace("float64", "double") \
        .replace("float32", "single")
    values = []
    for v in array.ravel(order="F").tolist():
        if isinstance(v, bool):
            values.append("true" if v else "false")
        elif isinstance(v, float) and math.isnan(v):
            values.append("nan")
        else:
            values.append(repr(v) if isinstance(v, float) else str(v))
    dims = array.shape if array.ndim >= 2 else (array.size, 1)
    shape = "x".join(str(d) for d in dims)
    return f"{cls}:[{','.join(values)}]/{shape}" if values else f"{cls}:[]/{shape}"


def json_number(value):
    return {"NaN": math.nan, "Inf": math.inf, "-Inf": -math.inf}.get(value, value)


def from_hxrun(output):
    """The Python value an hxrun JSON output stands for, by the package's output rules."""
    if output is None:
        return None
    if output["class"] == "char":
        rows = output["dims"][0]
        text = output["text"]
        if rows <= 1:
            return text
        columns = len(text) // rows
        return ["".join(text[r + c * rows] for c in range(columns)) for r in range(rows)]
    if output["class"] == "cell":
        return [from_hxrun(element) for element in output["data"]]
    dtype = "bool" if output["class"] == "logical" else \
        {"double": "float64", "single": "float32"}.get(output["class"], output["class"])
    dims = output["dims"]
    data = np.array([json_number(v) for v in output["data"]], dtype=dtype)
    if sum(d != 1 for d in dims) <= 1 or data.size == 0:
        if data.size == 1:
            return data[0]
        return data
    return data.reshape(dims, order="F")


def assert_same(mine, peer, where="output"):
    if isinstance(peer, list):
        assert isinstance(mine, list), f"{where}: {mine!r} is not a list"
        assert len(mine) == len(peer), where
        for k, (m, p) in enumerate(zip(mine, peer)):
            assert_same(m, p, f"{where}[{k}]")
    elif isinstance(peer, (str, type(None))):
        assert mine == peer and type(mine) is type(peer), f"{where}: {mine!r} != {peer!r}"
    elif isinstance(peer, np.ndarray):
        assert isinstance(mine, np.ndarray), f"{where}: {mine!r} is not an ndarray"
        assert mine.dtype == peer.dtype and mine.shape == peer.shape, \
            f"{where}: {mine.dtype}{mine.shape} != {peer.dtype}{peer.shape}"
        np.testing.assert_array_equal(mine, peer, err_msg=where)
    else:  # a numpy scalar
        assert type(mine) is type(peer), f"{where}: {type(mine)} != {type(peer)}"
        assert mine == peer or (np.isnan(peer) and np.isnan(mine)), f"{where}: {mine} != {peer}"


def peer_echo(hxrun, tmp_path, words):
    doc = run_hxrun_json(hxrun, str(build_dir() / "bin" / "hxprobe.so"), ["echo", *words],
                         len(words), tmp_path)
    assert doc["ok"], doc
    return [from_hxrun(out) for out in doc["outputs"]]


rng = np.random.default_rng(SEED)

NUMERIC_DTYPES = ["float64", "float32", "int8", "uint8", "int16", "uint16", "int32", "uint32",
                  "int64", "uint64", "bool"]


def random_array(dtype: str, shape) -> np.ndarray:
    if dtype == "bool":
        return rng.integers(0, 2, size=shape).astype(bool)
    if dtype.startswith("float"):
        return rng.normal(scale=1e3, size=shape).astype(dtype)
    info = np.iinfo(dtype)
    return rng.integers(info.min, info.max, size=shape, dtype=dtype, endpoint=True)


SHAPES = [(), (1,), (5,), (0,), (1, 1), (1, 4), (4, 1), (2, 3), (3, 2), (0, 3), (2, 3, 4),
          (2, 1, 3), (1, 1, 5)]


@pytest.mark.parametrize("dtype", NUMERIC_DTYPES)
@pytest.mark.parametrize("shape", SHAPES, ids=str)
def test_arrays_of_every_class_and_shape_match_the_host(hxrun, tmp_path, probe, dtype, shape):
    array = random_array(dtype, shape)
    if shape == (1, 1, 5):  # hxrun's shapes have two or three dimensions: write it 1x1x5
        words = [literal(array).rsplit("/", 1)[0] + "/1x1x5"]
    else:
        words = [literal(array)]
    (mine,) = echo(probe, array)
    (peer,) = peer_echo(hxrun, tmp_path, words)
    assert_same(mine, peer, f"{dtype}{shape}")


@pytest.mark.parametrize("view", [
    lambda a: a[::2, ::3],        # strided rows and columns
    lambda a: a.T,                 # Fortran order
    lambda a: a[::-1, 1:],        # negative stride
    lambda a: a[:, 2],             # a column of a C array
    lambda a: np.broadcast_to(a[0], (3, a.shape[1])),  # zero stride
    lambda a: a.astype(a.dtype.newbyteorder(">")),     # big-endian data
    lambda a: a.reshape(2, 3, 5)[:, ::2, 1::2],        # 3-d view
], ids=["strided", "transposed", "reversed", "column", "broadcast", "big-endian", "3d-view"])
@pytest.mark.parametrize("dtype", ["float64", "int16", "uint64", "bool", "float32"])
def test_views_of_any_strides_keep_each_element_at_its_index(hxrun, tmp_path, probe, view,
                                                             dtype):
    base = random_array(dtype, (6, 5))
    array = view(base)
    (mine,) = echo(probe, array)
    native = np.ascontiguousarray(array).astype(array.dtype.newbyteorder("="))
    (peer,) = peer_echo(hxrun, tmp_path, [literal(native)])
    assert_same(mine, peer)


@pytest.mark.parametrize("dtype", ["complex128", "complex64"])
@pytest.mark.parametrize("shape", [(), (1,), (4,), (0,), (2, 3), (3, 2, 2)], ids=str)
def test_complex_arrays_keep_both_parts(probe, dtype, shape):
    array = (rng.normal(size=shape) + 1j * rng.normal(size=shape)).astype(dtype)
    (mine,) = echo(probe, array)
    expected = array.reshape(-1) if array.ndim < 2 or sum(d != 1 for d in shape) <= 1 else array
    if array.size == 1:
        assert type(mine) is np.dtype(dtype).type and mine == array.reshape(-1)[0]
    else:
        assert mine.dtype == array.dtype and mine.shape == expected.shape
        np.testing.assert_array_equal(mine, expected)


@pytest.mark.parametrize("value,words", [
    (True, ["logical:true"]),
    (np.bool_(False), ["logical:false"]),
    (3, ["double:3"]),
    (-0.1, ["double:-0.1"]),
    (2 ** 53 + 1, ["double:9007199254740993"]),  # the nearest double, as the host reads it
    (-(2 ** 1030), ["double:-inf"]),
    (10 ** 400, ["double:inf"]),
    (float("nan"), ["double:nan"]),
    (np.float32(1.5), ["single:1.5"]),
    (np.int8(-128), ["int8:-128"]),
    (np.uint16(65535), ["uint16:65535"]),
    (np.int64(-(2 ** 63)), ["int64:-9223372036854775808"]),
    (np.uint64(2 ** 64 - 1), ["uint64:18446744073709551615"]),
    (np.array(7, dtype=np.int32), ["int32:7"]),
    (None, ["double:[]"]),
    ("", ["str:"]),
    ("chr1:100-200", ["str:chr1:100-200"]),
    ("h\u00e9llo w\u00f6rld \u4e2d\u6587 \U0001f600", ["h\u00e9llo w\u00f6rld \u4e2d\u6587 \U0001f600"]),
    (np.str_("abc"), ["abc"]),
    (pathlib.PurePosixPath("/data/x y.bam"), ["/data/x y.bam"]),
    ([1, "a", [True, None, [np.uint8(2)]]],
     ["cell:{double:1,a,cell:{logical:true,double:[],cell:{uint8:2}}}"]),
    ((2.5, "b"), ["cell:{double:2.5,b}"]),
], ids=repr)
def test_scalars_texts_paths_and_cells_match_the_host(hxrun, tmp_path, probe, value, words):
    (mine,) = echo(probe, value)
    (peer,) = peer_echo(hxrun, tmp_path, words)
    assert_same(mine, peer)


def test_python_complex_is_a_complex_double_scalar(probe):
    (mine,) = echo(probe, complex(1.5, -2.0))
    assert type(mine) is np.complex128 and mine == complex(1.5, -2.0)


@pytest.mark.parametrize("value", [[], ()], ids=["list", "tuple"])
def test_empty_sequences_are_empty_cells(probe, value):
    assert echo(probe, value) == ([],)


@pytest.mark.parametrize("text", ["\udc80bad byte", "lone \ud800 high", "\U0010ffff"])
def test_texts_without_a_utf8_form_come_back_unchanged(probe, text):
    assert echo(probe, text) == (text,)


def test_unset_cell_elements_and_unset_slots_are_none(hxrun, tmp_path, probe):
    mine = helixo.call(probe, "nested_cell", nout=2)
    doc = run_hxrun_json(hxrun, str(probe), ["nested_cell"], 2, tmp_path)
    assert_same(list(mine), [from_hxrun(out) for out in doc["outputs"]])
    assert mine[1] is None and mine[0][1][1] is None


@pytest.mark.parametrize("dims", [(1, 3), (3, 1), (2, 4), (3, 2, 2), (1, 1)], ids=str)
def test_char_outputs_are_texts_or_row_lists(hxrun, tmp_path, probe, dims):
    # chars: a char array with the codes and dimensions of a uint16 input.
    codes = rng.choice([0x41, 0x62, 0xE9, 0x4E2D, 0xD83D, 0xDE00, 0x20], size=dims).astype(np.uint16)
    mine = helixo.call(probe, "chars", codes, nout=1)
    doc = run_hxrun_json(hxrun, str(probe), ["chars", literal(codes)], 1, tmp_path)
    assert_same(list(mine), [from_hxrun(out) for out in doc["outputs"]])


@pytest.mark.parametrize("array,expected", [
    (np.arange(3, dtype=np.uint16) + 65, ["A", "B", "C"]),         # a 1-d array is a column
    (np.arange(3, dtype=np.uint16).reshape(1, 3) + 65, "ABC"),     # a 1-by-n row stays a row
    (np.arange(3, dtype=np.uint16).reshape(3, 1) + 65, ["A", "B", "C"]),
], ids=["1d", "row", "column"])
def test_vectors_keep_their_orientation_in_the_host(probe, array, expected):
    assert helixo.call(probe, "chars", array, nout=1) == (expected,)


@pytest.mark.parametrize("dtype", ["float64", "int32", "bool", "uint64"])
def test_numeric_outputs_are_views_of_the_host_array_until_collected(probe, dtype):
    gc.collect()
    before = helixo.live_arrays()
    source = random_array(dtype, (40, 30))
    (mine,) = echo(probe, source)
    assert not mine.flags.owndata and mine.base is not None
    assert mine.flags.f_contiguous
    assert helixo.live_arrays() == before + 1
    part = mine[5:, ::2]
    del mine
    gc.collect()
    helixo.call(probe, "temporaries")  # the host allocates and frees; the view stays valid
    assert helixo.live_arrays() == before + 1
    np.testing.assert_array_equal(part, source[5:, ::2])
    del part
    gc.collect()
    assert helixo.live_arrays() == before


def test_numeric_elements_of_a_cell_keep_the_cell_alive(probe):
    gc.collect()
    before = helixo.live_arrays()
    column = np.arange(1000.0)
    ((first, text, inner),) = echo(probe, [column, "x", [column[:10] * 2]])
    # the outer cell, its three elements (the inner cell one of them) and the inner element
    assert helixo.live_arrays() == before + 5
    del inner
    gc.collect()
    assert helixo.live_arrays() == before + 5
    np.testing.assert_array_equal(first, column)
    assert text == "x"
    del first
    gc.collect()
    assert helixo.live_arrays() == before


def test_scalar_and_copied_outputs_hold_no_host_array(probe):
    gc.collect()
    before = helixo.live_arrays()
    outputs = echo(probe, 1.0, "text", np.ones(3, np.complex128), [1, "x"], np.zeros((0, 4)))
    assert helixo.live_arrays() == before
    assert outputs[2].flags.owndata and outputs[4].shape == (0,)
