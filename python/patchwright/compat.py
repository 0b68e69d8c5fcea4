# SPDX-License-Identifier: GPL-3.0-or-later
"""Neutral landscape models under the names and arguments the field's
Python scripts already call, drawn by Patchwright's engine: a script
switches by its import line alone,

    import patchwright.compat as nlmpy

    surface = nlmpy.mpd(nRow=100, nCol=100, h=0.75)
    classes = nlmpy.classifyArray(surface, [0.5, 0.3, 0.2])

Every function returns a ``float64`` NumPy array (a ``Landscape``, whose
``patchwright`` attribute says how to make it again: the family, the seed
and the options), values from 0 to 1, ``nan`` outside a ``mask`` (an array
of the same shape, nonzero inside). The surfaces are rescaled within the
mask; their draws cover the whole grid, so random elements and clusters
may lie outside it.

Seeds: each drawn surface takes a seed from NumPy's global generator
(``numpy.random``), so that ``numpy.random.seed(1)`` makes a script give
the same arrays on every run and machine; the values differ from those of
any other package for the same seed. ``seed=`` gives one directly.
"""

import numbers

import numpy

from . import _patchwright

__all__ = [
    "Landscape",
    "blendArray",
    "classifyArray",
    "distanceGradient",
    "edgeGradient",
    "exportASCIIGrid",
    "linearRescale01",
    "mpd",
    "perlinNoise",
    "planarGradient",
    "random",
    "randomClusterNN",
    "randomElementNN",
    "randomRectangularCluster",
    "waveSurface",
]

# The seeds every family takes.
_SEEDS = 1_000_000


class Landscape(numpy.ndarray):
    """A surface as a NumPy array, with ``patchwright``: a dict of the
    ``family``, ``seed`` and ``options`` that draw it again through
    ``patchwright.surface``."""

    def __array_finalize__(self, obj):
        self.patchwright = getattr(obj, "patchwright", None)


def _size(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be a whole number of cells, not {value!r}")
    if value < 2:
        raise ValueError(f"{name} must be at least 2 cells, not {value}")
    return int(value)


def _number(name, value, low=None):
    if isinstance(value, bool) or not isinstance(value, numbers.Real) or value != value:
        raise TypeError(f"{name} must be a number, not {value!r}")
    if low is not None and value < low:
        raise ValueError(f"{name} must be at least {low}, not {value}")
    return value


def _seed(seed):
    if seed is None:
        return int(numpy.random.randint(0, _SEEDS))
    if isinstance(seed, bool) or not isinstance(seed, numbers.Integral):
        raise TypeError(f"seed must be a whole number, not {seed!r}")
    return int(seed)


def _inside(mask, shape):
    if mask is None:
        return None
    inside = numpy.asarray(mask)
    if inside.shape != shape:
        raise ValueError(f"mask must have the surface's shape {shape}, not {inside.shape}")
    return numpy.nan_to_num(inside.astype(float), nan=0.0) != 0


def linearRescale01(array):
    """The array rescaled linearly so that its least value (ignoring
    ``nan``) is 0 and its greatest 1; a flat array becomes 0."""
    values = numpy.array(array, dtype=float)
    low, high = numpy.nanmin(values), numpy.nanmax(values)
    return (values - low) / (high - low) if high > low else numpy.where(
        numpy.isnan(values), numpy.nan, 0.0)


def _landscape(values, mask, family, seed, options):
    values = numpy.asarray(values, dtype=float)
    inside = _inside(mask, values.shape)
    if inside is not None:
        if not inside.any():
            raise ValueError("mask holds no cell inside")
        values = linearRescale01(numpy.where(inside, values, numpy.nan))
    else:
        # The engine's array is this call's own: rescaled where it lies.
        values = numpy.array(values, dtype=float, copy=not values.flags.owndata)
        low, high = values.min(), values.max()
        values -= low
        if high > low:
            values /= high - low
    values = values.view(Landscape)
    values.patchwright = {"family": family, "seed": seed, "options": options}
    return values


def _drawn(family, nRow, nCol, mask, seed, **options):
    shape = (_size("nRow", nRow), _size("nCol", nCol))
    seed = _seed(seed)
    size = shape
    if family == "fractal":
        # A fractal surface of R x C cells is a block of R + 1 x C + 1
        # points: the block of one cell less a side is the array asked for,
        # up to 4097 points a side.
        size = (max(shape[0] - 1, 2), max(shape[1] - 1, 2))
    options = dict(options, size=size)
    keywords = dict(options, **{"first_seed" if family == "fractal" else "seed": seed})
    values = _patchwright.surface(family, keywords, 0, 1)[: shape[0], : shape[1]]
    return _landscape(values, mask, family, seed, options)


def random(nRow, nCol, mask=None, *, seed=None):
    """Independent uniform values, one a cell (Patchwright's Philox field of
    random maps of classes)."""
    return _drawn("random", nRow, nCol, mask, seed)


def mpd(nRow, nCol, h, mask=None, *, seed=None):
    """A midpoint-displacement fBm surface of Hurst exponent ``h`` (two
    decimals, 0.1 to 1, as a fractal batch takes it), exactly ``nRow`` x
    ``nCol`` points (at most 4097 a side): the top-left corner of the
    lattice of the longer side."""
    _number("h", h)
    return _drawn("fractal", nRow, nCol, mask, seed, hurst=h)


def randomRectangularCluster(nRow, nCol, minL, maxL, mask=None, *, seed=None):
    """Rectangles of sides ``minL`` to ``maxL`` cells, each of a uniform
    value, painted one over the other until they cover the map."""
    return _drawn("rectangles", nRow, nCol, mask, seed, min_side=minL, max_side=maxL)


def randomElementNN(nRow, nCol, n, mask=None, categorical=False, *, seed=None):
    """``n`` elements (seed cells) of uniform values, every cell taking the
    value of its nearest; ``categorical=True`` numbers the elements instead,
    0 to the elements that hold a cell less one, in the order of their
    values."""
    landscape = _drawn("mosaic", nRow, nCol, None, seed, elements=n)
    if categorical:
        _, numbers_ = numpy.unique(numpy.asarray(landscape), return_inverse=True)
        numbered = numbers_.reshape(landscape.shape).astype(float)
        result = numpy.where(_inside(mask, numbered.shape), numbered, numpy.nan) if mask is not \
            None else numbered
        result = result.view(Landscape)
        result.patchwright = landscape.patchwright
        return result
    return _landscape(landscape, mask, "mosaic", landscape.patchwright["seed"],
                      landscape.patchwright["options"])


_NEIGHBOURHOODS = {"4-neighbourhood": "4", "8-neighbourhood": "8",
                   "diagonal-neighbourhood": "diagonal"}


def randomClusterNN(nRow, nCol, p, n="4-neighbourhood", mask=None, *, seed=None):
    """Random clusters: cells marked with probability ``p`` (two decimals),
    joined by the neighbourhood ``n`` ("4-neighbourhood", "8-neighbourhood"
    or "diagonal-neighbourhood"), each cluster a uniform value and every
    other cell the value of its nearest cluster."""
    if n not in _NEIGHBOURHOODS:
        raise ValueError(f"n must be one of {sorted(_NEIGHBOURHOODS)}, not {n!r}")
    _number("p", p)
    return _drawn("cluster", nRow, nCol, mask, seed, p=p, neighbourhood=_NEIGHBOURHOODS[n],
                  fill="nearest")


def _direction(direction):
    return {} if direction is None else {"direction": _number("direction", direction)}


def planarGradient(nRow, nCol, direction=None, mask=None, *, seed=None):
    """A plane rising towards ``direction`` (degrees clockwise from north,
    two decimals), drawn from the seed when ``None``."""
    return _drawn("planar", nRow, nCol, mask, seed, **_direction(direction))


def edgeGradient(nRow, nCol, direction=None, mask=None, *, seed=None):
    """The planar gradient folded about the map's middle: highest along the
    band through it."""
    return _drawn("edge", nRow, nCol, mask, seed, **_direction(direction))


def waveSurface(nRow, nCol, periods, direction=None, mask=None, *, seed=None):
    """``periods`` sine waves along the planar gradient of ``direction``."""
    return _drawn("wave", nRow, nCol, mask, seed, periods=_number("periods", periods, 1),
                  **_direction(direction))


def distanceGradient(source, mask=None):
    """Every cell's Euclidean distance to its nearest nonzero cell of
    ``source``, exact, rescaled to 0..1."""
    cells = numpy.asarray(source)
    if cells.ndim != 2:
        raise ValueError(f"source must be a two-dimensional array, not of {cells.ndim}")
    values = _patchwright.source_distances(numpy.ascontiguousarray(cells != 0, dtype=numpy.uint8))
    return _landscape(values, mask, "distance", None, {"sources": int((cells != 0).sum())})


def perlinNoise(nRow, nCol, periods, octaves=1, lacunarity=2, persistence=0.5, valley="u",
                mask=None, *, seed=None):
    """Perlin noise: ``periods`` lattice cells across each side (a number,
    or a pair of equal numbers), ``octaves`` each ``lacunarity`` times finer
    and ``persistence`` times weaker. ``valley="u"`` only: the folded
    valleys of "v" are not offered."""
    if not isinstance(periods, numbers.Real):
        pair = tuple(periods)
        if len(pair) != 2 or pair[0] != pair[1]:
            raise ValueError(f"periods must be one number of lattice cells for both sides, "
                             f"not {periods!r}")
        periods = pair[0]
    if valley != "u":
        raise ValueError(f"valley must be 'u', not {valley!r}")
    return _drawn("perlin", nRow, nCol, mask, seed, periods=_number("periods", periods, 1),
                  octaves=octaves, lacunarity=lacunarity, persistence=persistence)


def classifyArray(array, weights, mask=None):
    """The array's cells in classes 0, 1, ... of exactly the ``weights``'
    shares of the cells (inside ``mask``, outside ``nan``), the lowest
    values in class 0; ties in row-major order."""
    values = numpy.ascontiguousarray(array, dtype=float)
    shares = numpy.asarray(weights, dtype=float)
    if shares.ndim != 1 or shares.size < 1 or (shares < 0).any() or not shares.sum() > 0:
        raise ValueError(f"weights must be non-negative numbers with a positive sum, not "
                         f"{weights!r}")
    if shares.size == 1:
        return numpy.where(numpy.isnan(values), numpy.nan, 0.0)
    inside = _inside(mask, values.shape)
    percent = shares / shares.sum() * 100.0
    codes = _patchwright.classify(
        values, list(percent), list(range(shares.size)),
        None if inside is None else numpy.ascontiguousarray(inside, dtype=numpy.uint8), -1)
    return numpy.where(codes < 0, numpy.nan, codes.astype(float))


def blendArray(primaryArray, arrays, scalingFactors=None):
    """``primaryArray`` plus each of ``arrays`` times its scaling factor (1
    when not given), rescaled to 0..1."""
    blended = numpy.array(primaryArray, dtype=float)
    factors = [1.0] * len(arrays) if scalingFactors is None else list(scalingFactors)
    if len(factors) != len(arrays):
        raise ValueError("scalingFactors must give one factor for each of arrays")
    for array, factor in zip(arrays, factors):
        blended = blended + numpy.asarray(array, dtype=float) * _number("scalingFactors", factor)
    return linearRescale01(blended)


def exportASCIIGrid(outFile, nlm, xll=0, yll=0, cellSize=1):
    """Writes the array as an ESRI ASCII grid (``nan`` as NODATA -9999),
    its lower-left corner at ``xll``, ``yll``, cells ``cellSize`` wide, the
    values with 17 significant digits so that they read back exactly."""
    values = numpy.asarray(nlm, dtype=float)
    if values.ndim != 2:
        raise ValueError(f"nlm must be a two-dimensional array, not of {values.ndim}")
    header = (f"NCOLS {values.shape[1]}\nNROWS {values.shape[0]}\nXLLCORNER {xll}\n"
              f"YLLCORNER {yll}\nCELLSIZE {cellSize}\nNODATA_VALUE -9999")
    numpy.savetxt(outFile, numpy.where(numpy.isnan(values), -9999, values), fmt="%.17g",
                  header=header, comments="")
