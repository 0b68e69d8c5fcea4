# SPDX-License-Identifier: GPL-3.0-or-later
test_that("fbm_surface is the surface a one-H batch cuts its maps from", {
  surface <- fbm_surface(32, 0.6, 3)
  expect_equal(dim(surface), c(33, 33, 1))
  values <- terra::values(surface)
  expect_identical(range(values), c(0, 1))
  # One surface cannot give every cover; the batch says which fell short.
  expect_message(
    batch <- fractal_batch(hurst = 0.6, size = 32, cover = seq(10, 90, 10), first_seed = 3,
                           surfaces = 1),
    "fell short")
  block <- terra::as.matrix(surface, wide = TRUE)[1:32, 1:32]
  for (m in seq_len(nrow(batch$records))) {
    cut <- block > batch$records$threshold[m]
    expect_identical(layer_cells(batch$maps, m) == 1, cut)
  }
  expect_error(fbm_surface(1, 0.5, 0), "the map size must be between")
})

test_that("gaussian_surface is the field a Gaussian batch cuts each map from", {
  batch <- gaussian_batch(model = "matern", nu = 1.5, range = 5, size = 24, cover = c(20, 60),
                          replicates = 2, seed = 9)
  for (m in seq_len(nrow(batch$records))) {
    record <- batch$records[m, ]
    field <- gaussian_surface(24, "matern", 5, seed = 9, nu = 1.5,
                              cover = record$requested_cover, replicate = record$replicate)
    cells <- terra::as.matrix(field, wide = TRUE)
    # Above the threshold, and the first tied cells row by row.
    cut <- cells > record$threshold
    tied <- which(t(cells) == record$threshold)[seq_len(record$tied_habitat)]
    cut <- t(cut)
    cut[tied] <- TRUE
    expect_identical(layer_cells(batch$maps, m) == 1, t(cut))
  }
  expect_error(gaussian_surface(24, "matern", c(4, 5), seed = 1), "not a sweep")
  expect_error(gaussian_surface(24, "exponential", 4, seed = 1, cover = 101),
               "cover must be between 0 and 100")
})

test_that("read_map reads every format and says why it cannot", {
  folder <- tempfile("maps")
  for (format in c("plain", "asc", "tif")) {
    records <- random_batch(size = 12, cover = 35, seed = 2, format = format, out = folder,
                            prefix = paste0(format, "_"), origin = if (format != "plain") c(5, 7))
    map <- read_map(file.path(folder, records$file))
    expect_identical(names(map), sub("\\.[^.]*$", "", records$file))
    expect_identical(read_file_cells(file.path(folder, records$file)),
                     terra::as.matrix(map, wide = TRUE))
    if (format != "plain") expect_equal(terra::xmin(map), 5)
  }
  expect_error(read_map(file.path(folder, "missing.txt")), "missing.txt")
  writeLines(c("1 0 1", "0 1"), file.path(folder, "ragged.txt"))
  expect_error(read_map(file.path(folder, "ragged.txt")), "rows differ in length")
})

test_that("metrics measure rasters and matrices as the manifest does", {
  batch <- fractal_batch(hurst = 0.5, cover = c(20, 60), size = 40, metrics = TRUE,
                         cell_size = 10)
  measured <- metrics(batch$maps, cell_size = 10)
  expect_equal(nrow(measured), terra::nlyr(batch$maps))
  expect_identical(measured, batch$records[names(measured)], ignore_attr = TRUE)
  cells <- layer_cells(batch$maps, 1)
  expect_identical(metrics(cells, cell_size = 10), measured[1, ], ignore_attr = TRUE)
  # Other codes: habitat names the one to measure.
  expect_identical(metrics(cells * 7L + 2L, cell_size = 10, habitat = 9), measured[1, ],
                   ignore_attr = TRUE)
  expect_true(is.na(metrics(matrix(0L, 3, 3))$area_mn))
  expect_error(metrics(cells, neighbours = 6), "patches join by 4 or by 8 neighbours, not 6")
})

test_that("metric gives the command line's long table, layer after layer", {
  folder <- tempfile("table")
  dir.create(folder)
  set.seed(5)
  maps <- lapply(1:2, function(i) matrix(sample(c(1L, 2L, 5L), 12 * 15, replace = TRUE), 12, 15))
  maps[[1]][2:4, 3:6] <- NA
  files <- file.path(folder, c("a.asc", "b.asc"))
  for (i in 1:2) {
    cells <- maps[[i]]
    cells[is.na(cells)] <- -9999L
    writeLines(c("ncols 15", "nrows 12", "xllcorner 0", "yllcorner 0", "cellsize 5",
                 "NODATA_value -9999"), files[i])
    utils::write.table(cells, files[i], append = TRUE, row.names = FALSE, col.names = FALSE)
  }
  cli <- utils::read.csv(text = system2(cli_path(), c("metrics", files), stdout = TRUE))
  rasters <- c(terra::rast(maps[[1]]), terra::rast(maps[[2]]))
  table <- metrics(rasters, cell_size = 5, metric = "all")
  expect_identical(names(table), c("layer", "level", "class", "id", "metric", "value"))
  expect_identical(table$layer, match(cli$file, files))
  expect_identical(table[c("level", "class", "metric")], cli[c("level", "class", "metric")])
  expect_true(all(is.na(table$id)))
  expect_equal(table$value, cli$value, tolerance = 1e-13)
  # A file's NoData read back as a code.
  expect_identical(metrics(read_map(files[1]), cell_size = 5, metric = "all", nodata = -9999),
                   table[table$layer == 1, ], ignore_attr = TRUE)
  picked <- metrics(maps[[2]], metric = c("np", "contag"))
  expect_identical(unique(picked$metric), c("np", "contag"))
  # Binds with the reference tool's table.
  reference <- data.frame(layer = 1L, level = "landscape", class = NA_integer_, id = NA_integer_,
                          metric = "ta", value = 0.18)
  bound <- rbind(picked, reference)
  expect_identical(nrow(bound), nrow(picked) + 1L)
  expect_type(bound$class, "integer")
  expect_error(metrics(matrix(c(1, 2.5, 1, 1), 2), metric = "all"), "2.5, which is not a whole")
  expect_error(metrics(maps[[2]], metric = c("np", "nope")), "unknown metric 'nope'.* contag")
  expect_error(metrics(maps[[2]], metric = "np", habitat = 1), "habitat")
})

test_that("classify cuts a raster into classes of exact sizes inside its NA", {
  s <- terra::rast(nrows = 6, ncols = 9, vals = rep(c(1, 2, 2, 3, 5), length.out = 54))
  s[2, 3] <- NA
  k <- classify(s, c(40, 25, 20, 10, 5), values = c(3, 1, 4, 15, 9))
  expect_true(terra::compareGeom(k, s))
  expect_true(is.na(k[2, 3][[1]]))
  counts <- table(factor(terra::values(k), levels = c(3, 1, 4, 15, 9)))
  # 53 cells inside: 21.2, 13.25, 10.6, 5.3, 2.65 by largest remainder.
  expect_identical(as.vector(counts), c(21L, 13L, 11L, 5L, 3L))
  expect_error(classify(s, c(50, 60)), "add up to 110")
  expect_error(classify(s, c(50, 50), values = c(1, 1)), "given twice")
})

test_that("a batch takes its grid, place and NA from a mask and cuts exact classes", {
  template <- terra::rast(nrows = 12, ncols = 10, xmin = 500, xmax = 750, ymin = 200,
                          ymax = 500, vals = 1)
  template[3:5, 4:6] <- NA
  path <- tempfile(fileext = ".asc")
  terra::writeRaster(template, path, NAflag = -9999)
  batch <- gaussian_batch(range = 4, proportions = c(40, 25, 20, 10, 5), mask = path)
  expect_true(terra::compareGeom(batch$maps, template, crs = FALSE))
  inside <- !is.na(terra::values(template, mat = FALSE))
  expect_identical(is.na(terra::values(batch$maps[[1]], mat = FALSE)), !inside)
  counts <- as.vector(table(factor(terra::values(batch$maps[[1]]), levels = 1:5)))
  # 111 cells inside: 44.4, 27.75, 22.2, 11.1, 5.55 by largest remainder.
  expect_identical(counts, c(44L, 28L, 22L, 11L, 6L))
  expect_identical(batch$records$class_cells, "44;28;22;11;6")
  expect_error(fractal_batch(proportions = c(40, 30, 30)), "cut = \"exact\"")
  # The cluster families take the mask alike; a majority fill holds its
  # shares only on average, but never reaches outside.
  for (maps in list(mosaic_batch(elements = 9, proportions = c(40, 25, 20, 10, 5), mask = path),
                    rectangles_batch(min_side = 2, max_side = 5, proportions = c(40, 25, 20, 10, 5),
                                     mask = path))) {
    expect_identical(as.vector(table(factor(terra::values(maps$maps[[1]]), levels = 1:5))),
                     c(44L, 28L, 22L, 11L, 6L))
  }
  clusters <- cluster_batch(p = 0.4, proportions = c(50, 50), mask = path, replicates = 3)
  expect_identical(unname(is.na(terra::values(clusters$maps, mat = TRUE))),
                   matrix(!inside, length(inside), 3))
  expect_true(all(clusters$records$marked_cells < 111))
  # The mask gives the grid, as it does to a batch.
  expect_warning(s <- cluster_surface(c(12, 10), 0.4, 0, proportions = c(50, 50), mask = path,
                                      cover = 50, replicate = 2), "size is left unused")
  expect_equal(sum(terra::values(s) >= 0), clusters$records$marked_cells[2])
})

test_that("a planar surface is its formula and an edge its fold, as the batch cuts them", {
  rows <- 7
  columns <- 11
  d <- 30
  # The engine's order of evaluation, so that every cell is equal, not near.
  sine <- sin(d * (pi / 180))
  cosine <- cos(d * (pi / 180))
  corners <- c(0, (columns - 1) * sine, 0 - (rows - 1) * cosine,
               (columns - 1) * sine - (rows - 1) * cosine)
  low <- min(corners)
  span <- max(corners) - low
  # Row 0 is the raster's top row.
  g <- outer(0:(rows - 1), 0:(columns - 1), function(row, col) (col * sine - row * cosine - low) / span)
  expect_identical(terra::as.matrix(planar_surface(c(rows, columns), direction = d), wide = TRUE),
                   g)
  expect_identical(terra::as.matrix(edge_surface(c(rows, columns), direction = d), wide = TRUE),
                   1 - abs(2 * g - 1))
  batch <- edge_batch(size = c(rows, columns), direction = d, cover = 40)
  record <- batch$records[1, ]
  cut <- t(1 - abs(2 * g - 1) > record$threshold)
  cut[which(t(1 - abs(2 * g - 1)) == record$threshold)[seq_len(record$tied_habitat)]] <- TRUE
  expect_identical(layer_cells(batch$maps, 1) == 1, t(cut))
  expect_error(wave_surface(c(rows, columns), periods = 20, direction = 0), "shorter than a cell")
})
