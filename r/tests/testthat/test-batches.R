requests <- list(
  random = list(size = 10, cover = c(20, 40), replicates = 2, seed = 7, format = "asc",
                origin = c(100, 200), cell_size = 25),
  random = list(size = 33, cover = seq(10, 90, 40), replicates = 2, generator = "philox",
                metrics = TRUE, neighbours = 4),
  fractal = list(size = 64, hurst = c(0.3, 0.7), cover = c(20, 40), metrics = TRUE),
  fractal = list(size = 17, hurst = 0.5, cover = seq(10, 50, 20), replicates = 2,
                 cut = "exact", generator = "philox", format = "asc")
)

test_that("every map and record equals the command line's file and manifest row", {
  cli_path()
  for (i in seq_along(requests)) {
    kind <- names(requests)[i]
    args <- requests[[i]]
    batch <- do.call(if (kind == "random") random_batch else fractal_batch, args)
    out <- run_cli(kind, args)
    manifest <- manifest_text(out)
    expect_gt(nrow(manifest), 0)
    expect_records_match(batch$records, manifest)
    expect_identical(names(batch$maps), sub("\\.[^.]*$", "", manifest$file))
    for (m in seq_len(nrow(manifest))) {
      file <- file.path(out, manifest$file[m])
      expect_identical(layer_cells(batch$maps, m), read_file_cells(file), label = file)
      if (grepl("\\.asc$", file))
        expect_equal(as.vector(terra::ext(batch$maps)), as.vector(terra::ext(terra::rast(file))))
    }
  }
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
})

test_that("bad arguments stop with the command line's words", {
  expect_error(random_batch(size = 1), "the map size must be between 2 and 9999999")
  expect_error(fractal_batch(hurst = 0.123), "H values have at most two decimals")
  expect_error(random_batch(generator = "mersenne"),
               "generator must be classic or philox, not 'mersenne'")
  expect_error(random_batch(cover = c(10, 20, 40)), "not evenly spaced")
  expect_error(random_batch(size = 2.5), "size is not a whole number: '2.5'")
  expect_error(random_batch(sise = 20), "unknown argument 'sise'")
  expect_error(random_batch(crs = "EPSG:3035"), "apply to ESRI and GeoTIFF grids only")
  expect_error(random_batch(crs = "EPSG:3035", format = "asc"),
               "a reference system can be stored in GeoTIFF maps only")
  expect_error(fractal_batch(size = 5000, cover = 50), "4096")
})

test_that("maps lie where cell_size, origin and crs put them", {
  batch <- random_batch(size = 8, cover = 50, cell_size = 30, origin = c(1000, 2000),
                        format = "tif", crs = "EPSG:3035")
  expect_equal(as.vector(terra::ext(batch$maps)), c(1000, 1240, 2000, 2240), ignore_attr = TRUE)
  expect_true(grepl("3035", terra::crs(batch$maps, describe = TRUE)$code))
  expect_equal(terra::nlyr(batch$maps), 1)
})
