# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks that --target keeps exactly the first maps that meet the targets.

Usage: target_check.py PATCHWRIGHT_CLI

For a random and a fractal request, the maps kept with targets are measured
again with tests/core/metrics_reference.py (scipy's ndimage.label), which
shares nothing with the streaming code that chose them. The same request is
then made without targets, as many replicates as draws were tried, so that
replicate k there is draw k of the filtered run: the kept maps must be, cell
for cell, the first of those draws that pass. An unreachable target must fall
short with its message, and a request with dependent draws must be refused.

Exits 77, which CTest reports as skipped, when numpy or scipy is missing.
"""

import importlib
import math
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "core"))

from gis_check import manifest, read_plain  # noqa: E402

SKIPPED = 77
COLUMNS = {"np": 1, "lpi": 2, "area_mn": 3, "area_am": 4, "ed": 5, "gyrate_am": 6}


def run(cli, arguments):
    return subprocess.run([cli] + arguments, capture_output=True, text=True)


def meets(values, targets):
    for metric, (low, high) in targets.items():
        value = values[COLUMNS[metric]]
        if isinstance(value, float) and math.isnan(value):
            return False
        if (low is not None and value < low) or (high is not None and value > high):
            return False
    return True


def target_options(targets):
    options = []
    for metric, (low, high) in targets.items():
        side = lambda v: "" if v is None else repr(v)
        options += ["--target", "%s=%s:%s" % (metric, side(low), side(high))]
    return options


def check_request(cli, work, name, kind, common, replicates_option, targets, failures):
    import metrics_reference

    kept_dir = work / (name + "_kept")
    result = run(cli, [kind, "--out", str(kept_dir), "--replicates", "3", "--max-draws", "150"]
                 + common + target_options(targets))
    if result.returncode != 0:
        failures.append("%s: exit %d: %s" % (name, result.returncode, result.stderr))
        return
    rows = manifest(kept_dir, common[common.index("--prefix") + 1])
    if len(rows) != 3:
        failures.append("%s: %d maps kept, 3 asked for: %s" % (name, len(rows), result.stdout))
        return
    if "acceptance" not in result.stdout:
        failures.append("%s: the summary gives no acceptance: %s" % (name, result.stdout))
    draws = int(rows[0]["cell_draws"])
    for row in rows:
        cells = read_plain(kept_dir / row["file"])
        values = metrics_reference.metrics(cells == 1, 8, 1.0)
        if not meets(values, targets):
            failures.append("%s: %s has %s, outside %s" % (name, row["file"], values, targets))

    # The same request without targets: its replicate k is draw k.
    all_dir = work / (name + "_all")
    result = run(cli, [kind, "--out", str(all_dir), "--replicates", str(draws)] + common
                 + replicates_option(draws))
    if result.returncode != 0:
        failures.append("%s unfiltered: exit %d: %s" % (name, result.returncode, result.stderr))
        return
    every = manifest(all_dir, common[common.index("--prefix") + 1])
    passing = []
    for row in every:
        cells = read_plain(all_dir / row["file"])
        if meets(metrics_reference.metrics(cells == 1, 8, 1.0), targets):
            passing.append(row)
    if [int(r["draw"]) for r in rows] != [int(r["replicate"]) for r in passing[:3]]:
        failures.append("%s: kept draws %s, first passing draws %s" % (
            name, [r["draw"] for r in rows], [r["replicate"] for r in passing[:3]]))
    for kept, first in zip(rows, passing):
        if (kept_dir / kept["file"]).read_bytes() != (all_dir / first["file"]).read_bytes():
            failures.append("%s: %s differs from draw %s" % (name, kept["file"], first["file"]))
    if int(rows[-1]["draw"]) != draws:
        failures.append("%s: %s draws tried, the last kept map is draw %s" % (
            name, draws, rows[-1]["draw"]))


def main(cli):
    for module in ("numpy", "scipy"):
        try:
            importlib.import_module(module)
        except ImportError:
            print("%s is missing" % module)
            return SKIPPED
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        random_common = ["--cover", "30", "--size", "40", "--seed", "11", "--generator",
                         "philox", "--prefix", "R_"]
        check_request(cli, work, "random", "random", random_common, lambda n: [],
                      {"np": (80, 95), "lpi": (None, 3.0)}, failures)
        fractal_common = ["--hurst", "0.3", "--cover", "30", "--size", "48", "--generator",
                          "philox", "--cut", "exact", "--distinct-surfaces", "--prefix", "F_"]
        check_request(cli, work, "fractal", "fractal", fractal_common,
                      lambda n: ["--surfaces", str(n)], {"np": (10, 25)}, failures)

        short = run(cli, ["random", "--out", str(work / "short"), "--cover", "30", "--size",
                          "20", "--replicates", "2", "--generator", "philox", "--target",
                          "np=1000:", "--max-draws", "7", "--prefix", "S_"])
        if short.returncode != 0 or "cover 30 fell short: 0 of 2 maps met the targets in 7 " \
                "draws" not in short.stderr:
            failures.append("unreachable target: exit %d, %s%s" % (
                short.returncode, short.stdout, short.stderr))
        if any((work / "short").glob("S_0*")):
            failures.append("unreachable target: a rejected map was written")

        for kind, extra, needs in (("random", [], "--generator philox"),
                                   ("fractal", ["--generator", "philox"],
                                    "--cut exact --distinct-surfaces")):
            refused = run(cli, [kind, "--out", str(work / "refused"), "--target", "np=1:2"]
                          + extra)
            if refused.returncode == 0 or needs not in refused.stderr:
                failures.append("%s with dependent draws: exit %d, %s" % (
                    kind, refused.returncode, refused.stderr))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
