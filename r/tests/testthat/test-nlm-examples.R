# SPDX-License-Identifier: GPL-3.0-or-later
# The examples of the published help of the functions these mirror, as
# published (their plotting calls left out), run here unchanged.
test_that("the published examples run and give rasters", {
  random <- nlm_random(ncol = 200, nrow = 100)
  percolation <- nlm_percolation(ncol = 100, nrow = 100, prob = 0.5)
  fbm_raster <- nlm_fbm(ncol = 20, nrow = 30, fract_dim = 0.8)
  gaussian_field <- nlm_gaussianfield(ncol = 90, nrow = 90,
                                      autocorr_range = 60,
                                      mag_var = 8,
                                      nug = 5)
  random_cluster <- nlm_randomcluster(ncol = 30, nrow = 30,
                                      p = 0.4,
                                      ai = c(0.25, 0.25, 0.5))
  mosaictess <- nlm_mosaictess(ncol = 30, nrow = 60, germs = 200)
  randomrectangular_cluster <- nlm_randomrectangularcluster(ncol = 50,
                                                            nrow = 30,
                                                            minl = 5,
                                                            maxl = 10)
  planar_gradient <- nlm_planargradient(ncol = 200, nrow = 200)
  edge_gradient <- nlm_edgegradient(ncol = 100, nrow = 100, direction = 80)
  distance_gradient <- nlm_distancegradient(ncol = 100, nrow = 100,
                                            origin = c(20, 30, 10, 15))
  for (map in list(random, percolation, fbm_raster, gaussian_field, random_cluster, mosaictess,
                   randomrectangular_cluster, planar_gradient, edge_gradient, distance_gradient))
    expect_s4_class(map, "SpatRaster")
  # The midpoint-displacement example's roughness of 0.3 is H = 1.74, beyond
  # the fractal surfaces' H of at most 1: drawn at H 1, with a warning.
  expect_warning(midpoint_displacememt <- nlm_mpd(ncol = 100, nrow = 100, roughness = 0.3),
                 "drawn at H 1")
  expect_s4_class(midpoint_displacememt, "SpatRaster")
  expect_equal(attr(midpoint_displacememt, "patchwright")$parameters$hurst, 1)
})
