# SPDX-License-Identifier: GPL-3.0-or-later
"""Reference landscape metrics for tst_landscapemetrics, computed the plain way.

Each argument group is PATH ROWS COLUMNS NEIGHBOURS CELLSIZE, where PATH holds
ROWS * COLUMNS bytes, row-major, nonzero for habitat. Prints one line per map:
habitat cells, NP, LPI, AREA_MN, AREA_AM, ED, GYRATE_AM.

Patches come from scipy.ndimage.label, centroids and distances from numpy on
whole arrays, and edges from a direct comparison of neighbouring cells, so
nothing here shares an idea with the streaming code under test.
"""

import sys

import numpy as np
from scipy import ndimage


def metrics(cells, neighbours, cell_size):
    habitat = cells != 0
    rows, columns = habitat.shape
    map_area = rows * columns * cell_size**2
    structure = np.ones((3, 3)) if neighbours == 8 else None
    labels, count = ndimage.label(habitat, structure=structure)

    # Sides between two cells of the map that differ; the border is no edge.
    edges = np.count_nonzero(habitat[:, 1:] != habitat[:, :-1]) + np.count_nonzero(
        habitat[1:, :] != habitat[:-1, :]
    )
    ed = edges * cell_size / map_area * 10000

    if count == 0:
        return [0, 0, 0.0, float("nan"), float("nan"), ed, float("nan")]

    r, c = np.nonzero(habitat)
    lab = labels[r, c]
    cells_per_patch = np.bincount(lab, minlength=count + 1)[1:].astype(float)
    mean_r = np.bincount(lab, weights=r, minlength=count + 1)[1:] / cells_per_patch
    mean_c = np.bincount(lab, weights=c, minlength=count + 1)[1:] / cells_per_patch
    distance = np.hypot(r - mean_r[lab - 1], c - mean_c[lab - 1]) * cell_size
    gyration = np.bincount(lab, weights=distance, minlength=count + 1)[1:] / cells_per_patch

    area = cells_per_patch * cell_size**2
    return [
        int(habitat.sum()),
        count,
        area.max() / map_area * 100,
        area.mean(),
        (area * area).sum() / area.sum(),
        ed,
        (area * gyration).sum() / area.sum(),
    ]


def main(args):
    for i in range(0, len(args), 5):
        path, rows, columns, neighbours, cell_size = args[i : i + 5]
        cells = np.fromfile(path, dtype=np.uint8).reshape(int(rows), int(columns))
        values = metrics(cells, int(neighbours), float(cell_size))
        print(" ".join(repr(v) for v in values))


if __name__ == "__main__":
    main(sys.argv[1:])
