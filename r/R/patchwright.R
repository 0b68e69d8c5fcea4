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

.advise <- function(result) {
  # Options the request's other choices leave unused, as the command line
  # warns of them.
  for (line in result$advice) warning(line, call. = FALSE)
}

.batch <- function(result) {
  .advise(result)
  # What the command line's summary says: covers that fell short, and how
  # each cell of a batch with targets fared.
  if (length(result$shortfalls) > 0) message(paste(result$shortfalls, collapse = "\n"))
  if (length(result$acceptance) > 0) message(paste(result$acceptance, collapse = "\n"))
  records <- .records(result$records)
  if (is.null(result$cells)) return(records)
  if (nrow(records) == 0) {
    maps <- terra::rast()
  } else {
    # Layers are named as terra names a layer it reads from the map's file.
    maps <- .raster(result$cells, result$rows, result$columns, nrow(records), result$georeference,
                    sub("\\.[^.]*$", "", records$file))
  }
  list(maps = maps, records = records)
}

# The default of a keyword as the function's signature shows it: a sweep
# as the seq() it is, NULL where the command line has none.
.default_of <- function(type, text, value) {
  if (type %in% c("flag", "metrics")) return(isTRUE(value))
  if (type == "sweep") {
    parts <- as.numeric(strsplit(text, ":", fixed = TRUE)[[1]])
    if (length(parts) == 3) return(call("seq", parts[1], parts[2], parts[3]))
  }
  if (type %in% c("targets", "share") || !nzchar(text)) return(NULL)
  if (is.integer(value)) value <- as.numeric(value)
  value
}

# The batch function of a family, with a formal argument for every keyword
# of the description and its default, so that args() and completion show
# them. Only the arguments a call gives go to the engine: a default is what
# the engine takes anyway. The keywords follow `...`, so that they match by
# their whole names only, and whatever else a call gives reaches the engine,
# which refuses it in its words.
.batch_function <- function(family) {
  options <- .Call(C_pw_batch_options, family)
  defaults <- Map(.default_of, options$type, options$text, options$default)
  names(defaults) <- options$keyword
  batch <- function(...) {
    given <- setdiff(names(match.call(expand.dots = FALSE))[-1], "...")
    .batch(.Call(C_pw_batch, family, c(list(...), mget(given, environment()))))
  }
  formals(batch) <- c(alist(... = ), defaults)
  batch
}

.onLoad <- function(libname, pkgname) {
  namespace <- topenv()
  for (family in .Call(C_pw_families)$word)
    assign(paste0(family, "_batch"), .batch_function(family), envir = namespace)
}

batch_options <- function(kind = families()$word) {
  kind <- match.arg(kind)
  options <- .Call(C_pw_batch_options, kind)
  structure(data.frame(keyword = options$keyword, default = I(options$default),
                       choices = I(options$choices), help = options$help,
                       shown = I(Map(.default_of, options$type, options$text, options$default))),
            class = c("batch_options", "data.frame"))
}

print.batch_options <- function(x, ...) {
  # One keyword a paragraph, as the function's signature shows it, its help
  # wrapped to the console's width.
  width <- max(40L, getOption("width", 80L))
  for (i in seq_len(nrow(x))) {
    shown <- paste(deparse(x$shown[[i]]), collapse = "")
    cat(x$keyword[i], " = ", shown, "\n", sep = "")
    cat(strwrap(x$help[i], width = width - 4L, indent = 4L, exdent = 4L), sep = "\n")
  }
  invisible(x)
}

families <- function() {
  as.data.frame(.Call(C_pw_families))
}

surface <- function(family, ..., cover = 0, replicate = 1) {
  result <- .Call(C_pw_surface, family, list(...), cover, replicate)
  .advise(result)
  .raster(result$values, result$rows, result$columns)
}

fbm_surface <- function(size, hurst, seed, generator = NULL) {
  surface("fractal", size = size, hurst = hurst, first_seed = seed, generator = generator)
}

gaussian_surface <- function(size, model, range, seed, nu = NULL, cover = 0, replicate = 1) {
  sweep <- if (identical(model, "fbm")) list(hurst = range) else list(range = range)
  do.call(surface, c(list("gaussian", size = size, model = model, seed = seed, nu = nu),
                     sweep, list(cover = cover, replicate = replicate)))
}

cluster_surface <- function(size, p, seed, ..., cover = 0, replicate = 1) {
  surface("cluster", size = size, p = p, seed = seed, ..., cover = cover, replicate = replicate)
}

mosaic_surface <- function(size, elements, seed, ..., cover = 0, replicate = 1) {
  surface("mosaic", size = size, elements = elements, seed = seed, ..., cover = cover,
          replicate = replicate)
}

rectangles_surface <- function(size, min_side, max_side, seed, ..., cover = 0, replicate = 1) {
  surface("rectangles", size = size, min_side = min_side, max_side = max_side, seed = seed, ...,
          cover = cover, replicate = replicate)
}

# The gradients take no required option beyond the size: a direction left
# NULL is drawn from the seed, as the batch draws it.
planar_surface <- function(size, direction = NULL, seed = 0, ..., cover = 0, replicate = 1) {
  surface("planar", size = size, direction = direction, seed = seed, ..., cover = cover,
          replicate = replicate)
}

edge_surface <- function(size, direction = NULL, seed = 0, ..., cover = 0, replicate = 1) {
  surface("edge", size = size, direction = direction, seed = seed, ..., cover = cover,
          replicate = replicate)
}

wave_surface <- function(size, periods, direction = NULL, seed = 0, ..., cover = 0,
                         replicate = 1) {
  surface("wave", size = size, periods = periods, direction = direction, seed = seed, ...,
          cover = cover, replicate = replicate)
}

distance_surface <- function(size, sources = 1, seed = 0, ..., cover = 0, replicate = 1) {
  # The default goes unsaid, as the batch's does: sources_from in `...`
  # then gives the sources without a warning that sources is unused.
  surface("distance", size = size, sources = if (!missing(sources)) sources, seed = seed, ...,
          cover = cover, replicate = replicate)
}

perlin_surface <- function(size, periods, seed = 0, ..., cover = 0, replicate = 1) {
  surface("perlin", size = size, periods = periods, seed = seed, ..., cover = cover,
          replicate = replicate)
}

read_map <- function(path) {
  path <- path.expand(path)
  map <- .Call(C_pw_read_map, path)
  raster <- .raster(map$cells, map$rows, map$columns,
                    names = sub("\\.[^.]*$", "", basename(path)))
  # Grids GIS tools read say where they lie; terra reads that from the
  # header alone, and the cells stay the engine's.
  if (map$georeferenced) {
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

metrics <- function(x, cell_size = NULL, neighbours = NULL, habitat = NULL, metric = NULL,
                    nodata = NULL) {
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
  if (is.null(metric)) {
    if (!is.null(nodata))
      stop("nodata applies to the long table of metric; the manifest's metrics measure the ",
           "habitat against every other cell", call. = FALSE)
    return(.records(.Call(C_pw_metrics, values, rows, columns, habitat, cell_size, neighbours)))
  }
  if (!is.null(habitat))
    stop("habitat picks the class of the manifest's metrics; with metric every class is ",
         "measured, so give one or the other", call. = FALSE)
  .records(.Call(C_pw_metric_table, values, rows, columns, metric, nodata, cell_size,
                 neighbours))
}

classify <- function(x, proportions, values = NULL, mask = NULL) {
  if (!inherits(x, "SpatRaster") || terra::nlyr(x) != 1)
    stop("x must be a SpatRaster of one layer", call. = FALSE)
  inside <- NULL
  if (!is.null(mask)) {
    if (!inherits(mask, "SpatRaster") || terra::nrow(mask) != terra::nrow(x) ||
        terra::ncol(mask) != terra::ncol(x))
      stop("mask must be a SpatRaster of the rows and columns of x", call. = FALSE)
    m <- terra::values(mask, mat = FALSE)
    inside <- !is.na(m) & m != 0
  }
  cells <- .Call(C_pw_classify, as.numeric(terra::values(x, mat = FALSE)), terra::nrow(x),
                 terra::ncol(x), as.numeric(proportions), values, inside)
  out <- terra::rast(x)
  terra::values(out) <- cells
  names(out) <- "class"
  out
}

