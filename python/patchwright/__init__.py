# SPDX-License-Identifier: GPL-3.0-or-later
"""Patchwright's landscape maps and fBm surfaces as NumPy arrays.

The maps are made by the same engine as ``patchwright-cli``, in memory: for
the same request, every array equals, cell for cell, the map file the command
line writes, and every record equals its row of the command line's manifest.

    >>> import patchwright
    >>> for record, cells in patchwright.random_batch(cover=[30], size=50):
    ...     print(record["file"], cells.shape, cells.dtype)
    RND_030_50x50_a1.txt (50, 50) int32

Functions:

- ``random_batch``, ``fractal_batch`` and ``gaussian_batch`` iterate over the
  ``(record, array)`` pairs of a batch;
- ``fbm_surface`` gives the rescaled surface block fractal maps are cut from,
  ``gaussian_surface`` the field a Gaussian field map is cut from;
- ``read_map`` reads a map file of any format the viewer reads;
- ``metrics`` measures a map as the manifest's metric columns do.

Bad arguments raise ``ValueError`` with the words ``patchwright-cli`` uses
for the same mistake, options written as keywords; arguments of the wrong
type raise ``ArgumentTypeError``, which is both a ``TypeError`` and a
``ValueError``. A batch that ends with fewer maps than it asked for (covers
no cut can give, cells whose draws missed the targets) warns with
``ShortfallWarning`` once its maps are all read, as the command line warns
on stderr.
"""

import inspect
import os

import numpy

from . import _patchwright
from ._patchwright import ArgumentTypeError, Batch, ShortfallWarning
from ._version import __version__

__all__ = [
    "ArgumentTypeError",
    "Batch",
    "fbm_surface",
    "fractal_batch",
    "gaussian_batch",
    "gaussian_surface",
    "metrics",
    "random_batch",
    "read_map",
    "ShortfallWarning",
]

# The largest side a map may have: the engine counts sides in 32 bits.
_INT_MAX = 2**31 - 1

def _described(function, kind):
    """Gives a batch function the signature and keyword list of the batch
    description, which the compiled module reads: the keywords, their
    defaults and their help are written there once for every front end."""
    options = _patchwright.options(kind)
    function.__signature__ = inspect.Signature(
        [
            inspect.Parameter(o["key"], inspect.Parameter.KEYWORD_ONLY, default=o["default"])
            for o in options
        ]
    )
    lines = [f"``{o['key']}``: {o['help']}" for o in options]
    function.__doc__ = (function.__doc__ or "") + "\n    Keywords:\n\n" + "\n".join(
        "    - " + line for line in lines
    ) + "\n"
    return function


def random_batch(**keywords):
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
    return _patchwright.random_batch(keywords)


def fractal_batch(**keywords):
    """The maps of a fractal batch, as ``patchwright-cli fractal`` makes them.

    As ``random_batch``, with the fractal options: ``hurst`` is an evenly
    spaced list of H values with at most two decimals (``[0.3, 0.5, 0.7]`` is
    ``--hurst 0.3:0.7:0.2``; ``numpy.arange`` values are taken to the nearest
    hundredth) or one H. ``cut``, ``distinct_surfaces``, ``surfaces`` and ``first_seed`` are
    ``--cut``, ``--distinct-surfaces``, ``--surfaces`` and ``--first-seed``.
    Surface files are not written (no ``--write-surfaces``): ``fbm_surface``
    gives a map's surface from its record.
    """
    return _patchwright.fractal_batch(keywords)


def gaussian_batch(**keywords):
    """The maps of a Gaussian field batch, as ``patchwright-cli gaussian``
    makes them.

    As ``random_batch``, with the options of Gaussian fields: ``model`` is
    ``"exponential"``, ``"gaussian"``, ``"matern"`` (with ``nu``) or
    ``"fbm"``; ``range`` (the correlation ranges in cells) and, for fbm,
    ``hurst`` are evenly spaced lists of values with at most two decimals or
    one value. Every map is cut from a field of its own, exactly to its cover
    unless ``cut="ladder"``. Surface files are not written (no
    ``--write-surfaces``): ``gaussian_surface`` gives a map's field from its
    record. A model that cannot be drawn exactly at this size raises
    ``ValueError`` with the reason before the first map.
    """
    return _patchwright.gaussian_batch(keywords)


random_batch = _described(random_batch, "random")
fractal_batch = _described(fractal_batch, "fractal")
gaussian_batch = _described(gaussian_batch, "gaussian")


def fbm_surface(size, h, seed, *, generator=None):
    """The rescaled fBm surface block that fractal maps of ``size`` cells a
    side are cut from, for one H and one seed.

    A ``float64`` array of shape ``(size + 1, size + 1)``, values from 0 to 1,
    exactly as the engine builds it: a map of a fractal batch with this size
    and generator is ``surface[:size, :size] > record["threshold"]`` for the
    surface of its record's ``H`` and ``seed``; with ``cut="exact"``, also
    the first ``record["tied_habitat"]`` cells equal to the threshold, in
    row-major order. ``size``, ``h`` and ``seed`` take the limits of a
    fractal batch's size, H and first seed, and ``generator`` its generator
    (``None`` is the batch's default). A batch of several H values
    reaches them by repeated addition, so its H may lie a few units in the
    last place from the two-decimal value this function is given. The array
    owns its memory.

    The memory of the last surface array that was let go is kept for the
    next surface of the same size, which then fills it: a loop that builds,
    measures and drops surfaces runs at the engine's own speed.
    """
    return _patchwright.fbm_surface(size, h, seed, generator)


def gaussian_surface(size, model, range, seed, *, nu=None, cover=0, replicate=1):
    """The Gaussian field of ``size`` x ``size`` cells that a Gaussian field
    batch draws for one range (for ``model="fbm"``, one H), cover and
    replicate.

    A ``float64`` array of shape ``(size, size)``, as drawn (unit variance;
    fbm is 0 at the top-left cell): a map of a batch with the default exact
    cut is ``field > record["threshold"]`` plus the first
    ``record["tied_habitat"]`` cells equal to it in row-major order, for the
    field of its record's ``range`` (or ``H``), ``seed``, ``nu``,
    ``requested_cover`` and ``replicate`` (``draw`` in a batch with
    targets). A ladder cut reads the field rescaled to 0..1. ``nu`` is the
    Matern smoothness (``None`` is the batch's default). The arguments take
    the limits of a batch's; a model that cannot be drawn exactly at this
    size raises ``ValueError`` with the reason. The array owns its memory.
    """
    return _patchwright.gaussian_surface(size, model, range, seed, nu, cover, replicate)


def read_map(path):
    """A map file as an ``int32`` array of shape ``(rows, columns)``, row
    ``i`` being line ``i`` of the file: plain text, ESRI ASCII grids and
    GeoTIFF maps, as the viewer reads them.

    Raises ``FileNotFoundError`` or ``OSError`` when the file cannot be
    opened, and ``ValueError`` when it holds no map or rows of different
    lengths.
    """
    return _patchwright.read_map(os.fspath(path))


def metrics(array, cell_size=None, neighbours=None, *, habitat=None):
    """The landscape metrics of a map, as the manifest's metric columns give
    them: a dict of ``habitat_cells``, ``np``, ``lpi``, ``area_mn``,
    ``area_am``, ``ed`` and ``gyrate_am``.

    ``array`` is a 2D array; its habitat cells are those equal to
    ``habitat`` or, when ``habitat`` is ``None``, those that are not 0. For a
    map with other codes pass its record's ``cover_value``. Areas are in
    ``cell_size`` units squared, patches join by ``neighbours`` (8 or 4);
    ``None`` takes a batch's default for either.
    The means over patches of a map without habitat (``area_mn``,
    ``area_am``, ``gyrate_am``) are ``None``, as the manifest leaves them
    empty.
    """
    try:
        cells = numpy.asarray(array)
    except ValueError as error:
        raise ValueError(f"a map is a 2D array of numbers: {error}") from None
    if cells.dtype.kind not in "biuf":
        raise ArgumentTypeError(
            f"a map is a 2D array of numbers, not of {cells.dtype} ({type(array).__name__} given)"
        )
    if cells.ndim != 2:
        raise ValueError(f"a map is a 2D array; this one has {cells.ndim} dimensions")
    if habitat is not None:
        if isinstance(habitat, (bool, numpy.bool_)) or not isinstance(
            habitat, (int, float, numpy.integer, numpy.floating)
        ):
            raise ArgumentTypeError(f"habitat must be a cell code, not {habitat!r}")
        if not numpy.isfinite(habitat) or habitat != int(habitat):
            raise ValueError(f"habitat is a cell code, a whole number, not {habitat!r}")
    # Checked before the habitat mask is made, which would take a byte a
    # cell; the engine refuses such a side too.
    for side, name in zip(cells.shape, ("rows", "columns")):
        if side > _INT_MAX:
            raise ValueError(f"a map of {side} {name} is beyond the {_INT_MAX} a side may have")
    mask = cells != 0 if habitat is None else cells == habitat
    return _patchwright.metrics(
        numpy.ascontiguousarray(mask).view(numpy.uint8), cell_size, neighbours
    )
