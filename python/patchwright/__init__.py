"""Patchwright's landscape maps and fBm surfaces as NumPy arrays.

The maps are made by the same engine as ``patchwright-cli``, in memory: for
the same request, every array equals, cell for cell, the map file the command
line writes, and every record equals its row of the command line's manifest.

    >>> import patchwright
    >>> for record, cells in patchwright.random_batch(cover=[30], size=50):
    ...     print(record["file"], cells.shape, cells.dtype)
    RND_030_50x50_a1.txt (50, 50) int32

Functions:

- ``random_batch`` and ``fractal_batch`` iterate over the ``(record, array)``
  pairs of a batch;
- ``fbm_surface`` gives the rescaled surface block fractal maps are cut from;
- ``read_map`` reads a map file of any format the viewer reads;
- ``metrics`` measures a map as the manifest's metric columns do.

Bad arguments raise ``ValueError`` with the words ``patchwright-cli`` uses
for the same mistake, and arguments of the wrong type raise ``TypeError``.
"""

import operator
import os

import numpy

from . import _patchwright
from ._patchwright import Batch

__all__ = ["Batch", "fbm_surface", "fractal_batch", "metrics", "random_batch", "read_map"]

_GENERATORS = ("classic", "philox")
_CUTS = ("ladder", "exact")
_FORMATS = ("plain", "asc", "tif")
_INT_MIN, _INT_MAX = -(2**31), 2**31 - 1


def _whole(value, name):
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be a whole number, not {value!r}") from None
    # Every limit lies well inside 32 bits, so a value clamped to them is
    # refused with the same words as the value itself.
    return min(max(number, _INT_MIN), _INT_MAX)


def _number(value, name):
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{name} must be a number, not {value!r}")
    try:
        return float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, not {value!r}") from None


def _choice(value, name, choices):
    if value not in choices:
        raise ValueError(f"{name} must be {' or '.join(choices)}, not {value!r}")
    return choices.index(value)


def _cover_range(value):
    """(first, last, step) of a cover range given as a range, a list or one
    whole number; the request itself refuses what lies outside its limits."""
    if isinstance(value, range):
        # An empty range keeps its bounds, so that the refusal names them.
        if len(value) > 0:
            last = value[-1]
        else:
            last = value.stop - 1 if value.step > 0 else value.stop + 1
        return _whole(value.start, "cover"), _whole(last, "cover"), _whole(value.step, "cover step")
    if not hasattr(value, "__len__"):
        cover = _whole(value, "cover")
        return cover, cover, 1
    covers = [_whole(v, "cover") for v in value]
    if not covers:
        raise ValueError("the cover list is empty: the range holds no cover")
    if len(covers) == 1:
        return covers[0], covers[0], 1
    step = covers[1] - covers[0]
    if any(b - a != step for a, b in zip(covers, covers[1:])):
        raise ValueError(
            f"the covers {covers} are not evenly spaced, as FIRST:LAST:STEP gives them")
    return covers[0], covers[-1], _whole(step, "cover step")


def _hundredths(value):
    # H is written with two decimals; a value within rounding of one is taken
    # as it, so that numpy.arange(0.1, 0.95, 0.1) means 0.1:0.9:0.1. Any other
    # value is passed on for the request to refuse.
    rounded = round(value * 100.0)
    return rounded / 100.0 if abs(value * 100.0 - rounded) < 1e-9 else value


def _hurst_range(value):
    if value is None:
        return 0.1, 0.9, 0.1
    if not hasattr(value, "__len__"):
        h = _hundredths(_number(value, "hurst"))
        return h, h, 0.1
    hs = [_number(v, "hurst") for v in value]
    if not hs:
        raise ValueError("the H list is empty: the range holds no H")
    if len(hs) == 1:
        h = _hundredths(hs[0])
        return h, h, 0.1
    step = hs[1] - hs[0]
    if any(abs((b - a) - step) > 1e-9 for a, b in zip(hs, hs[1:])):
        raise ValueError(f"the H values {hs} are not evenly spaced, as FIRST:LAST:STEP gives them")
    return _hundredths(hs[0]), _hundredths(hs[-1]), _hundredths(step)


def _output(prefix, cover_value, matrix_value, format, metrics, neighbours, cell_size):
    if not isinstance(prefix, str):
        raise TypeError(f"prefix must be a str, not {prefix!r}")
    return dict(
        prefix=prefix,
        cover_value=_whole(cover_value, "cover_value"),
        matrix_value=_whole(matrix_value, "matrix_value"),
        format=_choice(format, "format", _FORMATS),
        metrics=bool(metrics),
        neighbours=_whole(neighbours, "neighbours"),
        cell_size=_number(cell_size, "cell_size"),
    )


def random_batch(
    *,
    cover=range(1, 101),
    size=100,
    replicates=1,
    seed=5,
    generator="classic",
    prefix="RND_",
    cover_value=1,
    matrix_value=0,
    format="plain",
    metrics=False,
    neighbours=8,
    cell_size=1.0,
):
    """The maps of a random batch, as ``patchwright-cli random`` makes them.

    Returns a ``Batch``: an iterator of ``(record, array)`` pairs in the order
    the command line writes the maps. ``array`` is the map as an ``int32``
    array of shape ``(size, size)``, row ``i`` being line ``i`` of the file;
    it owns its memory. ``record`` is the map's row of the manifest as a dict
    in column order: whole numbers as ``int``, other numbers as ``float``,
    words as ``str``, empty fields as ``None``.

    The keywords are the command line's options (``--cover`` is ``cover``,
    ``--cover-value`` is ``cover_value`` and so on) with its defaults; the
    command line takes its prefix and codes from a ``config.txt`` when there
    is one, this function never does. ``cover`` is a range (``range(10, 91,
    10)`` is ``--cover 10:90:10``), an evenly spaced list, or one cover.
    ``format`` changes only the file names in the records. ``metrics=True``
    adds the metric columns; ``neighbours`` and ``cell_size`` are theirs.

    The batch runs on a thread of its own, at most two maps ahead of the
    reader, without the GIL; Ctrl-C stops it between maps. Leaving the loop
    early, ``close()`` or a ``with`` block stop it too.
    """
    first, last, step = _cover_range(cover)
    return _patchwright.random_batch(
        cover_first=first,
        cover_last=last,
        cover_step=step,
        size=_whole(size, "size"),
        replicates=_whole(replicates, "replicates"),
        seed=_whole(seed, "seed"),
        generator=_choice(generator, "generator", _GENERATORS),
        **_output(prefix, cover_value, matrix_value, format, metrics, neighbours, cell_size),
    )


def fractal_batch(
    *,
    hurst=None,
    cover=range(1, 101),
    size=100,
    replicates=1,
    generator="classic",
    cut="ladder",
    distinct_surfaces=False,
    surfaces=200,
    first_seed=0,
    prefix="FBM_",
    cover_value=1,
    matrix_value=0,
    format="plain",
    metrics=False,
    neighbours=8,
    cell_size=1.0,
):
    """The maps of a fractal batch, as ``patchwright-cli fractal`` makes them.

    As ``random_batch``, with the fractal options: ``hurst`` is an evenly
    spaced list of H values with at most two decimals (``[0.3, 0.5, 0.7]`` is
    ``--hurst 0.3:0.7:0.2``; ``numpy.arange`` values are taken to the nearest
    hundredth) or one H; ``None``, the default, is 0.1 to 0.9 in steps of
    0.1. ``cut``, ``distinct_surfaces``, ``surfaces`` and ``first_seed`` are
    ``--cut``, ``--distinct-surfaces``, ``--surfaces`` and ``--first-seed``.
    Surface files are not written (no ``--write-surfaces``): ``fbm_surface``
    gives a map's surface from its record.
    """
    h_first, h_last, h_step = _hurst_range(hurst)
    first, last, step = _cover_range(cover)
    return _patchwright.fractal_batch(
        hurst_first=h_first,
        hurst_last=h_last,
        hurst_step=h_step,
        cover_first=first,
        cover_last=last,
        cover_step=step,
        size=_whole(size, "size"),
        replicates=_whole(replicates, "replicates"),
        generator=_choice(generator, "generator", _GENERATORS),
        cut=_choice(cut, "cut", _CUTS),
        distinct_surfaces=bool(distinct_surfaces),
        surfaces=_whole(surfaces, "surfaces"),
        first_seed=_whole(first_seed, "first_seed"),
        **_output(prefix, cover_value, matrix_value, format, metrics, neighbours, cell_size),
    )


def fbm_surface(size, h, seed, *, generator="classic"):
    """The rescaled fBm surface block that fractal maps of ``size`` cells a
    side are cut from, for one H and one seed.

    A ``float64`` array of shape ``(size + 1, size + 1)``, values from 0 to 1,
    exactly as the engine builds it: a map of a fractal batch with this size
    and generator is ``surface[:size, :size] > record["threshold"]`` for the
    surface of its record's ``H`` and ``seed``; with ``cut="exact"``, also
    the first ``record["tied_habitat"]`` cells equal to the threshold, in
    row-major order. ``size``, ``h`` and ``seed`` take the limits of a
    fractal batch's size, H and first seed. A batch of several H values
    reaches them by repeated addition, so its H may lie a few units in the
    last place from the two-decimal value this function is given. The array
    owns its memory.

    The memory of the last surface array that was let go is kept for the
    next surface of the same size, which then fills it: a loop that builds,
    measures and drops surfaces runs at the engine's own speed.
    """
    return _patchwright.fbm_surface(
        _whole(size, "size"),
        _hundredths(_number(h, "h")),
        _whole(seed, "seed"),
        _choice(generator, "generator", _GENERATORS),
    )


def read_map(path):
    """A map file as an ``int32`` array of shape ``(rows, columns)``, row
    ``i`` being line ``i`` of the file: plain text, ESRI ASCII grids and
    GeoTIFF maps, as the viewer reads them.

    Raises ``FileNotFoundError`` or ``OSError`` when the file cannot be
    opened, and ``ValueError`` when it holds no map or rows of different
    lengths.
    """
    return _patchwright.read_map(os.fspath(path))


def metrics(array, cell_size=1, neighbours=8, *, habitat=None):
    """The landscape metrics of a map, as the manifest's metric columns give
    them: a dict of ``habitat_cells``, ``np``, ``lpi``, ``area_mn``,
    ``area_am``, ``ed`` and ``gyrate_am``.

    ``array`` is a 2D array; its habitat cells are those equal to
    ``habitat`` or, when ``habitat`` is ``None``, those that are not 0. For a
    map with other codes pass its record's ``cover_value``. Areas are in
    ``cell_size`` units squared, patches join by ``neighbours`` (8 or 4).
    The means over patches of a map without habitat (``area_mn``,
    ``area_am``, ``gyrate_am``) are ``None``, as the manifest leaves them
    empty.
    """
    cells = numpy.asarray(array)
    if cells.ndim != 2:
        raise ValueError(f"a map is a 2D array; this one has {cells.ndim} dimensions")
    # Checked before the habitat mask is made, which would take a byte a
    # cell; the engine refuses such a side too.
    for side, name in zip(cells.shape, ("rows", "columns")):
        if side > _INT_MAX:
            raise ValueError(f"a map of {side} {name} is beyond the {_INT_MAX} a side may have")
    mask = cells != 0 if habitat is None else cells == habitat
    return _patchwright.metrics(
        numpy.ascontiguousarray(mask).view(numpy.uint8),
        _number(cell_size, "cell_size"),
        _whole(neighbours, "neighbours"),
    )
