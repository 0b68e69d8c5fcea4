library(testthat)
library(patchwright)

test_check("patchwright")
