# SPDX-License-Identifier: GPL-3.0-or-later
# Each function with its documented defaults, on a map that is not square
# and cells that are not 1, so that a swapped side or a lost resolution shows.
nlm_calls <- list(
  nlm_random = list(),
  nlm_percolation = list(),
  nlm_mpd = list(),
  nlm_fbm = list(),
  nlm_gaussianfield = list(),
  nlm_randomcluster = list(p = 0.4),
  nlm_mosaictess = list(germs = 20),
  nlm_randomrectangularcluster = list(minl = 2, maxl = 4),
  nlm_planargradient = list(),
  nlm_edgegradient = list(),
  nlm_distancegradient = list(origin = c(2, 5, 1, 3))
)

test_that("every model gives the size, cell size and 0..1 range asked for", {
  set.seed(4)
  for (name in names(nlm_calls)) {
    map <- do.call(name, c(list(ncol = 23, nrow = 17, resolution = 2.5), nlm_calls[[name]]))
    expect_identical(dim(map), c(17, 23, 1), label = name)
    expect_equal(terra::res(map), c(2.5, 2.5), label = name)
    expect_equal(unname(as.vector(terra::ext(map))), c(0, 57.5, 0, 42.5), label = name)
    expect_identical(range(terra::values(map)), c(0, 1), label = name)
    expect_type(attr(map, "patchwright")$seed, "double")
  }
})

test_that("set.seed repeats a map and its record remakes it", {
  twice <- lapply(1:2, function(i) { set.seed(11); nlm_mpd(30, 20, roughness = 0.6) })
  expect_identical(terra::values(twice[[1]]), terra::values(twice[[2]]))
  record <- attr(twice[[1]], "patchwright")
  block <- terra::as.matrix(fbm_surface(c(20, 30), record$parameters$hurst, record$seed),
                            wide = TRUE)[1:20, 1:30]
  expect_equal(terra::as.matrix(twice[[1]], wide = TRUE),
               (block - min(block)) / (max(block) - min(block)))
  set.seed(12)
  expect_false(identical(terra::values(nlm_mpd(30, 20, roughness = 0.6)),
                         terra::values(twice[[1]])))
  seeded <- lapply(1:2, function(i) nlm_fbm(12, 10, fract_dim = 1.2, user_seed = 5))
  expect_identical(terra::values(seeded[[1]]), terra::values(seeded[[2]]))
})

test_that("nlm_mpd on a torus wraps around and its record remakes it", {
  set.seed(2)
  map <- nlm_mpd(64, 64, roughness = 0.6, torus = TRUE)
  cells <- terra::as.matrix(map, wide = TRUE)
  # The last row and column lead back to the first as any row to the next.
  expect_lt(mean(abs(c(cells[64, ] - cells[1, ], cells[, 64] - cells[, 1]))),
            3 * mean(abs(diff(cells))))
  record <- attr(map, "patchwright")
  expect_identical(record$family, "torus")
  again <- surface("torus", size = 64, hurst = record$parameters$hurst, seed = record$seed)
  expect_equal(terra::as.matrix(again, wide = TRUE), cells)
  expect_identical(dim(nlm_mpd(23, 17, resolution = 2, torus = TRUE)), c(17, 23, 1))
})

test_that("percolation and random clusters hold what their arguments say", {
  map <- terra::values(nlm_percolation(80, 50, prob = 0.3, user_seed = 2))
  expect_true(all(map %in% c(0, 1)))
  expect_lt(abs(mean(map) - 0.3), 0.03)
  classes <- nlm_randomcluster(30, 20, p = 0.5, ai = c(1, 1, 2), rescale = FALSE, user_seed = 1)
  expect_setequal(unique(terra::values(classes)), 0:2)
  expect_equal(attr(classes, "patchwright")$parameters$proportions, c(25, 25, 50))
})

test_that("the distance gradient measures from the origin, y counted from the bottom", {
  map <- nlm_distancegradient(10, 8, origin = c(0, 2, 0, 1), rescale = FALSE, resolution = 2)
  cells <- terra::as.matrix(map, wide = TRUE)
  expect_identical(which(cells == 0, arr.ind = TRUE)[, "row"], c(8L, 8L))
  # The top-right cell is 9 columns and 7 rows from the nearest source.
  expect_equal(cells[1, 10], 2 * sqrt(8^2 + 7^2))
})

test_that("a hostile argument is refused, naming it", {
  expect_error(nlm_random(ncol = 1, nrow = 10), "ncol")
  expect_error(nlm_random(ncol = 10, nrow = NA), "nrow")
  expect_error(nlm_random(10, 10, resolution = -1), "resolution")
  expect_error(nlm_random(10, 10, rescale = NA), "rescale")
  expect_error(nlm_percolation(10, 10, prob = 2), "prob")
  expect_error(nlm_percolation(10, 10, user_seed = -3), "user_seed")
  expect_error(nlm_mpd(10, 10, roughness = 0), "roughness")
  expect_error(nlm_mpd(10, 10, torus = NA), "torus")
  expect_error(nlm_mpd(5000, 10, torus = TRUE), "4096")
  expect_error(nlm_fbm(10, 10, fract_dim = 2), "fract_dim")
  expect_error(nlm_gaussianfield(10, 10, autocorr_range = "a"), "autocorr_range")
  expect_error(nlm_randomcluster(10, 10, p = 0.4, ai = c(1, -1)), "ai")
  expect_error(nlm_randomcluster(10, 10, p = 0.4, neighbourhood = 6), "neighbourhood")
  expect_error(nlm_mosaictess(10, 10, germs = 0), "germs")
  expect_error(nlm_randomrectangularcluster(10, 10, minl = 5, maxl = 2), "maxl")
  expect_error(nlm_planargradient(10, 10, direction = 400), "direction")
  expect_error(nlm_edgegradient(10, 10, direction = "north"), "direction")
  expect_error(nlm_distancegradient(10, 10, origin = c(20, 30, 20, 30)), "origin")
})

test_that("the utilities classify, binarize, merge and rescale exactly", {
  set.seed(3)
  x <- nlm_fbm(20, 15)
  classes <- util_classify(x, weighting = c(2, 1, 1), level_names = c("a", "b", "c"))
  expect_equal(as.vector(table(terra::values(classes))), c(150, 75, 75))
  expect_identical(terra::levels(classes)[[1]]$category, c("a", "b", "c"))
  real <- classify(x, c(50, 30, 20), values = c(7, 8, 9))
  masked <- util_classify(x, real_land = real, mask_val = 7)
  expect_equal(as.vector(table(terra::values(masked), useNA = "always")), c(90, 60, 150))
  expect_error(util_classify(x, n = 3), "n ")
  binary <- util_binarize(x, c(0.2, 0.6))
  expect_equal(colMeans(terra::values(binary)), c(p0.2 = 0.2, p0.6 = 0.6))
  expect_error(util_binarize(x, 1.5), "breaks")
  y <- nlm_planargradient(20, 15)
  merged <- util_merge(x, list(y, y), scalingfactor = 0.5, rescale = FALSE)
  expect_equal(terra::values(merged), terra::values(x) + terra::values(y))
  expect_equal(terra::values(util_rescale(merged * 3 + 1)), terra::values(util_rescale(merged)))
  expect_error(util_merge(x, nlm_random(5, 5)), "secondary_nlm")
})

test_that("nlm_fbm's surfaces have the H of their fractal dimension", {
  # E[(X(x + 2) - X(x))^2] / E[(X(x + 1) - X(x))^2] = 2^(2H) along the rows.
  estimate <- function(m) {
    lag <- function(k) mean((m[, (1 + k):ncol(m)] - m[, 1:(ncol(m) - k)])^2)
    log2(lag(2) / lag(1)) / 2
  }
  for (fract_dim in c(0.6, 1.4)) {
    h <- mean(sapply(1:6, function(seed) {
      estimate(terra::as.matrix(nlm_fbm(96, 96, fract_dim = fract_dim, user_seed = seed),
                                wide = TRUE))
    }))
    expect_lt(abs(h - fract_dim / 2), 0.05)
  }
})
