# SPDX-License-Identifier: GPL-3.0-or-later
library(testthat)
library(patchwright)

test_check("patchwright")
