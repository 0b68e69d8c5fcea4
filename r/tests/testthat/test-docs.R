test_that("the example of docs/r.md runs", {
  docs <- Sys.getenv("PW_DOCS_DIR")
  skip_if_not(nzchar(docs) && file.exists(file.path(docs, "r.md")), "docs/r.md is not here")
  text <- readLines(file.path(docs, "r.md"))
  start <- grep("<!-- tested: r-example -->", text, fixed = TRUE) + 2
  end <- start + which(text[start:length(text)] == "```")[1] - 2
  grDevices::png(tempfile(fileext = ".png"))
  on.exit(grDevices::dev.off())
  expect_no_error(utils::capture.output(eval(parse(text = text[start:end]), new.env())))
})
