# SPDX-License-Identifier: GPL-3.0-or-later
# The R package built with a family that exists only in the test folder has
# that family's function, with its arguments, and makes its maps.
library(patchwright)
stopifnot(exists("checker_batch"), "tile" %in% names(formals(checker_batch)))
stopifnot("checker" %in% families()$word)
batch <- checker_batch(size = 9, tile = 2, cover = c(20, 60), replicates = 2)
stopifnot(nrow(batch$records) == 4, all(batch$records$kind == "checker"),
          all(batch$records$tile == 2), terra::nlyr(batch$maps) == 4)
# Exact covers, as the family cuts them.
habitat <- colSums(terra::values(batch$maps) == 1)
stopifnot(all(habitat == round(batch$records$requested_cover * 81 / 100)))
refused <- tryCatch(checker_batch(tile = 0), error = function(e) conditionMessage(e))
stopifnot(grepl("the tile must be between 1 and 1000", refused))
cat("the checker family is in the R package\n")
