# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the package's stub, __init__.pyi, from the batch description the
compiled module reads: every family's batch function with its keywords, as
the package defines them. The build runs it once the module is built:

    python3 -m patchwright._stubgen OUT.pyi
"""

import sys

from . import _patchwright

# What each type of option takes, in the stub's words.
_TYPES = {
    "flag": "bool",
    "whole": "SupportsIndex",
    "number": "SupportsFloat",
    "text": "str",
    "choice": "str",
    "sweep": "Sweep",
    "point": "tuple[SupportsFloat, SupportsFloat]",
    "shape": "SupportsIndex | tuple[SupportsIndex, SupportsIndex]",
    "targets": "Targets",
    "share": "Optional[tuple[SupportsIndex, SupportsIndex]]",
    "numbers": "Optional[Sequence[SupportsFloat]]",
    "metrics": "Union[bool, str, Sequence[str]]",
    "blends": "Sequence[tuple[str, Optional[dict[str, Any]], SupportsFloat] | tuple[str, Optional[dict[str, Any]]]]",
}

_HEAD = """# SPDX-License-Identifier: GPL-3.0-or-later
from os import PathLike
from types import TracebackType
from typing import Any, Iterator, Optional, Sequence, SupportsFloat, SupportsIndex, Union, overload

import numpy
import numpy.typing

__all__ = [
__ALL__]

__version__: str

# A manifest row: whole numbers as int, other numbers as float, words as
# str, empty fields as None.
Record = dict[str, Union[int, float, str, None]]
Map = numpy.ndarray[tuple[int, int], numpy.dtype[numpy.int32]]
Surface = numpy.ndarray[tuple[int, int], numpy.dtype[numpy.float64]]

# A range, a list of values, or one value.
Sweep = Union[range, Sequence[SupportsFloat], SupportsFloat]
# {metric: (min, max)}, None for an open side.
Targets = dict[str, tuple[Optional[SupportsFloat], Optional[SupportsFloat]]]

class ArgumentTypeError(TypeError, ValueError): ...
class ShortfallWarning(UserWarning): ...

class Batch(Iterator[tuple[Record, Map]]):
    def __iter__(self) -> Batch: ...
    def __next__(self) -> tuple[Record, Map]: ...
    def close(self) -> None: ...
    def __enter__(self) -> Batch: ...
    def __exit__(
        self,
        exc_type: Optional[type[BaseException]],
        exc: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> bool: ...

"""

_TAIL = """def families() -> list[dict[str, str]]: ...
def surface(
    family: str,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def fbm_surface(
    size: SupportsIndex,
    h: SupportsFloat,
    seed: SupportsIndex,
    *,
    generator: Optional[str] = None,
) -> Surface: ...
def gaussian_surface(
    size: SupportsIndex,
    model: str,
    range: SupportsFloat,
    seed: SupportsIndex,
    *,
    nu: Optional[SupportsFloat] = None,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
) -> Surface: ...
def cluster_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    p: SupportsFloat,
    seed: SupportsIndex,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def mosaic_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    elements: SupportsIndex,
    seed: SupportsIndex,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def rectangles_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    min_side: SupportsIndex,
    max_side: SupportsIndex,
    seed: SupportsIndex,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def planar_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    direction: Optional[SupportsFloat] = None,
    seed: SupportsIndex = 0,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def edge_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    direction: Optional[SupportsFloat] = None,
    seed: SupportsIndex = 0,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def wave_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    periods: SupportsFloat,
    direction: Optional[SupportsFloat] = None,
    seed: SupportsIndex = 0,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def distance_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    sources: Optional[SupportsIndex] = None,
    seed: SupportsIndex = 0,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def perlin_surface(
    size: Union[SupportsIndex, Sequence[SupportsIndex]],
    periods: SupportsFloat,
    seed: SupportsIndex = 0,
    *,
    cover: SupportsIndex = 0,
    replicate: SupportsIndex = 1,
    **keywords: object,
) -> Surface: ...
def read_map(path: Union[str, bytes, PathLike[str], PathLike[bytes]]) -> Map: ...
@overload
def metrics(
    array: numpy.typing.ArrayLike,
    cell_size: Optional[SupportsFloat] = None,
    neighbours: Optional[SupportsIndex] = None,
    *,
    habitat: Optional[SupportsIndex] = None,
    metric: None = None,
    nodata: None = None,
) -> dict[str, Union[int, float, None]]: ...
# The long table: a pandas DataFrame when pandas can be imported, else a
# dict of NumPy arrays with the same columns.
@overload
def metrics(
    array: numpy.typing.ArrayLike,
    cell_size: Optional[SupportsFloat] = None,
    neighbours: Optional[SupportsIndex] = None,
    *,
    habitat: None = None,
    metric: Union[str, Sequence[str]],
    nodata: Optional[SupportsFloat] = None,
) -> Any: ...
"""


def stub():
    """The stub's text."""
    families = [f["word"] for f in _patchwright.families()]
    names = sorted(
        ["ArgumentTypeError", "Batch", "families", "fbm_surface", "gaussian_surface", "metrics",
         "read_map", "ShortfallWarning", "surface", "cluster_surface", "mosaic_surface",
         "rectangles_surface", "planar_surface", "edge_surface", "wave_surface",
         "distance_surface", "perlin_surface"] + [word + "_batch" for word in families],
        key=str.lower,
    )
    lines = [_HEAD.replace("__ALL__", "".join(f'    "{name}",\n' for name in names))]
    lines.append("# The keywords, their defaults and their words are the batch description's\n"
                 "# (patchwright.random_batch.__signature__ shows them); the build writes\n"
                 "# these from it.\n")
    for word in families:
        lines.append(f"def {word}_batch(\n    *,\n")
        for option in _patchwright.options(word):
            lines.append(f"    {option['key']}: {_TYPES[option['type']]} = ...,\n")
        lines.append(") -> Batch: ...\n")
    lines.append(_TAIL)
    return "".join(lines)


if __name__ == "__main__":
    with open(sys.argv[1], "w", encoding="utf-8") as file:
        file.write(stub())
