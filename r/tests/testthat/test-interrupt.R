# SPDX-License-Identifier: GPL-3.0-or-later
# Ctrl-C in a real R process: a batch of large maps is interrupted with
# SIGINT once it holds a few hundred megabytes, and must end with R's
# interrupt, give that memory back and leave the session usable.

resident_mb <- function(pid = "self") {
  status <- readLines(sprintf("/proc/%s/status", pid))
  as.numeric(gsub("[^0-9]", "", grep("^VmRSS:", status, value = TRUE))) / 1024
}

lines_in <- function(file) {
  if (file.exists(file)) readLines(file, warn = FALSE) else character()
}

wait_for <- function(condition, seconds) {
  deadline <- Sys.time() + seconds
  while (!condition()) {
    if (Sys.time() > deadline) return(FALSE)
    Sys.sleep(0.02)
  }
  TRUE
}

test_that("Ctrl-C stops a batch between maps and frees what it made", {
  skip_if_not(file.exists("/proc/self/status"), "needs /proc and POSIX signals")
  folder <- tempfile("interrupt")
  dir.create(folder)
  started <- file.path(folder, "started")
  result <- file.path(folder, "result")
  child <- file.path(folder, "child.R")
  # Maps of 2900 x 2900 cells are larger than the allocator ever keeps for
  # itself, so memory that is freed leaves the process at once; 20 of them
  # would take seconds and several gigabytes as rasters.
  writeLines(c(
    sprintf(".libPaths(%s)", paste(deparse(.libPaths()), collapse = "")),
    "library(patchwright)",
    sprintf("resident_mb <- %s", paste(deparse(resident_mb), collapse = "\n")),
    sprintf("writeLines(as.character(resident_mb()), %s)", deparse(started)),
    "caught <- tryCatch({",
    "  random_batch(size = 2900, cover = 1:20, generator = 'philox')",
    "  'finished'",
    "}, interrupt = function(e) c('interrupted', format(as.numeric(Sys.time()), digits = 15)))",
    "invisible(gc())",
    "after <- resident_mb()",
    "usable <- nrow(random_batch(size = 10, cover = c(20, 40))$records)",
    sprintf("writeLines(as.character(c(caught, after, usable)), %s)", deparse(result))
  ), child)
  rscript <- file.path(R.home("bin"), "Rscript")
  pid <- as.integer(system(sprintf("'%s' --vanilla '%s' > '%s' 2>&1 & echo $!", rscript, child,
                                   file.path(folder, "log")), intern = TRUE))
  on.exit(tools::pskill(pid, tools::SIGKILL), add = TRUE)
  expect_true(wait_for(function() length(lines_in(started)) > 0, 60),
              label = "the child started")
  before <- as.numeric(readLines(started))
  # Stopped once the batch holds about six maps.
  holding <- wait_for(function() {
    !file.exists(result) && resident_mb(pid) > before + 200
  }, 60)
  expect_true(holding, label = "the batch grew by 200 MB before it ended")
  signalled <- Sys.time()
  tools::pskill(pid, tools::SIGINT)
  expect_true(wait_for(function() length(lines_in(result)) >= 4, 60),
              label = paste(c("the child answered", lines_in(file.path(folder, "log"))),
                            collapse = "\n"))
  answer <- readLines(result)
  expect_identical(answer[1], "interrupted")
  expect_lt(as.numeric(answer[2]) - as.numeric(signalled), 5)
  expect_lt(as.numeric(answer[3]), before + 100)
  expect_identical(answer[4], "2")
})
