# The R face of the engine. Everything a request may hold is checked by the
# engine, which refuses it in the command line's words; here R values become
# rasters and data frames.

# A one-or-more layer raster over cells given as a matrix of a column per
# layer, each column the layer's rows from the top.
.raster <- function(cells, rows, columns, georeference = NULL, names = NULL) {
  cell_size <- if (is.null(georeference)) 1 else georeference$cell_size
  origin <- if (is.null(georeference)) c(0, 0) else georeference$origin
  crs <- if (is.null(georeference)) "" else georeference$crs
  layers <- if (is.matrix(cells)) ncol(cells) else 1L
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
  records <- .records(result$records)
  if (is.null(result$cells)) return(records)
  size <- result$size
  if (nrow(records) == 0) {
    maps <- terra::rast()
  } else {
    # Layers are named as terra names a layer it reads from the map's file.
    maps <- .raster(result$cells, size, size, result$georeference,
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

fbm_surface <- function(size, hurst, seed, generator = "classic") {
  values <- .Call(pw_fbm_surface, size, hurst, seed, generator)
  side <- as.integer(round(sqrt(length(values))))
  .raster(values, side, side)
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

metrics <- function(x, cell_size = 1, neighbours = 8, habitat = NULL) {
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
