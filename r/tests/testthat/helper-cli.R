# SPDX-License-Identifier: GPL-3.0-or-later
# The command line the maps are compared with, from the build tree (CTest
# passes its path); R CMD check has none and skips those comparisons.
cli_path <- function() {
  path <- Sys.getenv("PW_CLI_PATH")
  if (!nzchar(path)) skip("PW_CLI_PATH names no patchwright-cli")
  path
}

# The command line's options for the same request the R call gets.
cli_options <- function(args) {
  options <- character()
  for (name in names(args)) {
    value <- args[[name]]
    option <- paste0("--", gsub("_", "-", name))
    if (is.list(value)) {
      # Targets: --target METRIC=MIN:MAX once per metric, NA an open side.
      for (metric in names(value)) {
        bounds <- ifelse(is.na(value[[metric]]), "", as.character(value[[metric]]))
        options <- c(options, option, sprintf("%s=%s:%s", metric, bounds[1], bounds[2]))
      }
    } else if (is.logical(value)) {
      if (value) options <- c(options, option)
    } else if (name == "size") {
      # Rows and columns: RxC.
      options <- c(options, option, paste(value, collapse = "x"))
    } else {
      # A vector is a list A,B,C, which the command line takes for a sweep
      # and for an origin alike.
      options <- c(options, option, paste(value, collapse = ","))
    }
  }
  options
}

# Runs the command line into a fresh folder of its own (so that no
# config.txt changes its defaults) and returns the folder of the maps.
run_cli <- function(kind, args) {
  folder <- tempfile("cli")
  dir.create(folder)
  out <- file.path(folder, "out")
  status <- system2(cli_path(), c(kind, "--out", out, "--quiet", cli_options(args)),
                    stdout = TRUE, stderr = TRUE)
  expect_null(attr(status, "status"), label = paste(status, collapse = "\n"))
  out
}

manifest_text <- function(out) {
  file <- list.files(out, pattern = "manifest\\.csv$", full.names = TRUE)
  utils::read.csv(file, colClasses = "character", check.names = FALSE)
}

# Every record equals its manifest row: the same columns, and every field
# the text's value in the record's type (NA where the row is empty).
expect_records_match <- function(records, manifest) {
  expect_identical(names(records), names(manifest))
  expect_identical(nrow(records), nrow(manifest))
  for (name in names(manifest)) {
    text <- manifest[[name]]
    value <- records[[name]]
    expected <- switch(typeof(value),
      character = ifelse(text == "", NA_character_, text),
      integer = ifelse(text == "", NA_integer_, as.integer(text)),
      double = ifelse(text == "", NA_real_, as.numeric(text)))
    expect_identical(value, expected, label = name)
  }
}

# A map file read without the package: an ESRI grid with terra, a plain map
# as the table of numbers it is.
# Both as doubles, the type terra keeps every cell in.
read_file_cells <- function(path) {
  cells <- if (grepl("\\.txt$", path)) unname(as.matrix(utils::read.table(path)))
           else terra::as.matrix(terra::rast(path), wide = TRUE)
  storage.mode(cells) <- "double"
  cells
}

layer_cells <- function(maps, i) {
  terra::as.matrix(maps[[i]], wide = TRUE)
}

# Every layer of an R batch equals the command line's file of the same
# request, and every record its manifest row.
expect_batch_is_cli <- function(kind, args) {
  maker <- get(paste0(kind, "_batch"))
  batch <- suppressMessages(do.call(maker, args))
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
  invisible(batch)
}
