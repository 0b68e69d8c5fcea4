// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The covariance of a Gaussian random field map; see FieldModel below for
// the formulas.
enum class CovarianceModel { Exponential, Gaussian, Matern, Fbm };

// Stationary Gaussian random fields and fractional Brownian surfaces on a
// grid of R rows by C columns, simulated exactly by circulant embedding: the
// covariance is laid on a periodic grid of M_r x M_c points (each even, a
// product of 2, 3 and 5 so that the transforms are fast, and for the
// stationary models at least 2R and 2C),
// the distance between two points taken with the wrap in each direction
// separately, and its two-dimensional discrete Fourier transform gives the
// eigenvalues. A field is then the transform of independent normal draws
// scaled by the square roots of those eigenvalues, and its top-left R x C
// cells have exactly the model's covariance. The periodic grid follows each
// side of the field, not the larger one: a long thin field costs what its
// own cells need, not what the square around it would.
//
// The models, for cells at distance d and range r, all of unit variance:
//   exponential  C(d) = exp(-d / r)
//   gaussian     C(d) = exp(-(d / r)^2)
//   matern       C(d) = 2^(1 - nu) / Gamma(nu) (d / r)^nu K_nu(d / r)
// and fbm, a fractional Brownian surface with Hurst exponent H: zero at the
// top-left cell, with E[(X(p) - X(q))^2] = 2 |p - q|^(2H) in cells. It is
// made by Stein's method (2002): the intrinsic covariance
//   rho(t) = c0 - t^(2H) + c2 t^2   for t <= 1
//          = beta (R - t)^3 / t     for 1 < t <= R
//          = 0                      beyond R
// with R = 1 for H <= 0.75 and R = 2 above, whose embedding on a periodic
// grid of side 2R has no negative eigenvalue; a stationary field Y of that
// covariance gives fBm as Y(t) - Y(0) + sqrt(2 c2) (t1 Z1 + t2 Z2) for
// points less than 1 apart, so the grid is laid over [0, 1/sqrt(2)]^2. H must
// lie strictly between 0 and 1: at H = 1 the construction degenerates into
// a plane. The construction is exact for any spacing that keeps every two
// cells of the field within 1 of each other, and its result in units of one
// cell does not depend on the spacing, so an R x C surface takes the spacing
// its own diagonal allows: it is then, in distribution, the top-left R x C
// block of the square of its longer side, on a periodic grid of Stein's
// that is smaller than that square's. Its shorter side first gets a
// periodic side in the same proportion to its cells as the longer one,
// which is no longer Stein's embedding and is checked like any other (see
// below); at equal sides it is Stein's again.
//
// Negative eigenvalues: an embedding whose negative eigenvalues are all
// round-off (above -roundOff) has them set to 0, which moves no covariance
// by more than roundOff. Otherwise the periodic grid grows. Growth starts at
// the shorter side: the covariance is isotropic, so the wrap cuts it first,
// and hardest, in the direction whose periodic side is shorter, and
// lengthening the other would multiply the memory without helping. The
// shorter side grows by a quarter at a time, never past the longer one; at
// equal sides the grid is the one the square field of the longer side
// starts from, and both sides then grow by a quarter at a time, as a
// square's always have, up to growthLimit times the first longer side and
// never beyond maxEmbeddingSide. A stationary R x C field is thus never
// refused where the square of its longer side would be served, since its
// grids pass through every grid that square would try. If the last grid still has
// negative eigenvalues, the model is refused with the reason.
//
// Determinism: the FFT is FFTW's, planned with FFTW_ESTIMATE (a heuristic,
// no timing) and FFTW_NO_SIMD (no codelet chosen by the processor found at
// run time), each field in one thread; the plan thus depends only on the
// grid side, and a field's bits only on its draws. The normal draws are the
// polar method on Philox words (see core/rng/philox.h), which uses the C
// library's log and the correctly rounded sqrt. glibc runs FMA versions of
// log, exp and pow where the processor has FMA, so fields agree bit for bit
// among processors with FMA, and among those without.

struct FieldModel {
    CovarianceModel model = CovarianceModel::Exponential;
    // In cells; not used by fbm.
    double range = 10.0;
    // The Matern smoothness; not used by the other models.
    double nu = 1.0;
    // The Hurst exponent of fbm; not used by the other models.
    double hurst = 0.5;
};

// Which field of a batch is drawn: every replicate has its own.
struct FieldStream {
    std::uint32_t seed = 0;
    // The range (or H) of the field in hundredths.
    std::uint32_t axisHundredths = 0;
    std::uint32_t cover = 0;
    std::uint32_t replicate = 0;
};

// The spectrum a field is drawn in, kept from one field to the next: a new
// one per field would cost more in page faults than the transform. One per
// thread that draws.
class FieldWorkspace final {
public:
    FieldWorkspace() = default;
    ~FieldWorkspace();
    FieldWorkspace(const FieldWorkspace &) = delete;
    FieldWorkspace &operator=(const FieldWorkspace &) = delete;

private:
    friend class CirculantEmbedding;
    double *m_data = nullptr;
    std::size_t m_doubles = 0;
};

class CirculantEmbedding final {
public:
    static constexpr int minSize = 2;
    // A field of 8192 x 8192 cells needs a periodic grid of 16384 points a
    // side: 2 GiB of spectrum while it is drawn.
    static constexpr int maxEmbeddingSide = 16384;
    static constexpr int growthLimit = 16;
    static constexpr double roundOff = 1e-9;

    // The two sides of a periodic grid, or the rows and columns of a field.
    struct Sides {
        int rows = 0;
        int columns = 0;
    };

    // The embedding of `model` for fields of `rows` x `columns` cells, or
    // the reason there is none.
    struct Built;
    static Built build(const FieldModel &model, int rows, int columns);
    // The square case, n x n; its fields are those of the square-only engine
    // bit for bit.
    static Built build(const FieldModel &model, int size);

    ~CirculantEmbedding();
    CirculantEmbedding(const CirculantEmbedding &) = delete;
    CirculantEmbedding &operator=(const CirculantEmbedding &) = delete;

    int rows() const { return m_rows; }
    int columns() const { return m_columns; }
    // The periodic grid, M_r x M_c.
    Sides sides() const { return m_sides; }
    // The larger periodic side, for the callers that describe the grid by
    // one number; a square field's grid has both sides equal to it.
    int side() const { return std::max(m_sides.rows, m_sides.columns); }
    // The complex entries of the half spectrum a field is drawn in, M_r x
    // (M_c / 2 + 1): what a draw's memory and time follow.
    std::size_t spectralEntries() const
    {
        return std::size_t(m_sides.rows) * std::size_t(m_sides.columns / 2 + 1);
    }

    // Draws the field of `stream` into `out` (rows x columns values,
    // row-major). Any number of threads may draw from one embedding at once,
    // each with its own out. Returns false when the memory for the spectrum
    // cannot be had.
    bool draw(const FieldStream &stream, std::vector<double> &out, FieldWorkspace &workspace) const;
    bool draw(const FieldStream &stream, std::vector<double> &out) const
    {
        FieldWorkspace workspace;
        return draw(stream, out, workspace);
    }

    // The covariance the model gives two cells d apart; for fbm, half the
    // variogram, d^(2H).
    static double covariance(const FieldModel &model, double d);

    // The smallest even product of 2, 3 and 5 that is at least `n`.
    static int fastSide(int n);

    // Why `model` cannot be drawn at all, whatever the size: a range, nu or
    // H outside what the formulas allow.
    static std::optional<QString> modelRefusal(const FieldModel &model);

private:
    CirculantEmbedding() = default;

    FieldModel m_model;
    int m_rows = 0;
    int m_columns = 0;
    Sides m_sides;
    // sqrt(eigenvalue) / sqrt(M_r M_c) for the frequencies 0..M_r/2 by
    // 0..M_c/2, row-major; the others mirror them.
    std::vector<double> m_amplitude;
    // fbm: the grid spacing in units of the intrinsic covariance, and c2.
    double m_spacing = 1.0;
    double m_c2 = 0.0;
    void *m_plan = nullptr;
};

struct CirculantEmbedding::Built {
    std::unique_ptr<CirculantEmbedding> embedding;
    QString refusal;
};
