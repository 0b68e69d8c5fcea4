# SPDX-License-Identifier: GPL-3.0-or-later
"""How far the habitat share of random cluster maps with the majority fill
lies from the cover asked for: over REPLICATES maps of 100 x 100 cells for
each p, neighbourhood and cover, the mean realised cover minus the cover,
and the standard deviation of the realised cover, in percentage points.
The figures the README gives.

Usage: /usr/bin/python3 bench/cluster_shares.py BUILD_DIR [REPLICATES]
"""

import os
import sys

import numpy


def main():
    sys.path.insert(0, os.path.join(os.path.abspath(sys.argv[1]), "python"))
    import patchwright

    replicates = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    covers = [10, 30, 50, 70, 90]
    print("p     neighbourhood " + "".join(f"{'cover ' + str(c):>16}" for c in covers))
    for neighbourhood in ("4", "8"):
        for p in (0.3, 0.5, 0.7):
            cells = []
            for cover in covers:
                realised = numpy.array([r["realised_cover"] for r, _ in patchwright.cluster_batch(
                    p=p, neighbourhood=neighbourhood, cover=[cover], size=100,
                    replicates=replicates, seed=1)])
                cells.append(f"{realised.mean() - cover:+6.2f} sd {realised.std():5.2f}")
            print(f"{p:<6}{neighbourhood:<14}" + "".join(f"{c:>16}" for c in cells))


if __name__ == "__main__":
    main()
