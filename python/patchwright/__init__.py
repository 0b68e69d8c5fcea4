# SPDX-License-Identifier: GPL-3.0-or-later
"""Patchwright's landscape maps and surfaces as NumPy arrays.

The maps are made by the same engine as ``patchwright-cli``, in memory: for
the same request, every array equals, cell for cell, the map file the command
line writes, and every record equals its row of the command line's manifest.

    >>> import patchwright
    >>> for record, cells in patchwright.random_batch(cover=[30], size=50):
    ...     print(record["file"], cells.shape, cells.dtype)
    RND_030_50x50_a1.txt (50, 50) int32

Functions:

- ``<family>_batch`` for every family of maps (``random_batch``,
  ``fractal_batch``, ``gaussian_batch``, ...) iterates over the
  ``(record, array)`` pairs of a batch; ``families()`` lists them;
- ``surface`` gives the real values a map of any family was made from;
  ``fbm_surface``, ``gaussian_surface``, ``cluster_surface``,
  ``mosaic_surface``, ``rectangles_surface``, ``planar_surface``,
  ``edge_surface``, ``wave_surface``, ``distance_surface`` and
  ``perlin_surface`` are its forms for those
  families;
- ``read_map`` reads a map file of any format the viewer reads;
- ``metrics`` measures a map as the manifest's metric columns do, or, with
  ``metric=``, gives the long table of ``patchwright-cli metrics``.

Bad arguments raise ``ValueError`` with the words ``patchwright-cli`` uses
for the same mistake, options written as keywords; arguments of the wrong
type raise ``ArgumentTypeError``, which is both a ``TypeError`` and a
``ValueError``. Options that the other choices of a request leave unused
(``nu`` with a model other than Matern) warn with ``UserWarning``. A batch
that ends with fewer maps than it asked for (covers no cut can give, cells
whose draws missed the targets) warns with ``ShortfallWarning`` once its
maps are all read, as the command line warns on stderr.
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
    "classify",
    "cluster_surface",
    "distance_surface",
    "edge_surface",
    "families",
    "fbm_surface",
    "gaussian_surface",
    "metrics",
    "mosaic_surface",
    "perlin_surface",
    "planar_surface",
    "read_map",
    "rectangles_surface",
    "ShortfallWarning",
    "surface",
    "wave_surface",
]

# The largest side a map may have: the engine counts sides in 32 bits.
_INT_MAX = 2**31 - 1

_BATCH_DOC = """The maps of a {word} batch, as ``patchwright-cli {word}`` makes them: {summary}.

    Returns a ``Batch``: an iterator of ``(record, array)`` pairs in the order
    the command line writes the maps. ``array`` is the map as an ``int32``
    array of shape ``(rows, columns)``, row ``i`` being line ``i`` of the
    file; it owns its memory. ``record`` is the map's row of the manifest as
    a dict in column order: whole numbers as ``int``, other numbers as
    ``float``, words as ``str``, empty fields as ``None``. In a batch with
    ``target``, a record's ``cell_draws`` and ``cell_acceptance`` are filled
    in once the batch has ended.

    The keywords are the command line's options (``--cover`` is ``cover``,
    ``--cover-value`` is ``cover_value`` and so on) with its defaults; the
    command line takes its prefix and codes from a ``config.txt`` when there
    is one, this function never does. Sweeps (``cover``, ``hurst``,
    ``range``) are a range (``range(10, 91, 10)`` is ``--cover 10:90:10``), an
    evenly spaced list or NumPy array, or one value; values with two
    decimals are taken to the nearest hundredth. ``format`` changes only the
    file names in the records; files that go with maps (surfaces) are not
    written, ``surface`` gives them.

    The batch runs on a thread of its own, at most two maps ahead of the
    reader, without the GIL; Ctrl-C stops it between maps. Leaving the loop
    early, ``close()`` or a ``with`` block stop it too.
"""


def families():
    """The families of maps, as ``[{"word": ..., "title": ..., "summary": ...}]``:
    each has its ``<word>_batch`` function here and its command in
    ``patchwright-cli``."""
    return _patchwright.families()


def _batch_function(family):
    """The batch function of a family, with the signature and keyword list
    of the batch description, which the compiled module reads: the
    keywords, their defaults and their help are written there once for
    every front end."""
    word = family["word"]

    def batch(**keywords):
        return _patchwright.batch(word, keywords)

    options = _patchwright.options(word)
    batch.__name__ = batch.__qualname__ = word + "_batch"
    batch.__signature__ = inspect.Signature(
        [
            inspect.Parameter(o["key"], inspect.Parameter.KEYWORD_ONLY, default=o["default"])
            for o in options
        ]
    )
    batch.__doc__ = (
        _BATCH_DOC.format(word=word, summary=family["summary"])
        + "\n    Keywords:\n\n"
        + "\n".join(f"    - ``{o['key']}``: {o['help']}" for o in options)
        + "\n"
    )
    return batch


for _family in _patchwright.families():
    globals()[_family["word"] + "_batch"] = _batch_function(_family)
    __all__.append(_family["word"] + "_batch")
del _family


def surface(family, *, cover=0, replicate=1, **keywords):
    """The real values a map of a ``family`` batch of these keywords was
    made from, for one cover and one replicate (its ``draw`` in a batch with
    targets), as a ``float64`` array that owns its memory.

    The keywords are the batch function's; a sweep must hold one value.
    Fractal surfaces are the rescaled block of ``size + 1`` points a side
    that the batch's ``replicate``-th surface of its first seed gives;
    Gaussian fields are ``size`` cells a side, as drawn; random maps give the
    uniform field their classes and exact cuts rank. A family whose maps
    are not made from a surface raises ``ValueError``.
    """
    return _patchwright.surface(family, keywords, cover, replicate)


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
    (``None`` is the batch's default). A fractal batch of several H values
    reaches them by repeated addition, as its maps always have been, so its
    H may lie a few units in the last place from the two-decimal value this
    function is given; the sweeps of every other family are the decimals
    they name.

    The memory of the last surface array that was let go is kept for the
    next surface of the same size, which then fills it: a loop that builds,
    measures and drops surfaces runs at the engine's own speed.
    """
    keywords = {"size": size, "hurst": h, "first_seed": seed}
    if generator is not None:
        keywords["generator"] = generator
    return _patchwright.surface("fractal", keywords, 0, 1)


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
    size raises ``ValueError`` with the reason.
    """
    keywords = {"size": size, "model": model, "seed": seed}
    keywords["hurst" if model == "fbm" else "range"] = range
    if nu is not None:
        keywords["nu"] = nu
    return _patchwright.surface("gaussian", keywords, cover, replicate)


_DRAWN_SURFACE_DOC = """

    A ``float64`` array of shape ``(rows, columns)`` (``size`` is a side or
    ``(rows, columns)``), the surface the map of a batch with these
    keywords is made from for one cover and one replicate (``draw`` with
    targets): with the default two classes the map is ``surface >
    record["threshold"]`` plus the first ``record["tied_habitat"]`` cells
    equal to it in row-major order. Further keywords (``mask``,
    ``proportions``, ...) are the batch function's.
"""


def cluster_surface(size, p, seed, *, cover=0, replicate=1, **keywords):
    """The values a random cluster map is made from: with ``fill="nearest"``
    every cell takes the value of its nearest cluster and the map is that
    surface cut exactly; with the default majority fill each marked cell
    holds its cluster's value and every unmarked cell -1, the classes of
    the map's clusters being drawn from those values."""
    keywords.update(size=size, p=p, seed=seed)
    return _patchwright.surface("cluster", keywords, cover, replicate)


def mosaic_surface(size, elements, seed, *, cover=0, replicate=1, **keywords):
    """The mosaic a nearest-neighbour mosaic map is cut from: every cell the
    value of its nearest of ``elements`` seed cells."""
    keywords.update(size=size, elements=elements, seed=seed)
    return _patchwright.surface("mosaic", keywords, cover, replicate)


def rectangles_surface(size, min_side, max_side, seed, *, cover=0, replicate=1, **keywords):
    """The surface a random rectangle map is cut from: every cell the value
    of the last rectangle painted over it."""
    keywords.update(size=size, min_side=min_side, max_side=max_side, seed=seed)
    return _patchwright.surface("rectangles", keywords, cover, replicate)


def planar_surface(size, direction=None, seed=0, *, cover=0, replicate=1, **keywords):
    """The plane a planar gradient map is cut from: each cell's place along
    ``direction`` (degrees clockwise from north, the top row), rescaled to
    0..1. ``None`` draws the direction from ``seed``, cover and replicate, as
    a batch without one does."""
    keywords.update(size=size, seed=seed)
    if direction is not None:
        keywords["direction"] = direction
    return _patchwright.surface("planar", keywords, cover, replicate)


def edge_surface(size, direction=None, seed=0, *, cover=0, replicate=1, **keywords):
    """The surface an edge gradient map is cut from: ``1 - |2g - 1|`` of the
    planar gradient ``g`` of ``direction``, highest along the map's middle."""
    keywords.update(size=size, seed=seed)
    if direction is not None:
        keywords["direction"] = direction
    return _patchwright.surface("edge", keywords, cover, replicate)


def wave_surface(size, periods, direction=None, seed=0, *, cover=0, replicate=1, **keywords):
    """The surface a wave map is cut from: ``(1 + sin(2 pi periods g)) / 2``
    of the planar gradient ``g`` of ``direction``."""
    keywords.update(size=size, periods=periods, seed=seed)
    if direction is not None:
        keywords["direction"] = direction
    return _patchwright.surface("wave", keywords, cover, replicate)


def distance_surface(size, sources=None, seed=0, *, cover=0, replicate=1, **keywords):
    """The surface a distance gradient map is cut from: each cell's distance
    to its nearest of ``sources`` cells drawn from ``seed`` (``None``: the
    batch's default), or to the cells of ``sources_from=PATH`` that hold a
    value, divided by the largest."""
    keywords.update(size=size, seed=seed)
    if sources is not None:
        keywords["sources"] = sources
    return _patchwright.surface("distance", keywords, cover, replicate)


def perlin_surface(size, periods, seed=0, *, cover=0, replicate=1, **keywords):
    """The Perlin noise a Perlin map is cut from, rescaled to 0..1:
    ``periods`` lattice cells across each side in the first octave, and the
    keywords ``octaves``, ``lacunarity`` and ``persistence`` of a batch."""
    keywords.update(size=size, periods=periods, seed=seed)
    return _patchwright.surface("perlin", keywords, cover, replicate)


for _function in (
    cluster_surface,
    mosaic_surface,
    rectangles_surface,
    planar_surface,
    edge_surface,
    wave_surface,
    distance_surface,
    perlin_surface,
):
    _function.__doc__ += _DRAWN_SURFACE_DOC
del _function


def read_map(path):
    """A map file as an ``int32`` array of shape ``(rows, columns)``, row
    ``i`` being line ``i`` of the file: plain text, ESRI ASCII grids and
    GeoTIFF maps, as the viewer reads them.

    Raises ``FileNotFoundError`` or ``OSError`` when the file cannot be
    opened, and ``ValueError`` when it holds no map or rows of different
    lengths.
    """
    return _patchwright.read_map(os.fspath(path))


def classify(array, proportions, values=None, mask=None, *, nodata=-9999):
    """A surface of your own cut into classes of exact sizes.

    The cells of ``array`` (2D, numbers) inside the study area are ranked by
    value, equal values in row-major order, and each class takes its share
    of them, the first class the lowest values; the counts are the
    largest-remainder rounding of each proportion (in percent, 2 to 64 of
    them, adding up to 100) of the cells inside. ``patchwright-cli classify``
    does the same to a file.

    Returns an ``int32`` array of the array's shape: the codes ``values``
    (one a class, all different; 1 to k by default), and ``nodata`` where
    ``mask`` (an array of the same shape, true inside) leaves a cell out or
    the value is NaN. Bad proportions, codes or masks raise ``ValueError``
    with the reason.
    """
    surface = numpy.asarray(array, dtype=numpy.float64)
    if surface.ndim != 2:
        raise ValueError(f"a surface is a 2D array; this one has {surface.ndim} dimensions")
    inside = None
    if mask is not None:
        inside = numpy.ascontiguousarray(numpy.asarray(mask) != 0, dtype=numpy.uint8)
    shares = [float(p) for p in numpy.atleast_1d(proportions)]
    codes = [] if values is None else [int(v) for v in numpy.atleast_1d(values)]
    _check_code("nodata", nodata)
    return _patchwright.classify(
        numpy.ascontiguousarray(surface), shares, codes, inside, int(nodata)
    )


def metrics(array, cell_size=None, neighbours=None, *, habitat=None, metric=None, nodata=None):
    """The landscape metrics of a map.

    By default, as the manifest's metric columns give them: a dict of
    ``habitat_cells``, ``np``, ``lpi``, ``area_mn``, ``area_am``, ``ed`` and
    ``gyrate_am``. Its habitat cells are those equal to ``habitat`` or, when
    ``habitat`` is ``None``, those that are not 0. For a map with other codes
    pass its record's ``cover_value``. Areas are in ``cell_size`` units
    squared. The means over patches of a map without habitat (``area_mn``,
    ``area_am``, ``gyrate_am``) are ``None``, as the manifest leaves them
    empty.

    With ``metric`` (``"all"``, or names such as ``["np", "contag"]``), the
    long table ``patchwright-cli metrics`` writes for a map file, in the
    reference tool's names and layout: every class and the landscape, areas
    in hectares of ``cell_size`` map units a side. Its columns are ``level``
    (``"class"`` or ``"landscape"``), ``class`` (a float, NaN at landscape
    level), ``metric`` and ``value`` (NaN where a metric has none): a pandas
    ``DataFrame`` when pandas can be imported, else a dict of NumPy arrays.
    Every whole-number code is a class; cells equal to ``nodata`` and NaN
    cells lie outside the landscape, and other cells of a float array must
    hold whole numbers.

    Patches join by ``neighbours`` (8 or 4); ``None`` takes a batch's default
    for it and for ``cell_size``.
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
        _check_code("habitat", habitat)
    if nodata is not None:
        _check_code("nodata", nodata)
    # Checked before the habitat mask is made, which would take a byte a
    # cell; the engine refuses such a side too.
    for side, name in zip(cells.shape, ("rows", "columns")):
        if side > _INT_MAX:
            raise ValueError(f"a map of {side} {name} is beyond the {_INT_MAX} a side may have")
    if metric is not None:
        if habitat is not None:
            raise ValueError(
                "habitat picks the class of the manifest's metrics; with metric every class "
                "is measured, so give one or the other"
            )
        return _metric_table(cells, metric, cell_size, neighbours, nodata)
    if nodata is not None:
        raise ValueError(
            "nodata applies to the long table of metric; the manifest's metrics measure the "
            "habitat against every other cell"
        )
    mask = cells != 0 if habitat is None else cells == habitat
    return _patchwright.metrics(
        numpy.ascontiguousarray(mask).view(numpy.uint8), cell_size, neighbours
    )


def _check_code(name, code):
    if isinstance(code, (bool, numpy.bool_)) or not isinstance(
        code, (int, float, numpy.integer, numpy.floating)
    ):
        raise ArgumentTypeError(f"{name} must be a cell code, not {code!r}")
    if not numpy.isfinite(code) or code != int(code):
        raise ValueError(f"{name} is a cell code, a whole number, not {code!r}")


_INT32_MIN = -(2**31)


def _metric_table(cells, metric, cell_size, neighbours, nodata):
    """The long table of ``metrics(..., metric=...)``."""
    if isinstance(metric, str):
        names = metric
    else:
        try:
            names = list(metric)
        except TypeError:
            raise ArgumentTypeError(
                f"metric must be 'all' or a list of metric names, not {metric!r}"
            ) from None
        for name in names:
            if not isinstance(name, str):
                raise ArgumentTypeError(f"metric must list metric names, not {name!r}")
        names = ",".join(names)
    codes, outside_code = _class_codes(cells, nodata)
    is_class, classes, names, values = _patchwright.metric_table(
        codes, names, cell_size, neighbours, outside_code
    )
    table = {
        "level": numpy.where(is_class, "class", "landscape"),
        "class": numpy.where(is_class, classes, numpy.nan),
        "metric": numpy.array(names, dtype=str),
        "value": values,
    }
    try:
        import pandas
    except ImportError:
        return table
    return pandas.DataFrame(table)


def _class_codes(cells, nodata):
    """The map as the engine's 32-bit class codes, and the code of the cells
    outside the landscape (``None`` when no cell is): ``nodata`` where a code
    can be it, else one no cell inside holds."""
    outside = numpy.isnan(cells) if cells.dtype.kind == "f" else None
    if nodata is not None:
        equal = cells == nodata
        outside = equal if outside is None else outside | equal
    if outside is not None and not outside.any():
        outside = None
    inside = cells if outside is None else cells[~outside]
    if cells.dtype.kind == "f":
        fractions = numpy.flatnonzero((inside != numpy.trunc(inside)) | ~numpy.isfinite(inside))
        if fractions.size:
            raise ValueError(
                f"the map holds {float(inside.flat[fractions[0]])!r}, which is not a whole number; "
                "metrics need a class code in every cell (NaN cells or nodata lie outside the "
                "landscape)"
            )
    low, high = (int(inside.min()), int(inside.max())) if inside.size else (0, 0)
    if low < _INT32_MIN or high > _INT_MAX:
        raise ValueError(
            f"the map holds the code {low if low < _INT32_MIN else high}, beyond the 32-bit "
            f"codes ({_INT32_MIN} to {_INT_MAX}) a class may have"
        )
    if nodata is not None and _INT32_MIN <= nodata <= _INT_MAX:
        code = int(nodata)
    elif outside is None:
        code = None
    elif low > _INT32_MIN or not inside.size:
        code = _INT32_MIN
    elif high < _INT_MAX:
        code = _INT_MAX
    else:
        present = numpy.unique(inside)
        code = int(present[numpy.flatnonzero(numpy.diff(present) > 1)[0]] + 1)
    if outside is not None:
        cells = numpy.where(outside, code, cells)
    return numpy.ascontiguousarray(cells, dtype=numpy.int32), code
