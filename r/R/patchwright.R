# SPDX-License-Identifier: GPL-3.0-or-later
# The R face of the engine. A batch's arguments are the engine's one
# description of a request, which checks them and refuses them in the
# command line's words; none is named again here. Here R values become
# rasters and data frames.

# A raster of `layers` layers over cells given layer after layer, each
# layer's rows from the top, as terra orders them.
.raster <- function(cells, rows, columns, layers = 1L, georeference = NULL, names = NULL) {
  cell_size <- if (is.null(georeference)) 1 else georeference$cell_size
  origin <- if (is.null(georeference)) c(0, 0) else georeference$origin
  crs <- if (is.null(georeference)) "" else georeference$crs
  # Names are given here rather than set afterwards, which copies every cell.
  raster <- terra::rast(nrows = rows, ncols = columns, nlyrs = layers,
                        xmin = origin[1], xmax = origin[1] + columns * cell_size,
                        ymin = origin[2], ymax = origin[2] + rows * cell_size,
                        crs = crs, names = if (is.null(names)) "lyr1" else names)
  terra::values(raster) <- cells
  raster
}

.records <- function(columns) {
  structure(columns, class = "data.frame", row.names = .set_row_names(length(columns[[1]])))
}

.batch <- function(result) {
  # What the command line's summary says: covers that fell short, and how
  # each cell of a batch with targets fared.
  if (length(result$shortfalls) > 0) message(paste(result$shortfalls, collapse = "\n"))
  records <- .records(result$records)
  if (is.null(result$cells)) return(records)
  size <- result$size
  if (nrow(records) == 0) {
    maps <- terra::rast()
  } else {
    # Layers are named as terra names a layer it reads from the map's file.
    maps <- .raster(result$cells, size, size, nrow(records), result$georeference,
                    sub("\\.[^.]*$", "", records$file))
  }
  list(maps = maps, records = records)
}

random_batch <- function(...) {
  .batch(.Call(pw_random_batch, list(...)))
}

fractal_batch <- function(...) {
  .batch(.Call(pw_fractal_batch, list(...)))
}

gaussian_batch <- function(...) {
  .batch(.Call(pw_gaussian_batch, list(...)))
}

batch_options <- function(kind = c("random", "fractal", "gaussian")) {
  options <- .Call(pw_batch_options, match.arg(kind))
  data.frame(keyword = options$keyword, default = I(options$default),
             choices = I(options$choices), help = options$help)
}

fbm_surface <- function(size, hurst, seed, generator = NULL) {
  values <- .Call(pw_fbm_surface, size, hurst, seed, generator)
  side <- as.integer(round(sqrt(length(values))))
  .raster(values, side, side)
}

gaussian_surface <- function(size, model, range, seed, nu = NULL, cover = 0, replicate = 1) {
  values <- .Call(pw_gaussian_surface, size, model, range, seed, nu, cover, replicate)
  .raster(values, size, size)
}

read_map <- function(path) {
  path <- path.expand(path)
  map <- .Call(pw_read_map, path)
  raster <- .raster(map$cells, map$rows, map$columns,
                    names = sub("\\.[^.]*$", "", basename(path)))
  # Grids GIS tools read say where they lie; terra reads that from the
  # header alone, and the cells stay the engine's.
  if (grepl("\\.(asc|tif|tiff)$", path, ignore.case = TRUE)) {
    header <- tryCatch(terra::rast(path), error = function(e) NULL)
    if (!is.null(header) && terra::nrow(header) == map$rows && terra::ncol(header) == map$columns) {
      terra::ext(raster) <- terra::ext(header)
      # terra takes a grid without a reference system whose extent could be
      # degrees for longitudes and latitudes; GDAL says whether it has one.
      if (any(grepl("^Coordinate System is", terra::describe(path))))
        terra::crs(raster) <- terra::crs(header)
    }
  }
  raster
}

metrics <- function(x, cell_size = NULL, neighbours = NULL, habitat = NULL) {
  if (inherits(x, "SpatRaster")) {
    rows <- terra::nrow(x)
    columns <- terra::ncol(x)
    values <- terra::values(x, mat = TRUE)
  } else if (is.matrix(x) && (is.numeric(x) || is.logical(x))) {
    rows <- nrow(x)
    columns <- ncol(x)
    # A matrix is stored by column, a layer by row.
    values <- as.vector(t(x))
    if (is.logical(values)) values <- as.integer(values)
  } else {
    stop("x must be a SpatRaster or a numeric matrix", call. = FALSE)
  }
  .records(.Call(pw_metrics, values, rows, columns, habitat, cell_size, neighbours))
}
