# SPDX-License-Identifier: GPL-3.0-or-later
# The circulant embedding of bench_gaussian.cpp with R's fields package
# (Debian r-cran-fields): an exponential field of range 20 on 1024 x 1024
# cells, embedded in a 2048 x 2048 periodic grid.
#
#   Rscript bench/gaussian_fields.R [size] [fields]
#
# prints the milliseconds of circulantEmbeddingSetup (once per model) and of
# one circulantEmbedding call (the median of `fields` draws): wall time, and
# in brackets user plus system CPU time, which a busy machine inflates less.
suppressMessages(library(fields))
args <- commandArgs(trailingOnly = TRUE)
size <- if (length(args) > 0) as.integer(args[1]) else 1024L
count <- if (length(args) > 1) as.integer(args[2]) else 5L
set.seed(1)
grid <- list(x = seq_len(size), y = seq_len(size))
cpu <- function(t) t[["user.self"]] + t[["sys.self"]]
setup <- system.time(
  obj <- circulantEmbeddingSetup(grid, M = c(2 * size, 2 * size),
                                 cov.args = list(Covariance = "Exponential", aRange = 20))
)
times <- replicate(count, system.time(z <<- circulantEmbedding(obj)))
cat(sprintf(paste("fields %s: embedding %.0f ms (%.0f ms CPU), field %.0f ms",
                  "(%.0f ms CPU; median of %d), variance %.3f\n"),
            as.character(packageVersion("fields")), setup[["elapsed"]] * 1000,
            cpu(setup) * 1000, median(times["elapsed", ]) * 1000,
            median(times["user.self", ] + times["sys.self", ]) * 1000, count,
            var(as.vector(z))))
