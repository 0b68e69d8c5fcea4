# SPDX-License-Identifier: GPL-3.0-or-later
# Functions with the names, arguments and defaults that neutral landscape
# scripts in R already call, each made from one of the engine's surfaces,
# so that such a script runs here once its library() line names this
# package. Every result carries, in its "patchwright" attribute, the family,
# the seed and the parameters that make it again.

.nlm_stop <- function(...) stop(..., call. = FALSE)

.nlm_count <- function(value, name, least = 2) {
  if (!is.numeric(value) || length(value) != 1 || is.na(value) || !is.finite(value) ||
      value != round(value) || value < least)
    .nlm_stop(name, " must be a whole number of at least ", least)
  as.integer(value)
}

.nlm_number <- function(value, name, lower = -Inf, upper = Inf, open_lower = FALSE) {
  if (!is.numeric(value) || length(value) != 1 || is.na(value) || !is.finite(value) ||
      value > upper || value < lower || (open_lower && value == lower))
    .nlm_stop(name, " must be one number ",
              if (is.finite(lower) && is.finite(upper)) paste0("between ", lower, " and ", upper)
              else if (is.finite(lower)) paste0(if (open_lower) "above " else "of at least ", lower)
              else "")
  as.numeric(value)
}

.nlm_flag <- function(value, name) {
  if (!is.logical(value) || length(value) != 1 || is.na(value))
    .nlm_stop(name, " must be TRUE or FALSE")
  value
}

# The engine takes seeds 0..1e9. Without a seed of the caller's, one is drawn
# from R's own stream, so that set.seed() makes a script's maps repeat.
.nlm_seed <- function(user_seed, name = "user_seed") {
  if (is.null(user_seed)) return(as.numeric(sample.int(1e9, 1)))
  if (!is.numeric(user_seed) || length(user_seed) != 1 || is.na(user_seed) ||
      user_seed != round(user_seed) || user_seed < 0 || user_seed > 1e9)
    .nlm_stop(name, " must be NULL or a whole number between 0 and 1e9")
  as.numeric(user_seed)
}

# The engine takes H, ranges and directions in hundredths, so the values
# derived from an argument are rounded to them; the attribute records what
# was used.
.nlm_hundredths <- function(value) round(value, 2)

.nlm_rescale_values <- function(values) {
  span <- range(values, na.rm = TRUE)
  # A constant map has nothing to stretch; it stays at 0 rather than turning
  # into the NaN that a division by zero would give.
  if (span[2] == span[1]) return(ifelse(is.na(values), NA_real_, 0))
  (values - span[1]) / (span[2] - span[1])
}

# A layer over 0..ncol x 0..nrow cells of the given side, its cells given
# row by row from the top.
.nlm_result <- function(values, nrow, ncol, resolution, family, seed, parameters) {
  raster <- .raster(values, nrow, ncol,
                    georeference = list(cell_size = resolution, origin = c(0, 0), crs = ""),
                    names = "layer")
  attr(raster, "patchwright") <- list(family = family, seed = seed, parameters = parameters)
  raster
}

.nlm_cells <- function(raster) as.numeric(terra::values(raster, mat = FALSE))

# A family's surface as the engine gives its values, row by row from the
# top, without a raster of their own that would be made and read back: at
# a million cells that round trip is most of a call.
.nlm_surface_values <- function(family, ...) {
  result <- .Call(C_pw_surface, family, list(...), 0, 1)
  .advise(result)
  result$values
}

.nlm_size <- function(ncol, nrow, resolution) {
  list(ncol = .nlm_count(ncol, "ncol"), nrow = .nlm_count(nrow, "nrow"),
       resolution = .nlm_number(resolution, "resolution", lower = 0, open_lower = TRUE))
}

# Independent uniform values, one a cell: the Philox field random maps of
# classes rank, whose seeds are 0..999999.
.nlm_uniform_seed <- function(seed) seed %% 1000000
.nlm_uniform <- function(nrow, ncol, seed) {
  .nlm_surface_values("random", size = c(nrow, ncol), seed = .nlm_uniform_seed(seed))
}

nlm_random <- function(ncol, nrow, resolution = 1, rescale = TRUE) {
  size <- .nlm_size(ncol, nrow, resolution)
  rescale <- .nlm_flag(rescale, "rescale")
  seed <- .nlm_seed(NULL)
  values <- .nlm_uniform(size$nrow, size$ncol, seed)
  if (rescale) values <- .nlm_rescale_values(values)
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "random",
              .nlm_uniform_seed(seed), list(rescale = rescale))
}

nlm_percolation <- function(ncol, nrow, resolution = 1, prob = 0.5, user_seed = NULL) {
  size <- .nlm_size(ncol, nrow, resolution)
  prob <- .nlm_number(prob, "prob", 0, 1)
  seed <- .nlm_seed(user_seed)
  values <- as.numeric(.nlm_uniform(size$nrow, size$ncol, seed) < prob)
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "random",
              .nlm_uniform_seed(seed), list(prob = prob))
}

nlm_mpd <- function(ncol, nrow, resolution = 1, roughness = 0.5, rand_dev = 1, torus = FALSE,
                    rescale = TRUE, verbose = TRUE) {
  size <- .nlm_size(ncol, nrow, resolution)
  roughness <- .nlm_number(roughness, "roughness", 0, 1, open_lower = TRUE)
  rand_dev <- .nlm_number(rand_dev, "rand_dev", 0, open_lower = TRUE)
  rescale <- .nlm_flag(rescale, "rescale")
  .nlm_flag(verbose, "verbose")
  torus <- .nlm_flag(torus, "torus")
  # Each halving of the step scales the displacements by the roughness, as
  # it scales them by 2^-H in the fractal family (H 0.1..1) and the torus
  # family (H 0..1): a roughness beyond is drawn at the nearest H, and said
  # so.
  engine <- if (torus) "torus" else "fractal"
  lowest <- if (torus) 0 else 0.1
  asked <- -log2(roughness)
  hurst <- .nlm_hundredths(min(max(asked, lowest), 1))
  if (abs(asked - hurst) > 0.005)
    warning("roughness ", roughness, " asks for H = -log2(roughness) = ", round(asked, 2),
            ", beyond the ", engine, " surfaces' ", lowest, " to 1; drawn at H ", hurst,
            call. = FALSE)
  seed <- .nlm_seed(NULL)
  if (torus) {
    # Midpoint displacement whose steps wrap around the edges, on a lattice
    # of a power of two cells a side: the map is periodic when its sides are
    # that power of two.
    values <- .nlm_surface_values("torus", size = c(size$nrow, size$ncol), hurst = hurst,
                                  seed = seed)
    if (!rescale) values <- values * rand_dev
  } else {
    # A surface of R x C cells is a block of R + 1 x C + 1 points: the block
    # of one cell less a side is the map asked for, up to 4097 cells a side.
    # The values as the engine gives them, row by row, rather than through a
    # raster of their own: a 4097 x 4097 surface is 134 MB a copy.
    block <- .Call(C_pw_surface, "fractal",
                   list(size = c(max(size$nrow - 1, 2), max(size$ncol - 1, 2)), hurst = hurst,
                        first_seed = seed), 0, 1)
    values <- block$values
    cropped <- block$rows != size$nrow || block$columns != size$ncol
    if (cropped)
      values <- as.vector(t(matrix(values, nrow = block$rows, byrow = TRUE)[
        seq_len(size$nrow), seq_len(size$ncol)]))
    # The whole block is already rescaled to 0..1, which rand_dev scaled and
    # rescaled again would give back: 134 MB of arithmetic at 4097 x 4097.
    if (!rescale) {
      values <- values * rand_dev
    } else if (cropped) {
      values <- .nlm_rescale_values(values)
    }
  }
  .nlm_result(values, size$nrow, size$ncol, size$resolution, engine, seed,
              list(hurst = hurst, roughness = roughness, rand_dev = rand_dev, rescale = rescale))
}

nlm_fbm <- function(ncol, nrow, resolution = 1, fract_dim = 1, user_seed = NULL, rescale = TRUE,
                    ...) {
  size <- .nlm_size(ncol, nrow, resolution)
  fract_dim <- .nlm_number(fract_dim, "fract_dim", 0, 2)
  rescale <- .nlm_flag(rescale, "rescale")
  if (...length() > 0)
    .nlm_stop("arguments in ... are not taken: the fbm surface is drawn exactly and has no ",
              "further options")
  hurst <- .nlm_hundredths(fract_dim / 2)
  if (hurst < 0.01 || hurst > 0.99)
    .nlm_stop("fract_dim must lie between 0.02 and 1.98 (H = fract_dim / 2 between 0.01 and ",
              "0.99), not ", fract_dim)
  seed <- .nlm_seed(user_seed)
  values <- .nlm_surface_values("gaussian", size = c(size$nrow, size$ncol), model = "fbm",
                                hurst = hurst, seed = seed)
  if (rescale) values <- .nlm_rescale_values(values)
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "gaussian", seed,
              list(model = "fbm", hurst = hurst, rescale = rescale))
}

nlm_gaussianfield <- function(ncol, nrow, resolution = 1, autocorr_range = 10, mag_var = 5,
                              nug = 0.2, mean = 0.5, user_seed = NULL, rescale = TRUE) {
  size <- .nlm_size(ncol, nrow, resolution)
  corr_range <- .nlm_hundredths(.nlm_number(autocorr_range, "autocorr_range", 0.1, 10000))
  mag_var <- .nlm_number(mag_var, "mag_var", 0)
  nug <- .nlm_number(nug, "nug", 0)
  mean <- .nlm_number(mean, "mean")
  rescale <- .nlm_flag(rescale, "rescale")
  seed <- .nlm_seed(user_seed)
  # The nugget's noise comes from a seed of its own, next to the field's.
  noise_seed <- if (seed < 1e9) seed + 1 else 0
  field <- .nlm_surface_values("gaussian", size = c(size$nrow, size$ncol),
                               model = "exponential", range = corr_range, seed = seed)
  noise <- stats::qnorm(.nlm_uniform(size$nrow, size$ncol, noise_seed))
  values <- mean + sqrt(mag_var) * field + sqrt(nug) * noise
  if (rescale) values <- .nlm_rescale_values(values)
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "gaussian", seed,
              list(model = "exponential", range = corr_range, mag_var = mag_var, nug = nug,
                   mean = mean, noise_seed = noise_seed, rescale = rescale))
}

nlm_randomcluster <- function(ncol, nrow, resolution = 1, p, ai = c(0.5, 0.5), neighbourhood = 4,
                              user_seed = NULL, rescale = TRUE) {
  size <- .nlm_size(ncol, nrow, resolution)
  if (missing(p)) .nlm_stop("p must be given: the share of cells marked to form clusters")
  p <- .nlm_hundredths(.nlm_number(p, "p", 0, 1))
  if (!is.numeric(ai) || length(ai) < 2 || length(ai) > 64 || anyNA(ai) || any(!is.finite(ai)) ||
      any(ai <= 0))
    .nlm_stop("ai must be 2 to 64 positive shares, one for each class")
  if (!is.numeric(neighbourhood) || length(neighbourhood) != 1 || is.na(neighbourhood) ||
      !neighbourhood %in% c(4, 8))
    .nlm_stop("neighbourhood must be 4 or 8")
  rescale <- .nlm_flag(rescale, "rescale")
  seed <- .nlm_seed(user_seed)
  proportions <- 100 * ai / sum(ai)
  classes <- length(ai) - 1
  batch <- cluster_batch(size = c(size$nrow, size$ncol), p = p, proportions = proportions,
                         class_values = 0:classes, neighbourhood = as.character(neighbourhood),
                         seed = seed)
  values <- .nlm_cells(batch$maps[[1]])
  if (rescale) values <- values / classes
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "cluster", seed,
              list(p = p, proportions = proportions, neighbourhood = neighbourhood,
                   fill = "majority", rescale = rescale))
}

nlm_mosaictess <- function(ncol, nrow, resolution = 1, germs, rescale = TRUE) {
  size <- .nlm_size(ncol, nrow, resolution)
  if (missing(germs)) .nlm_stop("germs must be given: the number of seed cells")
  germs <- .nlm_count(germs, "germs", least = 1)
  rescale <- .nlm_flag(rescale, "rescale")
  seed <- .nlm_seed(NULL)
  values <- .nlm_surface_values("mosaic", size = c(size$nrow, size$ncol), elements = germs,
                                seed = seed)
  if (rescale) values <- .nlm_rescale_values(values)
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "mosaic", seed,
              list(elements = germs, rescale = rescale))
}

nlm_randomrectangularcluster <- function(ncol, nrow, resolution = 1, minl, maxl, rescale = TRUE) {
  size <- .nlm_size(ncol, nrow, resolution)
  if (missing(minl) || missing(maxl)) .nlm_stop("minl and maxl must both be given")
  minl <- .nlm_count(minl, "minl", least = 1)
  maxl <- .nlm_count(maxl, "maxl", least = 1)
  if (maxl < minl) .nlm_stop("maxl must be at least minl")
  rescale <- .nlm_flag(rescale, "rescale")
  seed <- .nlm_seed(NULL)
  values <- .nlm_surface_values("rectangles", size = c(size$nrow, size$ncol), min_side = minl,
                                max_side = maxl, seed = seed)
  if (rescale) values <- .nlm_rescale_values(values)
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "rectangles", seed,
              list(min_side = minl, max_side = maxl, rescale = rescale))
}

# A missing direction (NA) is drawn from the seed, as the gradient batches
# draw one, and the attribute records the seed that draws it again.
.nlm_gradient <- function(family, ncol, nrow, resolution, direction, rescale) {
  size <- .nlm_size(ncol, nrow, resolution)
  if (length(direction) == 1 && is.logical(direction) && is.na(direction)) {
    direction <- NULL
  } else {
    direction <- .nlm_hundredths(.nlm_number(direction, "direction", 0, 360))
  }
  rescale <- .nlm_flag(rescale, "rescale")
  seed <- .nlm_seed(NULL)
  values <- .nlm_surface_values(family, size = c(size$nrow, size$ncol), direction = direction,
                                seed = seed)
  if (rescale) values <- .nlm_rescale_values(values)
  .nlm_result(values, size$nrow, size$ncol, size$resolution, family, seed,
              list(direction = direction, rescale = rescale))
}

nlm_planargradient <- function(ncol, nrow, resolution = 1, direction = NA, rescale = TRUE) {
  .nlm_gradient("planar", ncol, nrow, resolution, direction, rescale)
}

nlm_edgegradient <- function(ncol, nrow, resolution = 1, direction = NA, rescale = TRUE) {
  .nlm_gradient("edge", ncol, nrow, resolution, direction, rescale)
}

nlm_distancegradient <- function(ncol, nrow, resolution = 1, origin, rescale = TRUE) {
  size <- .nlm_size(ncol, nrow, resolution)
  if (missing(origin) || !is.numeric(origin) || length(origin) != 4 || anyNA(origin) ||
      any(!is.finite(origin)) || origin[2] < origin[1] || origin[4] < origin[3])
    .nlm_stop("origin must be c(xmin, xmax, ymin, ymax) in cells, xmin <= xmax and ymin <= ymax")
  rescale <- .nlm_flag(rescale, "rescale")
  # The origin is an extent: x counts columns from the left edge, y rows up
  # from the bottom edge. Its sources are the cells whose centres it holds.
  columns <- which(seq_len(size$ncol) - 0.5 >= origin[1] & seq_len(size$ncol) - 0.5 <= origin[2])
  heights <- size$nrow - seq_len(size$nrow) + 0.5
  rows <- which(heights >= origin[3] & heights <= origin[4])
  if (length(columns) == 0 || length(rows) == 0)
    .nlm_stop("origin holds the centre of no cell of the ", size$nrow, " x ", size$ncol, " map")
  grid <- matrix(-9999L, size$nrow, size$ncol)
  grid[rows, columns] <- 1L
  path <- tempfile("origin", fileext = ".asc")
  on.exit(unlink(path), add = TRUE)
  writeLines(c(paste("ncols", size$ncol), paste("nrows", size$nrow), "xllcorner 0",
               "yllcorner 0", "cellsize 1", "NODATA_value -9999",
               apply(grid, 1, paste, collapse = " ")), path)
  # The grid gives the rows and columns, so the size goes unsaid.
  values <- .nlm_surface_values("distance", sources_from = path)
  if (!rescale) {
    # The engine divides by the largest distance; the distance from a cell
    # to a block of cells is known in closed form, so the largest is too.
    dx <- pmax(min(columns) - seq_len(size$ncol), 0, seq_len(size$ncol) - max(columns))
    dy <- pmax(min(rows) - seq_len(size$nrow), 0, seq_len(size$nrow) - max(rows))
    farthest <- sqrt(max(dx)^2 + max(dy)^2)
    values <- values * farthest * size$resolution
  }
  .nlm_result(values, size$nrow, size$ncol, size$resolution, "distance", 0,
              list(origin = origin, source_rows = range(rows), source_columns = range(columns),
                   rescale = rescale))
}

.util_raster <- function(x, name) {
  if (!inherits(x, "SpatRaster")) .nlm_stop(name, " must be a SpatRaster")
  x
}

util_rescale <- function(x) {
  .util_raster(x, "x")
  values <- terra::values(x, mat = TRUE)
  for (layer in seq_len(ncol(values))) values[, layer] <- .nlm_rescale_values(values[, layer])
  out <- terra::rast(x)
  terra::values(out) <- values
  out
}

util_merge <- function(primary_nlm, secondary_nlm, scalingfactor = 1, rescale = TRUE) {
  .util_raster(primary_nlm, "primary_nlm")
  if (is.list(secondary_nlm)) {
    if (length(secondary_nlm) == 0 || !all(vapply(secondary_nlm, inherits, TRUE, "SpatRaster")))
      .nlm_stop("secondary_nlm must be a SpatRaster or a list of them")
    secondary_nlm <- terra::rast(secondary_nlm)
  }
  .util_raster(secondary_nlm, "secondary_nlm")
  scalingfactor <- .nlm_number(scalingfactor, "scalingfactor")
  rescale <- .nlm_flag(rescale, "rescale")
  if (!isTRUE(terra::compareGeom(primary_nlm, secondary_nlm, stopOnError = FALSE)))
    .nlm_stop("secondary_nlm must have the rows, columns and extent of primary_nlm")
  merged <- primary_nlm + sum(secondary_nlm) * scalingfactor
  if (rescale) merged <- util_rescale(merged)
  merged
}

util_binarize <- function(x, breaks) {
  .util_raster(x, "x")
  if (terra::nlyr(x) != 1) .nlm_stop("x must be a SpatRaster of one layer")
  if (!is.numeric(breaks) || length(breaks) == 0 || anyNA(breaks) || any(breaks <= 0) ||
      any(breaks >= 1))
    .nlm_stop("breaks must be habitat shares between 0 and 1, exclusive")
  maps <- lapply(breaks, function(share)
    classify(x, c(100 * (1 - share), 100 * share), values = c(0, 1)))
  out <- terra::rast(maps)
  names(out) <- paste0("p", breaks)
  out
}

util_classify <- function(x, n = NULL, weighting = NULL, level_names = NULL, real_land = NULL,
                          mask_val = NULL) {
  .util_raster(x, "x")
  if (terra::nlyr(x) != 1) .nlm_stop("x must be a SpatRaster of one layer")
  mask <- NULL
  if (!is.null(real_land)) {
    .util_raster(real_land, "real_land")
    if (terra::nrow(real_land) != terra::nrow(x) || terra::ncol(real_land) != terra::ncol(x))
      .nlm_stop("real_land must have the rows and columns of x")
    land <- terra::values(real_land, mat = FALSE)
    inside <- !is.na(land)
    if (!is.null(mask_val)) {
      if (!is.numeric(mask_val) || length(mask_val) != 1 || is.na(mask_val))
        .nlm_stop("mask_val must be one number")
      inside <- inside & land != mask_val
    }
    if (!any(inside)) .nlm_stop("real_land has no cell outside mask_val")
    # The real landscape's classes and shares replace any weighting given.
    weighting <- as.numeric(table(land[inside]))
    mask <- terra::rast(x)
    terra::values(mask) <- as.numeric(inside)
  } else if (!is.null(mask_val)) {
    .nlm_stop("mask_val needs real_land: it names a class of the real landscape")
  }
  if (is.null(weighting)) {
    if (!is.null(n))
      .nlm_stop("n (natural breaks) is not offered: give weighting, the share of each class")
    .nlm_stop("weighting must be given: the share of each class")
  }
  if (!is.numeric(weighting) || length(weighting) < 2 || length(weighting) > 64 ||
      anyNA(weighting) || any(!is.finite(weighting)) || any(weighting <= 0))
    .nlm_stop("weighting must be 2 to 64 positive shares, one for each class")
  classes <- length(weighting)
  if (!is.null(level_names) && length(level_names) != classes)
    .nlm_stop("level_names must name each of the ", classes, " classes")
  out <- classify(x, 100 * weighting / sum(weighting), values = seq_len(classes), mask = mask)
  if (!is.null(level_names))
    levels(out) <- data.frame(ID = seq_len(classes), category = as.character(level_names))
  out
}
