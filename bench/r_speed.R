# SPDX-License-Identifier: GPL-3.0-or-later
# The R package's two speed figures, each in alternating rounds with the
# Python module's call it is weighed against, timed inside each interpreter:
#
# - fbm_surface(4096, 0.5, seed), ten seeds a round, each surface dropped;
# - fractal_batch() with the default ranges (891 maps of 100 x 100), the
#   whole SpatRaster and records in R, every map taken from the iterator in
#   Python.
#
# Beside each R figure, the same call's engine part alone (the package's
# compiled call, before terra makes a raster of its vectors), which shows
# how much of the R figure is terra's copying of the cells.
#
# Usage: Rscript bench/r_speed.R BUILD_DIR [ROUNDS]
# with the package installed (make r-install, or R_LIBS=BUILD_DIR/r/library
# after ctest -R r_package) and the Python module built in BUILD_DIR/python.
args <- commandArgs(trailingOnly = TRUE)
build <- normalizePath(args[1])
rounds <- if (length(args) > 1) as.integer(args[2]) else 5L
library(patchwright)

python <- sprintf('
import sys, time
sys.path.insert(0, "%s")
import patchwright
patchwright.fbm_surface(4096, 0.5, 0)
started = time.perf_counter()
for seed in range(1, 11):
    surface = patchwright.fbm_surface(4096, 0.5, seed)
    del surface
surface_ms = 1000 * (time.perf_counter() - started) / 10
started = time.perf_counter()
maps = sum(1 for _ in patchwright.fractal_batch())
print(surface_ms, 1000 * (time.perf_counter() - started))
', file.path(build, "python"))

elapsed_ms <- function(expr) {
  started <- proc.time()[["elapsed"]]
  force(expr)
  1000 * (proc.time()[["elapsed"]] - started)
}

times <- list(surface_r = numeric(), surface_r_engine = numeric(), surface_py = numeric(),
              batch_r = numeric(), batch_r_engine = numeric(), batch_py = numeric())
engine <- getNamespace("patchwright")
invisible(fbm_surface(4096, 0.5, 0))
for (round in seq_len(rounds)) {
  times$surface_r <- c(times$surface_r, elapsed_ms(for (seed in 1:10) {
    surface <- fbm_surface(4096, 0.5, seed)
    rm(surface)
  }) / 10)
  times$surface_r_engine <- c(times$surface_r_engine, elapsed_ms(for (seed in 1:10) {
    surface <- .Call(engine$pw_fbm_surface, 4096, 0.5, seed, NULL)
    rm(surface)
  }) / 10)
  times$batch_r <- c(times$batch_r, elapsed_ms(batch <- suppressMessages(fractal_batch())))
  maps <- nrow(batch$records)
  rm(batch)
  times$batch_r_engine <- c(times$batch_r_engine,
                            elapsed_ms(batch <- .Call(engine$pw_fractal_batch, list())))
  rm(batch)
  py <- as.numeric(strsplit(system2("/usr/bin/python3", c("-c", shQuote(python)),
                                    stdout = TRUE), " ")[[1]])
  times$surface_py <- c(times$surface_py, py[1])
  times$batch_py <- c(times$batch_py, py[2])
}

cat(sprintf("%d rounds, medians in ms (%d maps a batch)\n", rounds, maps))
for (name in names(times))
  cat(sprintf("%-16s %9.1f   %s\n", name, median(times[[name]]),
              paste(sprintf("%.1f", times[[name]]), collapse = " ")))
cat(sprintf("surface_r / surface_py: %.2f\n", median(times$surface_r) / median(times$surface_py)))
cat(sprintf("batch_r / batch_py: %.2f\n", median(times$batch_r) / median(times$batch_py)))
