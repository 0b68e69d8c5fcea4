# SPDX-License-Identifier: GPL-3.0-or-later
test_that("the examples of docs/r.md run", {
  docs <- Sys.getenv("PW_DOCS_DIR")
  skip_if_not(nzchar(docs) && file.exists(file.path(docs, "r.md")), "docs/r.md is not here")
  text <- readLines(file.path(docs, "r.md"))
  # Each block marked as tested runs, in order, in one session as a reader's
  # would; the marker stands on the line before the block's fence.
  marks <- grep("<!-- tested: ", text, fixed = TRUE)
  expect_gte(length(marks), 2)
  grDevices::png(tempfile(fileext = ".png"))
  on.exit(grDevices::dev.off())
  session <- new.env()
  for (mark in marks) {
    start <- mark + 2
    end <- start + which(text[start:length(text)] == "```")[1] - 2
    expect_no_error(suppressMessages(utils::capture.output(
      eval(parse(text = text[start:end]), session))))
  }
})
