# SPDX-License-Identifier: GPL-3.0-or-later
requests <- list(
  random = list(size = 10, cover = c(20, 40), replicates = 2, seed = 7, format = "asc",
                origin = c(100, 200), cell_size = 25),
  random = list(size = 33, cover = seq(10, 90, 40), replicates = 2, generator = "philox",
                metrics = TRUE, neighbours = 4),
  # An uneven list, as the command line takes A,B,C.
  random = list(size = 12, cover = c(10, 25, 40), seed = 3L),
  fractal = list(size = 64, hurst = c(0.3, 0.7), cover = c(20, 40), metrics = TRUE),
  fractal = list(size = 17, hurst = 0.5, cover = seq(10, 50, 20), replicates = 2,
                 cut = "exact", generator = "philox", format = "asc"),
  gaussian = list(size = 24, range = c(3, 6), cover = c(20, 50), replicates = 2, metrics = TRUE),
  gaussian = list(size = 20, model = "fbm", hurst = 0.7, cover = 40, cut = "ladder",
                  format = "asc", cell_size = 10),
  cluster = list(size = c(12, 20), p = c(0.3, 0.6), cover = c(30, 50), replicates = 2,
                 neighbourhood = "8"),
  cluster = list(size = 16, p = 0.5, fill = "nearest", proportions = c(50, 30, 20),
                 format = "asc"),
  mosaic = list(size = c(15, 9), elements = 12, cover = c(20, 60), replicates = 2,
                metrics = TRUE),
  rectangles = list(size = 14, min_side = 2, max_side = 6, proportions = c(60, 30, 10),
                    seed = 4L)
)

test_that("every map and record equals the command line's file and manifest row", {
  cli_path()
  for (i in seq_along(requests)) expect_batch_is_cli(names(requests)[i], requests[[i]])
})

test_that("targets keep the maps and records the command line keeps", {
  cli_path()
  # Three targets, one of the landscape, two bounds open; the records carry
  # each cell's draws.
  batch <- expect_batch_is_cli("random", list(
    size = 24, cover = c(30, 50), replicates = 3, generator = "philox", metrics = TRUE,
    target = list(np = c(5, 36), lpi = c(5, NA), "landscape:np" = c(6, NA)), max_draws = 100))
  expect_true(all(batch$records$np >= 5 & batch$records$np <= 36 & batch$records$lpi >= 5))
  expect_true(any(batch$records$cell_draws > 3))
  expect_batch_is_cli("fractal", list(
    size = 32, hurst = 0.7, cover = 30, replicates = 3, generator = "philox", cut = "exact",
    distinct_surfaces = TRUE, target = list(np = c(3, 5)), max_draws = 100, metrics = TRUE))
  expect_batch_is_cli("gaussian", list(
    size = 24, model = "matern", nu = 1.5, range = 6, cover = 30, replicates = 3,
    target = list(np = c(4, 12)), max_draws = 60, metrics = TRUE))
  # A cell that cannot be filled says so, as the command line's summary does.
  expect_message(
    short <- random_batch(size = 10, cover = 50, replicates = 2, generator = "philox",
                          target = list(np = c(1000, NA)), max_draws = 5),
    "cover 50 fell short: 0 of 2 maps met the targets in 5 draws (max_draws = 5)", fixed = TRUE)
  expect_identical(nrow(short$records), 0L)
})

test_that("a batch written to a folder is the batch made in memory", {
  folder <- tempfile("out")
  args <- list(hurst = 0.4, cover = c(30, 60), size = 20, replicates = 2, format = "tif")
  made <- do.call(fractal_batch, args)
  records <- do.call(fractal_batch, c(args, out = folder))
  expect_identical(records, made$records)
  # The GeoTIFFs go through the engine's GDAL module, loaded from R.
  for (m in seq_len(nrow(records)))
    expect_identical(terra::values(read_map(file.path(folder, records$file[m]))),
                     terra::values(made$maps[[m]]), ignore_attr = TRUE)
  expect_error(do.call(fractal_batch, c(args, out = folder)), "(overwrite = TRUE)",
               fixed = TRUE)
  expect_identical(do.call(fractal_batch, c(args, out = folder, overwrite = TRUE)), records)
  # Metric names as a vector are the command line's N,N: the same table.
  cli_folder <- run_cli("fractal", c(args, metrics = "np,contag"))
  do.call(fractal_batch, c(args, out = folder, overwrite = TRUE, metrics = list(c("np", "contag"))))
  expect_identical(readLines(file.path(folder, "FBM_metrics.csv")),
                   readLines(file.path(cli_folder, "FBM_metrics.csv")))
  expect_error(random_batch(metrics = "all"), "needs out =")
})

test_that("bad arguments stop with the engine's words", {
  expect_error(random_batch(size = 1), "the map size must be between 2 and 9999999")
  expect_error(fractal_batch(hurst = 0.123), "H values have at most two decimals")
  expect_error(random_batch(generator = "mersenne"),
               "generator must be classic or philox, not 'mersenne'")
  expect_error(random_batch(size = 2.5), "size is not a whole number: 2.5")
  expect_error(random_batch(sise = 20), "Unknown option 'sise'")
  # The command line's spelling is not R's.
  expect_error(random_batch(`cover-value` = 2), "Unknown option 'cover-value'")
  expect_error(random_batch(20), "every argument needs its name")
  expect_error(random_batch(size = "20"), "size must not be text: '20'")
  expect_error(random_batch(metrics = NA), "metrics cannot be NA")
  expect_error(random_batch(metrics = 1), "metrics must be true, false or metric names")
  expect_error(random_batch(cover = c(10, NA)), "cover must not hold NA")
  # NA leaves a bound open; NaN is no bound, as the command line says.
  expect_error(random_batch(generator = "philox", target = list(np = c(NaN, 5))),
               "METRIC=MIN:MAX")
  # An option the model leaves unused is warned of, as on the command line.
  expect_warning(gaussian_batch(size = 16, cover = 50, range = 3, nu = 2),
                 "nu is the smoothness of the matern model")
  expect_error(random_batch(origin = 5, format = "asc"), "origin must be two numbers, X and Y")
  expect_error(random_batch(target = c(5, 10)), "target must be a list of METRIC = c(MIN, MAX)",
               fixed = TRUE)
  expect_error(random_batch(target = list(patches = c(1, 2)), generator = "philox"),
               "target 'patches=1:2' names no metric 'patches'", fixed = TRUE)
  # The core's words, with options as an R caller writes them.
  expect_error(random_batch(target = list(np = c(1, 2))),
               'target needs independent draws: add generator = "philox"', fixed = TRUE)
  expect_error(random_batch(crs = "EPSG:3035"), "apply to ESRI and GeoTIFF grids only")
  expect_error(random_batch(crs = "EPSG:3035", format = "asc"),
               "a reference system can be stored in GeoTIFF maps only")
  expect_error(fractal_batch(size = 5000, cover = 50), "4096")
})

test_that("the batch functions take every keyword of the description at its default", {
  for (kind in c("random", "fractal")) {
    batch_function <- if (kind == "random") random_batch else fractal_batch
    options <- batch_options(kind)
    expect_true(all(nzchar(options$help)))
    # The signature shows the same defaults, so args() and completion tell the truth.
    shown <- lapply(formals(batch_function)[options$keyword], eval)
    expect_equal(unname(shown), unname(unclass(options$default)))
    expect_output(print(options), "Default: ")
    defaults <- setNames(options$default, options$keyword)
    defaults[c("cover", "size")] <- list(50, 8)
    given <- suppressMessages(do.call(batch_function, defaults))
    plain <- suppressMessages(batch_function(cover = 50, size = 8))
    expect_gt(nrow(plain$records), 0)
    expect_identical(given$records, plain$records)
    expect_identical(terra::values(given$maps), terra::values(plain$maps))
  }
})

test_that("maps lie where cell_size, origin and crs put them", {
  batch <- random_batch(size = 8, cover = 50, cell_size = 30, origin = c(1000, 2000),
                        format = "tif", crs = "EPSG:3035")
  expect_equal(as.vector(terra::ext(batch$maps)), c(1000, 1240, 2000, 2240), ignore_attr = TRUE)
  expect_true(grepl("3035", terra::crs(batch$maps, describe = TRUE)$code))
  expect_equal(terra::nlyr(batch$maps), 1)
})

test_that("a blend adds its parts' surfaces before the cut and names a bad part", {
  alone <- perlin_batch(size = 30, cover = 40, periods = 3)
  # A part of weight 0 adds nothing: the sum rescaled is the surface itself.
  nothing <- perlin_batch(size = 30, cover = 40, periods = 3,
                          blend = list(list("planar", list(direction = 90), 0)))
  expect_identical(terra::values(nothing$maps), terra::values(alone$maps))
  tilted <- perlin_batch(size = 30, cover = 40, periods = 3,
                         blend = list(list("planar", list(direction = 90))))
  expect_false(identical(terra::values(tilted$maps), terra::values(alone$maps)))
  expect_match(tilted$records$blend, "^planar:direction=90:weight=1:seed=[0-9]+$")
  expect_error(perlin_batch(size = 30, cover = 40, blend = list(list("nothing", NULL, 1))),
               'blend names no family "nothing"', fixed = TRUE)
})
