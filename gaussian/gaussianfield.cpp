// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussianfield.h"

#include "core/rng/philox.h"

#include <QCoreApplication>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

// A field's draws (see core/rng/philox.h for the key; its size word is 0).
//
// Counter of a Gaussian field's spectral entry, one pair of normal draws
// per entry (key[1] bits 0-23 are 0):
//   ctr[0]           the entry, row * (M / 2 + 1) + column of the half
//                    spectrum; M * (M / 2 + 1) for the two draws of an fBm
//                    surface's tilt
//   ctr[1]           the replicate
//   ctr[2]           the field's range (or H) in hundredths
//   ctr[3] bits 0-7  the cover, 0 to 100
//   ctr[3] bits 8-31 the round of the polar method: a pair outside the unit
//                    disc is drawn again with the next round
namespace philox {

constexpr Domain gaussianFieldDomain{0x47u};

constexpr Counter fieldCounter(std::uint32_t entry, std::uint32_t replicate,
                               std::uint32_t axisHundredths, std::uint32_t cover,
                               std::uint32_t round)
{
    return Counter{{entry, replicate, axisHundredths, (cover & 0xFFu) | (round << 8)}};
}

} // namespace philox

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CirculantEmbedding", text);
}

// FFTW's planner keeps state of its own and may be used by one thread at a
// time; executing a finished plan on other arrays needs no lock.
std::mutex &plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

// A heuristic plan without SIMD codelets: the same sequence of operations,
// and so the same bits, on every x86-64 processor and in every run.
constexpr unsigned planFlags = FFTW_ESTIMATE | FFTW_NO_SIMD;

// Stein's constants of the intrinsic covariance for alpha = 2H.
struct SteinConstants {
    double R = 1.0;
    double beta = 0.0;
    double c0 = 0.0;
    double c2 = 0.0;
};

SteinConstants steinConstants(double hurst)
{
    const double alpha = 2.0 * hurst;
    SteinConstants k;
    if (alpha <= 1.5) {
        k.c2 = alpha / 2.0;
        k.c0 = 1.0 - alpha / 2.0;
        return k;
    }
    k.R = 2.0;
    k.beta = alpha * (2.0 - alpha) / (3.0 * k.R * (k.R * k.R - 1.0));
    k.c2 = (alpha - k.beta * (k.R - 1.0) * (k.R - 1.0) * (k.R + 2.0)) / 2.0;
    k.c0 = k.beta * (k.R - 1.0) * (k.R - 1.0) * (k.R - 1.0) + 1.0 - k.c2;
    return k;
}

double steinCovariance(const SteinConstants &k, double alpha, double t)
{
    if (t <= 1.0)
        return k.c0 - std::pow(t, alpha) + k.c2 * t * t;
    if (t <= k.R)
        return k.beta * (k.R - t) * (k.R - t) * (k.R - t) / t;
    return 0.0;
}

// Two independent standard normal values for one spectral entry, by the
// polar method: a pair of uniform values on (-1, 1) inside the unit disc,
// scaled by sqrt(-2 ln s / s). About one pair in five falls outside and is
// drawn again with the next round of the same counter.
void normalPair(const philox::Key &key, std::uint32_t entry, const FieldStream &stream, double &a,
                double &b)
{
    constexpr double unit = 1.0 / 9007199254740992.0; // 2^-53
    for (std::uint32_t round = 0;; ++round) {
        const philox::Counter out =
            philox::bits(key, philox::fieldCounter(entry, stream.replicate, stream.axisHundredths,
                                                   stream.cover, round));
        const std::uint64_t x = ((std::uint64_t(out.v[0]) << 32) | out.v[1]) >> 11;
        const std::uint64_t y = ((std::uint64_t(out.v[2]) << 32) | out.v[3]) >> 11;
        // Odd multiples of 2^-53, symmetric about 0 and never 0 itself.
        const double u = (double(std::int64_t(2 * x + 1) - (std::int64_t(1) << 53))) * unit;
        const double v = (double(std::int64_t(2 * y + 1) - (std::int64_t(1) << 53))) * unit;
        const double s = u * u + v * v;
        if (s < 1.0) {
            const double f = std::sqrt(-2.0 * std::log(s) / s);
            a = u * f;
            b = v * f;
            return;
        }
    }
}

} // namespace

int CirculantEmbedding::fastSide(int n)
{
    for (int m = std::max(n, 2);; ++m) {
        if (m % 2 != 0)
            continue;
        int rest = m;
        for (int p : {2, 3, 5})
            while (rest % p == 0)
                rest /= p;
        if (rest == 1)
            return m;
    }
}

double CirculantEmbedding::covariance(const FieldModel &model, double d)
{
    switch (model.model) {
    case CovarianceModel::Exponential:
        return std::exp(-d / model.range);
    case CovarianceModel::Gaussian: {
        const double x = d / model.range;
        return std::exp(-x * x);
    }
    case CovarianceModel::Matern: {
        if (d == 0.0)
            return 1.0;
        const double x = d / model.range;
        // K_nu underflows long before this; the product is 0 in doubles.
        if (x > 700.0)
            return 0.0;
        return std::pow(2.0, 1.0 - model.nu) / std::tgamma(model.nu) * std::pow(x, model.nu) *
               std::cyl_bessel_k(model.nu, x);
    }
    case CovarianceModel::Fbm:
        return std::pow(d, 2.0 * model.hurst);
    }
    return 0.0;
}

std::optional<QString> CirculantEmbedding::modelRefusal(const FieldModel &model)
{
    if (model.model == CovarianceModel::Fbm) {
        if (!(model.hurst > 0.0 && model.hurst < 1.0))
            return tr("fbm needs an H strictly between 0 and 1: the exact construction has no "
                      "surface at H = %1")
                .arg(model.hurst);
        return std::nullopt;
    }
    if (!(model.range > 0.0) || !std::isfinite(model.range))
        return tr("the range must be a positive number of cells, not %1").arg(model.range);
    if (model.model == CovarianceModel::Matern && (!(model.nu > 0.0) || !std::isfinite(model.nu)))
        return tr("the Matern model needs a positive nu, not %1").arg(model.nu);
    return std::nullopt;
}

CirculantEmbedding::Built CirculantEmbedding::build(const FieldModel &model, int size)
{
    return build(model, size, size);
}

namespace {

// How a field's shape reads in a message: "n x n" for a square.
QString shapeText(int rows, int columns)
{
    return QStringLiteral("%1 x %2").arg(rows).arg(columns);
}

} // namespace

CirculantEmbedding::Built CirculantEmbedding::build(const FieldModel &model, int rows, int columns)
{
    if (const auto refusal = modelRefusal(model))
        return {nullptr, *refusal};
    if (rows < minSize || columns < minSize)
        return {nullptr, tr("a field needs at least %1 x %1 cells").arg(minSize)};

    const bool fbm = model.model == CovarianceModel::Fbm;
    const SteinConstants stein = fbm ? steinConstants(model.hurst) : SteinConstants();
    const double alpha = 2.0 * model.hurst;
    // fbm: every two cells of the field lie at most 1 apart in the unit of
    // the intrinsic covariance, which sets the grid's spacing by the field's
    // diagonal, and Stein's periodic grid spans 2R of that unit in both
    // directions. The shorter side of a field first gets a periodic side in
    // the same proportion to its cells as the longer one.
    const double diagonal = rows == columns ? std::sqrt(2.0) * double(rows - 1)
                                            : std::hypot(double(rows - 1), double(columns - 1));
    const double firstLonger =
        fbm ? std::ceil(2.0 * stein.R * diagonal) : 2.0 * double(std::max(rows, columns));
    if (firstLonger > maxEmbeddingSide)
        return {nullptr, tr("a %1 field of this model needs a periodic grid of at least %2 points "
                            "a side, more than the %3 this engine allows")
                             .arg(shapeText(rows, columns))
                             .arg(qint64(firstLonger))
                             .arg(maxEmbeddingSide)};
    const auto firstSideOf = [&](int cells) {
        if (!fbm)
            return fastSide(2 * cells);
        const int steinSide = fastSide(int(firstLonger));
        if (cells == std::max(rows, columns))
            return steinSide;
        return std::min(steinSide, fastSide(int(std::ceil(double(steinSide) * double(cells - 1) /
                                                          double(std::max(rows, columns) - 1)))));
    };
    const Sides first{firstSideOf(rows), firstSideOf(columns)};
    const int limit = int(std::min<qint64>(
        maxEmbeddingSide, qint64(std::max(first.rows, first.columns)) * growthLimit));

    double worst = 0.0;
    Sides sides = first;
    for (;;) {
        const int halfRows = sides.rows / 2 + 1;
        const int halfColumns = sides.columns / 2 + 1;
        const double spacing = fbm ? 2.0 * stein.R / std::max(sides.rows, sides.columns) : 1.0;
        std::vector<double> quadrant;
        try {
            quadrant.resize(std::size_t(halfRows) * std::size_t(halfColumns));
        } catch (const std::bad_alloc &) {
            return {nullptr, tr("there is not enough memory for a periodic grid of %1 points")
                                 .arg(shapeText(sides.rows, sides.columns))};
        }
        // The first quadrant holds every wrapped distance: i and j are the
        // offsets along each direction, each no more than half its period.
        for (int i = 0; i < halfRows; ++i)
            for (int j = 0; j < halfColumns; ++j) {
                const double d = std::sqrt(double(i) * i + double(j) * j);
                quadrant[std::size_t(i) * halfColumns + j] =
                    fbm ? steinCovariance(stein, alpha, d * spacing) : covariance(model, d);
            }
        // The transform of an even periodic sequence is the cosine
        // transform of its first half, which REDFT00 is, in each direction.
        {
            const std::lock_guard<std::mutex> lock(plannerMutex());
            fftw_plan plan =
                fftw_plan_r2r_2d(halfRows, halfColumns, quadrant.data(), quadrant.data(),
                                 FFTW_REDFT00, FFTW_REDFT00, planFlags);
            fftw_execute(plan);
            fftw_destroy_plan(plan);
        }
        worst = *std::min_element(quadrant.begin(), quadrant.end());
        if (worst >= -roundOff) {
            std::unique_ptr<CirculantEmbedding> e(new CirculantEmbedding);
            e->m_model = model;
            e->m_rows = rows;
            e->m_columns = columns;
            e->m_sides = sides;
            e->m_spacing = spacing;
            e->m_c2 = stein.c2;
            e->m_amplitude.resize(quadrant.size());
            // sqrt(M_r M_c) is exact, and so M itself, on a square grid.
            const double norm = std::sqrt(double(sides.rows) * double(sides.columns));
            for (std::size_t k = 0; k < quadrant.size(); ++k)
                e->m_amplitude[k] = std::sqrt(std::max(quadrant[k], 0.0)) / norm;
            const std::lock_guard<std::mutex> lock(plannerMutex());
            // Planned on a token array: with FFTW_ESTIMATE the planner
            // touches no data, and every draw executes the plan on its own.
            double token[4];
            e->m_plan = fftw_plan_dft_c2r_2d(sides.rows, sides.columns,
                                             reinterpret_cast<fftw_complex *>(token), token,
                                             planFlags | FFTW_DESTROY_INPUT);
            if (!e->m_plan)
                return {nullptr, tr("no transform of %1 points could be planned")
                                     .arg(shapeText(sides.rows, sides.columns))};
            return {std::move(e), QString()};
        }
        if (sides.rows == sides.columns) {
            if (sides.rows >= limit)
                break;
            const int grown = fastSide(std::min(limit, sides.rows + std::max(2, sides.rows / 4)));
            sides = {grown, grown};
        } else {
            // The shorter side grows by a quarter, never past the longer:
            // at equal sides the grid is the one the square of the longer
            // side starts from, and its growth follows.
            int &shorter = sides.rows < sides.columns ? sides.rows : sides.columns;
            shorter = std::min(std::max(sides.rows, sides.columns),
                               fastSide(shorter + std::max(2, shorter / 4)));
        }
    }
    if (first.rows == first.columns)
        return {nullptr,
                tr("its covariance has negative eigenvalues (down to %1) on every periodic "
                   "grid from %2 to %3 points a side, so no exact field of %4 x %4 cells "
                   "exists this way: choose a smaller range or another model")
                    .arg(worst, 0, 'g', 3)
                    .arg(first.rows)
                    .arg(sides.rows)
                    .arg(rows)};
    return {nullptr, tr("its covariance has negative eigenvalues (down to %1) on every periodic "
                        "grid from %2 to %3 points, so no exact field of %4 cells exists this "
                        "way: choose a smaller range or another model")
                         .arg(worst, 0, 'g', 3)
                         .arg(shapeText(first.rows, first.columns))
                         .arg(shapeText(sides.rows, sides.columns))
                         .arg(shapeText(rows, columns))};
}

CirculantEmbedding::~CirculantEmbedding()
{
    if (m_plan) {
        const std::lock_guard<std::mutex> lock(plannerMutex());
        fftw_destroy_plan(static_cast<fftw_plan>(m_plan));
    }
}

FieldWorkspace::~FieldWorkspace()
{
    fftw_free(m_data);
}

bool CirculantEmbedding::draw(const FieldStream &stream, std::vector<double> &out,
                              FieldWorkspace &workspace) const
{
    const int m = m_sides.rows;
    const int half = m_sides.columns / 2 + 1;
    const std::size_t entries = spectralEntries();
    // In place: the real result's rows are padded to 2 * half doubles.
    if (workspace.m_doubles != entries * 2) {
        fftw_free(std::exchange(workspace.m_data, nullptr));
        workspace.m_doubles = 0;
        workspace.m_data = static_cast<double *>(fftw_malloc(entries * 2 * sizeof(double)));
        if (!workspace.m_data)
            return false;
        workspace.m_doubles = entries * 2;
    }
    double *const buffer = workspace.m_data;
    auto *spectrum = reinterpret_cast<std::complex<double> *>(buffer);
    const philox::Key key = philox::key(stream.seed, philox::gaussianFieldDomain);
    const double halfRoot = std::sqrt(0.5);

    // Hermitian white noise: entries of the stored half are independent
    // complex normals of unit variance, except in the columns 0 and M_c/2,
    // whose rows k and M_r - k are each other's conjugates and whose rows 0
    // and M_r/2 are real.
    for (int k1 = 0; k1 < m; ++k1) {
        const int mirrored = std::min(k1, m - k1);
        const double *amplitude = &m_amplitude[std::size_t(mirrored) * half];
        std::complex<double> *row = spectrum + std::size_t(k1) * half;
        const bool selfConjugateRow = k1 == 0 || k1 == m / 2;
        for (int k2 = 0; k2 < half; ++k2) {
            const bool edge = k2 == 0 || k2 == half - 1;
            if (edge && k1 > m / 2)
                continue; // set with its conjugate row
            double a, b;
            normalPair(key, std::uint32_t(std::size_t(k1) * half + k2), stream, a, b);
            if (edge && selfConjugateRow) {
                row[k2] = {amplitude[k2] * a, 0.0};
            } else if (edge) {
                const std::complex<double> value(amplitude[k2] * a * halfRoot,
                                                 amplitude[k2] * b * halfRoot);
                row[k2] = value;
                spectrum[std::size_t(m - k1) * half + k2] = std::conj(value);
            } else {
                row[k2] = {amplitude[k2] * a * halfRoot, amplitude[k2] * b * halfRoot};
            }
        }
    }
    fftw_execute_dft_c2r(static_cast<fftw_plan>(m_plan), reinterpret_cast<fftw_complex *>(buffer),
                         buffer);

    const std::size_t stride = 2 * std::size_t(half);
    const double *field = buffer;
    const std::size_t columns = std::size_t(m_columns);
    out.resize(std::size_t(m_rows) * columns);
    if (m_model.model != CovarianceModel::Fbm) {
        for (int i = 0; i < m_rows; ++i)
            std::copy_n(field + std::size_t(i) * stride, columns,
                        out.begin() + std::ptrdiff_t(std::size_t(i) * columns));
        return true;
    }
    // Y(t) - Y(0) + sqrt(2 c2) (t1 Z1 + t2 Z2), in units of one cell: the
    // grid spacing s scales the variogram by s^(2H).
    double z1, z2;
    normalPair(key, std::uint32_t(entries), stream, z1, z2);
    const double tilt = std::sqrt(2.0 * m_c2) * m_spacing;
    const double scale = 1.0 / std::pow(m_spacing, m_model.hurst);
    const double origin = field[0];
    for (int i = 0; i < m_rows; ++i)
        for (int j = 0; j < m_columns; ++j)
            out[std::size_t(i) * columns + std::size_t(j)] =
                (field[std::size_t(i) * stride + std::size_t(j)] - origin +
                 tilt * (i * z1 + j * z2)) *
                scale;
    return true;
}
