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
The figures scan prints for each family are checked against numpy's, taken
from the metrics of the same draws written by a batch.

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


def check_scan(cli, work, name, family, shape, batch_extra, failures):
    import numpy

    samples = 12
    result = run(cli, ["scan", family, "--csv", "--samples", str(samples)] + shape)
    if result.returncode != 0:
        failures.append("scan %s: exit %d: %s" % (family, result.returncode, result.stderr))
        return
    lines = result.stdout.splitlines()
    header = lines[0].split(",")
    folder = work / ("scan_" + name)
    batch = run(cli, [family, "--out", str(folder), "--metrics", "--prefix", "S_",
                      "--replicates", str(samples)] + shape + batch_extra(samples))
    if batch.returncode != 0:
        failures.append("scan %s batch: exit %d: %s" % (family, batch.returncode, batch.stderr))
        return
    axis = header[0]
    column = {"H": "H", "range": "range"}[axis]
    groups = {}
    for row in manifest(folder, "S_"):
        key = ("%.2f" % float(row[column]) if row[column] else "-", row["requested_cover"])
        groups.setdefault(key, []).append(row)
    if len(lines) - 1 != len(groups):
        failures.append("scan %s: %d rows for %d values and covers" % (
            family, len(lines) - 1, len(groups)))
    for line in lines[1:]:
        fields = dict(zip(header, line.split(",")))
        rows = groups.get((fields[axis], fields["cover"]), [])
        if int(fields["maps"]) != len(rows):
            failures.append("scan %s %s: %s maps, the batch has %d" % (
                family, line[:20], fields["maps"], len(rows)))
            continue
        for metric in COLUMNS:
            values = numpy.array([float(r[metric]) for r in rows if r[metric] != ""])
            expected = [values.mean()] + list(numpy.quantile(values, [0.05, 0.5, 0.95]))
            for figure, want in zip(("mean", "p5", "p50", "p95"), expected):
                got = float(fields["%s_%s" % (metric, figure)])
                if abs(got - want) > 1e-5 * max(1.0, abs(want)):
                    failures.append("scan %s %s %s_%s: %s, numpy says %r" % (
                        family, fields[axis], metric, figure, got, want))


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

        check_scan(cli, work, "random", "random", ["--cover", "20:40:20", "--size", "30", "--seed", "4"],
                   lambda n: ["--generator", "philox"], failures)
        check_scan(cli, work, "fractal", "fractal", ["--cover", "30", "--hurst", "0.3,0.7", "--size", "33"],
                   lambda n: ["--generator", "philox", "--cut", "exact", "--distinct-surfaces",
                              "--surfaces", str(n)], failures)
        check_scan(cli, work, "range", "gaussian", ["--cover", "25", "--range", "2:6:4", "--size", "32"],
                   lambda n: [], failures)
        check_scan(cli, work, "fbm", "gaussian", ["--model", "fbm", "--hurst", "0.4", "--size", "32", "--cover", "30"],
                   lambda n: [], failures)
        gaussian_common = ["--range", "4", "--cover", "30", "--size", "40", "--prefix", "G_"]
        check_request(cli, work, "gaussian", "gaussian", gaussian_common, lambda n: [],
                      {"np": (16, 22)}, failures)

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
