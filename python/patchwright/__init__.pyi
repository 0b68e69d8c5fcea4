# SPDX-License-Identifier: GPL-3.0-or-later
from os import PathLike
from types import TracebackType
from typing import Iterator, Optional, Sequence, SupportsFloat, SupportsIndex, Union

import numpy
import numpy.typing

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

# The keywords, their defaults and their words are the batch description's
# (patchwright.random_batch.__signature__ shows them); the suite checks that
# these names are its names.
def random_batch(
    *,
    cover: Sweep = ...,
    size: SupportsIndex = ...,
    replicates: SupportsIndex = ...,
    seed: SupportsIndex = ...,
    prefix: str = ...,
    cover_value: SupportsIndex = ...,
    matrix_value: SupportsIndex = ...,
    format: str = ...,
    shard: Optional[tuple[SupportsIndex, SupportsIndex]] = ...,
    generator: str = ...,
    cell_size: SupportsFloat = ...,
    metrics: bool = ...,
    neighbours: SupportsIndex = ...,
    target: Targets = ...,
    max_draws: SupportsIndex = ...,
) -> Batch: ...
def fractal_batch(
    *,
    cover: Sweep = ...,
    size: SupportsIndex = ...,
    replicates: SupportsIndex = ...,
    hurst: Sweep = ...,
    surfaces: SupportsIndex = ...,
    first_seed: SupportsIndex = ...,
    distinct_surfaces: bool = ...,
    cut: str = ...,
    prefix: str = ...,
    cover_value: SupportsIndex = ...,
    matrix_value: SupportsIndex = ...,
    format: str = ...,
    shard: Optional[tuple[SupportsIndex, SupportsIndex]] = ...,
    generator: str = ...,
    cell_size: SupportsFloat = ...,
    metrics: bool = ...,
    neighbours: SupportsIndex = ...,
    target: Targets = ...,
    max_draws: SupportsIndex = ...,
) -> Batch: ...
def gaussian_batch(
    *,
    cover: Sweep = ...,
    size: SupportsIndex = ...,
    replicates: SupportsIndex = ...,
    model: str = ...,
    range: Sweep = ...,
    hurst: Sweep = ...,
    nu: SupportsFloat = ...,
    seed: SupportsIndex = ...,
    cut: str = ...,
    prefix: str = ...,
    cover_value: SupportsIndex = ...,
    matrix_value: SupportsIndex = ...,
    format: str = ...,
    shard: Optional[tuple[SupportsIndex, SupportsIndex]] = ...,
    cell_size: SupportsFloat = ...,
    metrics: bool = ...,
    neighbours: SupportsIndex = ...,
    target: Targets = ...,
    max_draws: SupportsIndex = ...,
) -> Batch: ...
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
def read_map(path: Union[str, bytes, PathLike[str], PathLike[bytes]]) -> Map: ...
def metrics(
    array: numpy.typing.ArrayLike,
    cell_size: Optional[SupportsFloat] = None,
    neighbours: Optional[SupportsIndex] = None,
    *,
    habitat: Optional[SupportsIndex] = None,
) -> dict[str, Union[int, float, None]]: ...
