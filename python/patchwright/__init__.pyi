from os import PathLike
from types import TracebackType
from typing import Iterator, Literal, Optional, Sequence, SupportsFloat, SupportsIndex, Union

import numpy
import numpy.typing

__all__ = ["Batch", "fbm_surface", "fractal_batch", "metrics", "random_batch", "read_map"]

__version__: str

# A manifest row: whole numbers as int, other numbers as float, words as
# str, empty fields as None.
Record = dict[str, Union[int, float, str, None]]
Map = numpy.ndarray[tuple[int, int], numpy.dtype[numpy.int32]]
Surface = numpy.ndarray[tuple[int, int], numpy.dtype[numpy.float64]]

CoverRange = Union[range, Sequence[SupportsIndex], SupportsIndex]
HurstRange = Union[Sequence[SupportsFloat], SupportsFloat, None]
GeneratorName = Literal["classic", "philox"]
FormatName = Literal["plain", "asc", "tif"]

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

def random_batch(
    *,
    cover: CoverRange = ...,
    size: SupportsIndex = 100,
    replicates: SupportsIndex = 1,
    seed: SupportsIndex = 5,
    generator: GeneratorName = "classic",
    prefix: str = "RND_",
    cover_value: SupportsIndex = 1,
    matrix_value: SupportsIndex = 0,
    format: FormatName = "plain",
    metrics: bool = False,
    neighbours: SupportsIndex = 8,
    cell_size: SupportsFloat = 1.0,
) -> Batch: ...
def fractal_batch(
    *,
    hurst: HurstRange = None,
    cover: CoverRange = ...,
    size: SupportsIndex = 100,
    replicates: SupportsIndex = 1,
    generator: GeneratorName = "classic",
    cut: Literal["ladder", "exact"] = "ladder",
    distinct_surfaces: bool = False,
    surfaces: SupportsIndex = 200,
    first_seed: SupportsIndex = 0,
    prefix: str = "FBM_",
    cover_value: SupportsIndex = 1,
    matrix_value: SupportsIndex = 0,
    format: FormatName = "plain",
    metrics: bool = False,
    neighbours: SupportsIndex = 8,
    cell_size: SupportsFloat = 1.0,
) -> Batch: ...
def fbm_surface(
    size: SupportsIndex,
    h: SupportsFloat,
    seed: SupportsIndex,
    *,
    generator: GeneratorName = "classic",
) -> Surface: ...
def read_map(path: Union[str, bytes, PathLike[str], PathLike[bytes]]) -> Map: ...
def metrics(
    array: numpy.typing.ArrayLike,
    cell_size: SupportsFloat = 1,
    neighbours: SupportsIndex = 8,
    *,
    habitat: Optional[SupportsIndex] = None,
) -> dict[str, Union[int, float, None]]: ...
