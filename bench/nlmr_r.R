# SPDX-License-Identifier: GPL-3.0-or-later
# The R drop-in functions, one call at a time at 1000 x 1000 cells, side by
# side with a plain R implementation of the same definition (base R and
# terra only), turn about in one session; prints the median of each and
# their ratio as a Markdown table.
#
# Usage: R_LIBS=build-r/check/patchwright.Rcheck Rscript bench/nlmr_r.R [ROUNDS] [SIZE]
library(patchwright)
args <- commandArgs(trailingOnly = TRUE)
rounds <- if (length(args) > 0) as.integer(args[1]) else 3
n <- if (length(args) > 1) as.integer(args[2]) else 1000

as_raster <- function(values) {
  terra::rast(matrix(values, nrow = n, byrow = TRUE), extent = terra::ext(0, n, 0, n), crs = "")
}
rescale <- function(v) (v - min(v)) / (max(v) - min(v))

plain_mpd <- function(h) {
  side <- 1
  while (side + 1 < n) side <- side * 2
  g <- matrix(0, side + 1, side + 1)
  g[c(1, side + 1), c(1, side + 1)] <- rnorm(4)
  step <- side
  scale <- 1
  while (step > 1) {
    half <- step %/% 2
    scale <- scale * 2^-h
    at <- seq(1 + half, side + 1, by = step)
    lo <- at - half
    hi <- at + half
    g[at, at] <- (g[lo, lo] + g[hi, lo] + g[lo, hi] + g[hi, hi]) / 4 +
      scale * rnorm(length(at)^2)
    all <- seq(1, side + 1, by = half)
    for (r in all) {
      cols <- if ((r - 1) %/% half %% 2 == 0) seq(1 + half, side + 1, by = step) else
        seq(1, side + 1, by = step)
      around <- cbind(if (r > half) g[r - half, cols] else NA,
                      if (r + half <= side + 1) g[r + half, cols] else NA,
                      g[r, pmax(cols - half, 1)], g[r, pmin(cols + half, side + 1)])
      g[r, cols] <- rowMeans(around, na.rm = TRUE) + scale * rnorm(length(cols))
    }
    step <- half
  }
  as_raster(rescale(as.vector(t(g[1:n, 1:n]))))
}

plain_plane <- function(degrees) {
  d <- degrees * pi / 180
  x <- rep(0:(n - 1), times = n)
  y <- rep(0:(n - 1), each = n)
  rescale(x * sin(d) - y * cos(d))
}

plain_distance <- function(sources) {
  x <- rep(0:(n - 1), times = n)
  y <- rep(0:(n - 1), each = n)
  d <- rep(Inf, n * n)
  for (k in seq_len(nrow(sources)))
    d <- pmin(d, sqrt((x - sources[k, 1])^2 + (y - sources[k, 2])^2))
  as_raster(d / max(d))
}

plain_rectangles <- function(low, high) {
  m <- matrix(-1, n, n)
  repeat {
    for (i in 1:2000) {
      w <- sample(low:high, 1)
      h <- sample(low:high, 1)
      x <- sample((1 - w):n, 1)
      y <- sample((1 - h):n, 1)
      m[max(y, 1):min(y + h - 1, n), max(x, 1):min(x + w - 1, n)] <- runif(1)
    }
    if (all(m >= 0)) return(as_raster(rescale(as.vector(t(m)))))
  }
}

plain_mosaic <- function(germs) {
  cells <- sample(n * n, germs)
  values <- runif(germs)
  x <- rep(0:(n - 1), times = n)
  y <- rep(0:(n - 1), each = n)
  best <- rep(Inf, n * n)
  out <- numeric(n * n)
  for (k in seq_len(germs)) {
    d <- (x - (cells[k] - 1) %% n)^2 + (y - (cells[k] - 1) %/% n)^2
    nearer <- d < best
    best[nearer] <- d[nearer]
    out[nearer] <- values[k]
  }
  as_raster(rescale(out))
}

plain_classify <- function(v, weights) {
  ranks <- rank(v, ties.method = "first")
  bounds <- round(cumsum(weights) / sum(weights) * length(v))
  findInterval(ranks - 1, bounds)
}

surface <- terra::values(nlm_random(n, n), mat = FALSE)
sources <- cbind(sample(0:(n - 1), 10), sample(0:(n - 1), 10))
origin <- c(sources[1, 1], sources[1, 1] + 1, sources[1, 2], sources[1, 2] + 1)
cases <- list(
  nlm_random = list(function() nlm_random(n, n), function() as_raster(runif(n * n))),
  nlm_percolation = list(function() nlm_percolation(n, n, prob = 0.4),
                         function() as_raster(as.numeric(runif(n * n) < 0.4))),
  nlm_mpd = list(function() nlm_mpd(n, n, roughness = 0.6), function() plain_mpd(0.74)),
  nlm_randomrectangularcluster = list(function() nlm_randomrectangularcluster(n, n, minl = 5,
                                                                              maxl = 20),
                                      function() plain_rectangles(5, 20)),
  nlm_mosaictess = list(function() nlm_mosaictess(n, n, germs = 50),
                        function() plain_mosaic(50)),
  nlm_planargradient = list(function() nlm_planargradient(n, n, direction = 30),
                            function() as_raster(plain_plane(30))),
  nlm_edgegradient = list(function() nlm_edgegradient(n, n, direction = 30),
                          function() as_raster(1 - abs(2 * plain_plane(30) - 1))),
  nlm_distancegradient = list(function() nlm_distancegradient(n, n, origin = origin),
                              function() plain_distance(sources[1, , drop = FALSE])),
  util_classify = list(function() util_classify(as_raster(surface), weighting = c(5, 3, 2)),
                       function() as_raster(plain_classify(surface, c(5, 3, 2))))
)
cat("| Function | Patchwright | plain R | ratio |\n|---|---|---|---|\n")
for (name in names(cases)) {
  ours <- numeric(rounds)
  theirs <- numeric(rounds)
  for (k in seq_len(rounds)) {
    ours[k] <- system.time(cases[[name]][[1]]())[["elapsed"]]
    theirs[k] <- system.time(cases[[name]][[2]]())[["elapsed"]]
  }
  cat(sprintf("| %s | %.0f ms | %.0f ms | %.1f |\n", name, 1000 * median(ours),
              1000 * median(theirs), median(theirs) / median(ours)))
}
