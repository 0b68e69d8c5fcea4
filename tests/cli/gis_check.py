# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the maps of real command-line runs with the tools users open them in.

Usage: gis_check.py PATCHWRIGHT_CLI

Every run is made three times, as plain text, ESRI grid and GeoTIFF, with the
same request, so the plain map is the reference the GIS formats must equal
cell for cell, as GDAL and rasterio read them. The metric columns of the
manifest are measured again on the maps read back, with the plain
computation of tests/core/metrics_reference.py (scipy's ndimage.label and a
direct count of edges). Each surface file must give back its maps when cut
at the manifest's thresholds. Then the examples of docs/gis.md marked
`<!-- tested: NAME -->` are run, in order, in a folder of their own, so that
the documentation cannot drift from the program.

Exits 77, which CTest reports as skipped, when a tool is missing, naming the
Debian package that brings it.
"""

import csv
import importlib
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
DOCUMENT = HERE.parent.parent / "docs" / "gis.md"
SKIPPED = 77


def missing_tool():
    for module, package in (("numpy", "python3-numpy"), ("scipy", "python3-scipy"),
                            ("rasterio", "python3-rasterio")):
        try:
            importlib.import_module(module)
        except ImportError:
            return "%s (Debian: %s)" % (module, package)
    if not shutil.which("gdalinfo"):
        return "gdalinfo (Debian: gdal-bin)"
    return None


class Run:
    """One request, made in the three formats into folders of a work folder."""

    def __init__(self, name, kind, size, options, codes=(1, 0), cell_size=1.0,
                 origin=(0.0, 0.0), crs=None, nodata=None, tif_type="Byte",
                 tif_nodata=255, neighbours=8):
        self.name = name
        self.kind = kind
        self.size = size
        self.options = options
        self.cover, self.matrix = codes
        self.cell_size = cell_size
        self.origin = origin
        self.crs = crs
        self.nodata = nodata
        # What the GeoTIFF must hold, worked out by hand from the codes:
        # the smallest integer type that holds both codes and its NoData.
        self.tif_type = tif_type
        self.tif_nodata = tif_nodata
        self.neighbours = neighbours

    def arguments(self, fmt, folder):
        # The maps are scratch files, so waiting for the disk would only cost
        # the suite time.
        args = [self.kind, "--out", str(folder), "--size", str(self.size), "--format", fmt,
                "--cover-value", str(self.cover), "--matrix-value", str(self.matrix),
                "--cell-size", repr(self.cell_size), "--metrics",
                "--neighbours", str(self.neighbours), "--quiet", "--no-sync"] + self.options
        if fmt != "plain":
            args += ["--origin", "%r,%r" % self.origin]
            if self.nodata is not None:
                args += ["--nodata", str(self.nodata)]
        if fmt == "tif" and self.crs:
            args += ["--crs", self.crs]
        return args


RUNS = [
    # Codes on both sides of zero need a signed type; 37 is no power of two.
    Run("random-37", "random", 37, ["--cover", "0:60:30", "--seed", "3"], codes=(7, -2),
        cell_size=25.0, origin=(1000.0, 2000.0), crs="EPSG:3035", tif_type="Int16",
        tif_nodata=-9999),
    # A NoData of -1 widens a 0/1 map from Byte to Int16.
    Run("random-64", "random", 64,
        ["--cover", "50:50:1", "--replicates", "2", "--generator", "philox"],
        nodata=-1, tif_type="Int16", tif_nodata=-1, neighbours=4),
    Run("fractal-50", "fractal", 50,
        ["--hurst", "0.3:0.7:0.4", "--cover", "20:60:40", "--write-surfaces"],
        codes=(7, -2), cell_size=25.0, origin=(1000.0, 2000.0), crs="EPSG:32633",
        tif_type="Int16", tif_nodata=-9999),
    Run("fractal-33", "fractal", 33,
        ["--hurst", "0.5:0.5:0.1", "--cover", "10:90:40", "--replicates", "2",
         "--cut", "exact", "--generator", "philox", "--write-surfaces"],
        cell_size=2.5, origin=(-50.0, 75.5), neighbours=4),
]

METRICS = ["habitat_cells", "np", "lpi", "area_mn", "area_am", "ed", "gyrate_am"]


class Checker:
    def __init__(self, cli, work):
        self.cli = cli
        self.work = work
        self.failures = []
        self.checks = 0

    def check(self, condition, what):
        self.checks += 1
        if not condition:
            self.failures.append(what)
        return condition

    def run_cli(self, arguments):
        result = subprocess.run([self.cli] + arguments, cwd=self.work, capture_output=True,
                                text=True)
        if result.returncode != 0:
            raise RuntimeError("patchwright-cli %s: %s" % (" ".join(arguments), result.stderr))

    def gdalinfo(self, path):
        result = subprocess.run(["gdalinfo", "-json", str(path)], capture_output=True, text=True,
                                check=True)
        return json.loads(result.stdout)


def read_plain(path):
    import numpy as np

    with open(path) as text:
        return np.array([[int(v) for v in line.split()] for line in text], dtype=np.int64)


def read_raster(path, surface=False):
    import rasterio

    # GDAL reads the decimals of an ESRI grid as float32 unless asked for
    # doubles, which would round away what the surface writer kept apart.
    options = {"DATATYPE": "Float64"} if surface and path.suffix == ".asc" else {}
    with rasterio.open(path, **options) as raster:
        return raster.read(1), raster.transform, raster.nodata, raster.crs


def manifest(folder, prefix):
    with open(folder / (prefix + "manifest.csv"), newline="") as table:
        return list(csv.DictReader(table))


def close(actual, expected):
    return abs(actual - expected) <= 1e-9 * max(1.0, abs(expected))


def check_metrics(c, where, row, habitat, run):
    import metrics_reference

    expected = metrics_reference.metrics(habitat, run.neighbours, run.cell_size)
    for name, value in zip(METRICS, expected):
        field = row[name]
        if isinstance(value, float) and math.isnan(value):
            c.check(field == "", "%s: %s is %r where the map has no patch" % (where, name, field))
        elif name in ("habitat_cells", "np"):
            c.check(field == str(value), "%s: %s %s, scipy %s" % (where, name, field, value))
        else:
            c.check(field != "" and close(float(field), value),
                    "%s: %s %s, reference %r" % (where, name, field, value))


def check_header(c, where, info, run, fmt, rows):
    """What gdalinfo says about a map: NoData, the cell, the corner, the CRS, the type."""
    band = info["bands"][0]
    nodata = run.tif_nodata if fmt == "tif" else (-9999 if run.nodata is None else run.nodata)
    c.check(band.get("noDataValue") == nodata,
            "%s: NoData %r, expected %r" % (where, band.get("noDataValue"), nodata))
    top = run.origin[1] + rows * run.cell_size
    expected = [run.origin[0], run.cell_size, 0.0, top, 0.0, -run.cell_size]
    c.check(all(close(a, b) for a, b in zip(info["geoTransform"], expected)),
            "%s: geotransform %r, expected %r" % (where, info["geoTransform"], expected))
    wkt = info.get("coordinateSystem", {}).get("wkt", "")
    if fmt == "tif" and run.crs:
        code = run.crs.split(":")[1]
        c.check(wkt.rstrip().endswith('ID["EPSG",%s]]' % code),
                "%s: reference system is not %s: %s" % (where, run.crs, wkt[-80:]))
    else:
        c.check(wkt == "", "%s: a reference system nobody gave: %s" % (where, wkt[:80]))
    if fmt == "tif":
        c.check(band["type"] == run.tif_type,
                "%s: cells of type %s, expected %s" % (where, band["type"], run.tif_type))


def check_surface(c, where, row, surface, cells, run, transform, map_transform):
    """The map is the top-left block of the surface cut at the threshold."""
    import numpy as np

    n = run.size
    c.check(surface.shape == (n + 1, n + 1),
            "%s: surface of %r values for a map of %d" % (where, surface.shape, n))
    # The surface's top-left corner is the map's, with the same cells.
    c.check(all(close(a, b) for a, b in zip(transform, map_transform)),
            "%s: surface placed at %r, map at %r" % (where, transform, map_transform))
    # In double precision: numpy would compare float32 values with a float
    # threshold in float32, rounding the threshold.
    values = surface[:n, :n].astype(np.float64)
    threshold = float(row["threshold"])
    above = values > threshold
    habitat = cells == run.cover
    tied = int(row.get("tied_habitat") or 0)
    if tied == 0:
        c.check(np.array_equal(above, habitat),
                "%s: %d cells differ from the map when cut at %r" %
                (where, int((above != habitat).sum()), threshold))
        return
    # An exact cut whose share ends inside a run of equal values takes the
    # first tied_habitat of them in row-major order; the file stores them no
    # higher than the threshold, as the largest value it holds below it.
    c.check(row.get("cut") == "exact", "%s: ties in a cut of the ladder" % where)
    c.check(not (above & ~habitat).any(), "%s: matrix cells above the threshold" % where)
    ties = np.flatnonzero((habitat & ~above).ravel())
    c.check(len(ties) == tied, "%s: %d tied cells taken, the manifest says %d" %
            (where, len(ties), tied))
    level = values[~above].max()
    candidates = np.flatnonzero((values == level).ravel())
    c.check(np.array_equal(ties, candidates[:len(ties)]),
            "%s: cells %r taken at the threshold, expected the first of %r" %
            (where, ties.tolist(), candidates.tolist()))


def check_run(c, run):
    import numpy as np

    prefix = "RND_" if run.kind == "random" else "FBM_"
    folders = {}
    for fmt in ("plain", "asc", "tif"):
        folders[fmt] = c.work / ("%s-%s" % (run.name, fmt))
        c.run_cli(run.arguments(fmt, folders[fmt]))
    rows = {fmt: manifest(folder, prefix) for fmt, folder in folders.items()}
    c.check(len(rows["plain"]) > 0, "%s: no maps" % run.name)

    def same(row):
        return {k: v for k, v in row.items() if k not in ("file", "surface_file")}

    for fmt in ("asc", "tif"):
        c.check([same(r) for r in rows[fmt]] == [same(r) for r in rows["plain"]],
                "%s: the %s manifest differs from the plain one" % (run.name, fmt))

    for i, row in enumerate(rows["plain"]):
        where = "%s %s" % (run.name, row["file"])
        cells = read_plain(folders["plain"] / row["file"])
        c.check(cells.shape == (run.size, run.size), "%s: shape %r" % (where, cells.shape))
        c.check(set(np.unique(cells)) <= {run.cover, run.matrix}, "%s: other codes" % where)
        check_metrics(c, where, row, cells == run.cover, run)
        for fmt in ("asc", "tif"):
            gis_row = rows[fmt][i]
            path = folders[fmt] / gis_row["file"]
            read, transform, _, _ = read_raster(path)
            c.check(read.shape == cells.shape and np.array_equal(read, cells),
                    "%s: the %s map differs from the plain one" % (where, fmt))
            if i == 0:
                check_header(c, "%s %s" % (run.name, path.name), c.gdalinfo(path), run, fmt,
                             run.size)
            if "surface_file" in gis_row:
                surface, surface_transform, _, _ = read_raster(
                    folders[fmt] / gis_row["surface_file"], surface=True)
                check_surface(c, "%s %s" % (where, gis_row["surface_file"]), gis_row, surface,
                              cells, run, surface_transform, transform)
    if run.kind == "fractal":
        c.check(all(r["surface_file"].endswith(".asc") for r in rows["plain"]) and
                all(r["surface_file"].endswith(".tif") for r in rows["tif"]),
                "%s: surfaces in the wrong format" % run.name)


def class_counts(shares, valid):
    """Largest-remainder counts from the decimals as written, equal
    remainders to the later class: the rule the maps must follow, worked out
    here apart from the program's own code."""
    from fractions import Fraction

    exact = [Fraction(repr(float(p))) * valid / 100 for p in shares]
    counts = [int(e) for e in exact]
    order = sorted(range(len(shares)), key=lambda i: (exact[i] - counts[i], i), reverse=True)
    for i in order[:valid - sum(counts)]:
        counts[i] += 1
    return counts


# Every family cut into five classes inside a template with holes: the
# options each needs for it.
CLASS_FAMILIES = [
    ("random", "RND_", ["--generator", "philox"], False),
    ("random", "RND_", ["--generator", "philox", "--cut", "exact"], True),
    ("fractal", "FBM_", ["--hurst", "0.7", "--cut", "exact", "--write-surfaces"], True),
    ("gaussian", "GRF_", ["--range", "6", "--cut", "exact", "--write-surfaces",
                          "--metrics", "np,pland,contag,ai"], True),
]


def check_classes(c):
    """Maps of five classes inside a study area, as GDAL and rasterio read
    them: the template's grid, place and reference system, NoData outside,
    the smallest cell type, exact counts, and classes ranked by the surface
    they are cut from; non-square maps of every family."""
    import numpy as np
    import rasterio
    from rasterio.transform import from_origin

    rows, columns = 30, 20
    yy, xx = np.mgrid[0:rows, 0:columns]
    outside = ((yy - 15) ** 2 + (xx - 10) ** 2 < 25) | (xx == 0)
    transform = from_origin(4321000.0, 3210750.0, 25.0, 25.0)
    template = c.work / "template.tif"
    with rasterio.open(template, "w", driver="GTiff", height=rows, width=columns, count=1,
                       dtype="int16", nodata=-1, crs="EPSG:3035", transform=transform) as out:
        out.write(np.where(outside, -1, 7).astype(np.int16), 1)
    shares = [40, 25, 20, 10, 5]
    codes = [11, 21, 31, 41, 51]
    expected = class_counts(shares, int((~outside).sum()))
    for kind, prefix, options, exact in CLASS_FAMILIES:
        name = "%s %s" % (kind, " ".join(options))
        folders = {}
        for fmt in ("tif", "plain"):
            folders[fmt] = c.work / ("classes-%d-%s" % (len(list(c.work.iterdir())), fmt))
            extra = ["--nodata", "-1"] if fmt == "plain" else []
            # A plain map has no place to hold a reference system.
            mask = template if fmt == "tif" else c.work / "template-plain.txt"
            if fmt == "plain":
                np.savetxt(mask, np.where(outside, 0, 7), fmt="%d")
                extra += ["--mask-value", "0"]
            c.run_cli([kind, "--out", str(folders[fmt]), "--format", fmt, "--mask", str(mask),
                       "--proportions", ",".join(map(str, shares)), "--class-values",
                       ",".join(map(str, codes)), "--quiet", "--no-sync"] + options + extra)
        row = manifest(folders["tif"], prefix)[0]
        path = folders["tif"] / row["file"]
        with rasterio.open(path) as raster:
            cells = raster.read(1)
            c.check(raster.transform == transform and raster.crs == rasterio.crs.CRS.from_epsg(3035),
                    "%s: the map does not lie where its template does" % name)
            c.check(raster.dtypes[0] == "uint8" and raster.nodata is not None,
                    "%s: cell type %s, NoData %r" % (name, raster.dtypes[0], raster.nodata))
            nodata = raster.nodata
        c.check(bool(np.all(cells[outside] == nodata)) and not np.any(cells[~outside] == nodata),
                "%s: NoData is not exactly the template's outside" % name)
        plain = read_plain(folders["plain"] / row["file"].replace(".tif", ".txt"))
        c.check(np.array_equal(np.where(outside, -1, plain), np.where(outside, -1, cells)) and
                bool(np.all(plain[outside] == -1)), "%s: the plain map differs" % name)
        if "--metrics" in options:
            # The batch's long table is what the metrics command measures on
            # the file: every class, the outside left out.
            measured = subprocess.run([c.cli, "metrics", "--metrics", "np,pland,contag,ai",
                                       str(path)], capture_output=True, text=True, check=True)
            with open(folders["tif"] / (prefix + "metrics.csv"), newline="") as table:
                batch = [r[1:5] for r in csv.reader(table)][1:]
            alone = [r[1:5] for r in csv.reader(measured.stdout.splitlines())][1:]
            c.check(len(batch) > 5 and batch == alone,
                    "%s: the batch's metrics differ from the metrics command's" % name)
        counts = [int((cells == code).sum()) for code in codes]
        c.check(row["class_cells"] == ";".join(map(str, counts)),
                "%s: the manifest says %s, the map holds %s" % (name, row["class_cells"], counts))
        if not exact:
            continue
        c.check(counts == expected, "%s: counts %s, not %s" % (name, counts, expected))
        if "surface_file" in row:
            surface, _, _, _ = read_raster(folders["tif"] / row["surface_file"], surface=True)
            # A fractal surface holds the lattice's points, one row and
            # column beyond the cells.
            surface = surface[:rows, :columns]
            # The surface file keeps each value on its side of the map's
            # boundaries only up to float32; ties at a boundary go row-major.
            for k in range(len(codes) - 1):
                below = surface[(cells == codes[k]) & ~outside]
                above = surface[(cells == codes[k + 1]) & ~outside]
                c.check(below.max() <= above.min(),
                        "%s: class %d reaches above class %d" % (name, codes[k], codes[k + 1]))
    check_class_targets(c, template)
    for kind, prefix, options, _ in CLASS_FAMILIES:
        folder = c.work / ("shape-%d" % len(list(c.work.iterdir())))
        c.run_cli([kind, "--out", str(folder), "--format", "tif", "--size", "30x20",
                   "--cover", "35", "--quiet", "--no-sync"] + options)
        with rasterio.open(folder / manifest(folder, prefix)[0]["file"]) as raster:
            c.check((raster.height, raster.width) == (30, 20),
                    "%s: a 30x20 map reads %dx%d" % (kind, raster.height, raster.width))


def check_class_targets(c, template):
    """A target on maps of classes keeps exactly the draws whose metric, as
    the metrics command measures the map every class and the outside left
    out, meets it: made without the target, each draw is the map of that
    replicate."""
    base = ["gaussian", "--range", "4", "--proportions", "40,25,20,10,5", "--mask",
            str(template), "--format", "tif", "--quiet", "--no-sync"]
    plain = c.work / "targets-all"
    c.run_cli(base + ["--out", str(plain), "--replicates", "12"])
    np_of = {}
    for row in manifest(plain, "GRF_"):
        measured = subprocess.run([c.cli, "metrics", "--metrics", "np", str(plain / row["file"])],
                                  capture_output=True, text=True, check=True)
        rows = list(csv.reader(measured.stdout.splitlines()))
        np_of[int(row["replicate"])] = [int(r[4]) for r in rows if r[1] == "landscape"][0]
    bound = sorted(np_of.values())[len(np_of) // 2]
    kept = c.work / "targets-kept"
    c.run_cli(base + ["--out", str(kept), "--replicates", "3", "--target",
                      "landscape:np=:%d" % bound])
    draws = [int(r["draw"]) for r in manifest(kept, "GRF_")]
    expected = [d for d in sorted(np_of) if np_of[d] <= bound][:3]
    c.check(draws == expected, "class targets kept draws %s, not %s (np by draw %s, at most %d)"
            % (draws, expected, np_of, bound))
    # scan's pilot sample is those draws, measured the same way.
    scan = subprocess.run([c.cli, "scan", "gaussian", "--range", "4", "--proportions",
                           "40,25,20,10,5", "--mask", str(template), "--samples", "12",
                           "--metrics", "landscape:np", "--csv"],
                          capture_output=True, text=True, check=True)
    mean = float(list(csv.DictReader(scan.stdout.splitlines()))[0]["landscape:np_mean"])
    # The table prints six significant digits.
    c.check(abs(mean - sum(np_of.values()) / len(np_of)) < 1e-3,
            "scan's mean np of classes %r, the maps' %r" % (mean, np_of))


def documented_blocks(document):
    """The fenced blocks that follow `<!-- tested: NAME -->`, as (name, language, code)."""
    pattern = re.compile(r"<!-- tested: ([\w-]+) -->\s*```(\w+)\n(.*?)\n```", re.S)
    return pattern.findall(document)


def check_document(c, work):
    blocks = documented_blocks(DOCUMENT.read_text())
    names = [name for name, _, _ in blocks]
    c.check(names == ["make-maps", "gdal", "rasterio", "scipy", "surface"],
            "docs/gis.md: tested examples %r" % names)
    environment = dict(os.environ)
    environment["PATH"] = str(Path(c.cli).parent) + os.pathsep + environment["PATH"]
    for name, language, code in blocks:
        if language == "sh":
            command = ["bash", "-euo", "pipefail", "-c", code]
        elif language == "python":
            command = [sys.executable, "-c", code]
        else:
            c.check(False, "docs/gis.md: %s is in %s, which nothing runs" % (name, language))
            continue
        result = subprocess.run(command, cwd=work, env=environment, capture_output=True,
                                text=True)
        c.check(result.returncode == 0, "docs/gis.md example %s failed:\n%s%s" %
                (name, result.stdout, result.stderr))


def main(argv):
    if len(argv) != 2:
        print(__doc__)
        return 2
    missing = missing_tool()
    if missing:
        print("SKIP: %s is not installed; the maps were not checked with GIS tools" % missing)
        return SKIPPED
    sys.path.insert(0, str(HERE.parent / "core"))
    # gdalinfo would otherwise leave .aux.xml files beside the maps.
    os.environ["GDAL_PAM_ENABLED"] = "NO"
    with tempfile.TemporaryDirectory() as work:
        c = Checker(os.path.abspath(argv[1]), Path(work))
        for run in RUNS:
            check_run(c, run)
        check_classes(c)
        documents = Path(work) / "docs"
        documents.mkdir()
        check_document(c, documents)
    for failure in c.failures:
        print("FAIL:", failure)
    print("%d checks, %d failed" % (c.checks, len(c.failures)))
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
