// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/nearestsource.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <vector>

namespace nearestsource {

namespace {

// A breakpoint of the lower envelope, num / den with den > 0, or minus
// infinity for the first parabola. Its products are made in Wide: 64 bits
// hold them for sides up to 2^20, beyond that 128 do.
template <typename Wide> struct Breakpoint {
    std::int64_t num = 0;
    std::int64_t den = 0;
    bool below(std::int64_t x) const { return den == 0 || Wide(num) < Wide(x) * den; }
    bool at(std::int64_t x) const { return den != 0 && Wide(num) == Wide(x) * den; }
};

// The parabolas of one row: at column v, of height h (the squared distance
// to the nearest source in that column), from source src.
template <typename Wide> struct RowEnvelope {
    std::vector<std::int64_t> v;
    std::vector<std::int64_t> f;
    std::vector<std::uint32_t> src;
    std::vector<Breakpoint<Wide>> z;
    std::size_t count = 0;

    explicit RowEnvelope(int columns)
        : v(std::size_t(columns))
        , f(std::size_t(columns))
        , src(std::size_t(columns))
        , z(std::size_t(columns))
    {}

    void add(std::int64_t q, std::int64_t fq, std::uint32_t source)
    {
        Breakpoint<Wide> s;
        while (count > 0) {
            const std::size_t k = count - 1;
            s = {fq - f[k], 2 * (q - v[k])};
            // The top parabola goes only when the new one is lower
            // everywhere it was lowest: where three meet at one point, the
            // middle one stays, lowest on that point alone, for its tie.
            if (k > 0 && Wide(s.num) * z[k].den < Wide(z[k].num) * s.den) {
                --count;
                continue;
            }
            break;
        }
        if (count == 0)
            s = {};
        v[count] = q;
        f[count] = fq;
        src[count] = source;
        z[count] = s;
        ++count;
    }
};

template <typename Key>
bool closerOrFirst(std::int64_t da, std::uint32_t a, std::int64_t db, std::uint32_t b,
                   const Key &tieKey)
{
    if (da != db)
        return da < db;
    return tieKey(a) <= tieKey(b);
}

template <typename Wide, typename Key>
void transformWith(std::uint32_t *cells, int rows, int columns, const Key &tieKey)
{
    const auto C = std::size_t(columns);
    assert(std::uint64_t(rows) * C < noSource);
    // Down the columns, row by row so that memory is read in order: first
    // each cell's nearest source above it in its column, then the nearer of
    // that and the nearest below.
    for (std::size_t i = C; i < std::size_t(rows) * C; ++i)
        if (cells[i] != i)
            cells[i] = cells[i - C];
    std::vector<std::uint32_t> below(C, noSource);
    for (int r = rows - 1; r >= 0; --r) {
        std::uint32_t *line = cells + std::size_t(r) * C;
        const std::uint32_t first = std::uint32_t(std::size_t(r) * C);
        for (std::size_t c = 0; c < C; ++c) {
            const std::uint32_t here = first + std::uint32_t(c);
            const std::uint32_t above = line[c];
            if (above == here) {
                below[c] = here;
                continue;
            }
            const std::uint32_t under = below[c];
            if (under == noSource)
                continue;
            if (above == noSource || !closerOrFirst(r - std::int64_t(above / C), above,
                                                    std::int64_t(under / C) - r, under, tieKey))
                line[c] = under;
        }
    }
    // Along each row, the lowest of the parabolas (x - c)^2 + h_c.
    RowEnvelope<Wide> envelope(columns);
    for (int r = 0; r < rows; ++r) {
        std::uint32_t *line = cells + std::size_t(r) * C;
        envelope.count = 0;
        for (std::size_t c = 0; c < C; ++c) {
            if (line[c] == noSource)
                continue;
            const std::int64_t d = r - std::int64_t(line[c] / C);
            const auto q = std::int64_t(c);
            envelope.add(q, d * d + q * q, line[c]);
        }
        if (envelope.count == 0)
            continue;
        std::size_t k = 0;
        const auto first = std::uint32_t(std::size_t(r) * C);
        for (std::int64_t x = 0; x < std::int64_t(C); ++x) {
            // A source is its own nearest, at distance 0, which no other
            // source shares.
            if (line[x] == first + std::uint32_t(x))
                continue;
            while (k + 1 < envelope.count && envelope.z[k + 1].below(x))
                ++k;
            std::uint32_t best = envelope.src[k];
            for (std::size_t j = k + 1; j < envelope.count && envelope.z[j].at(x); ++j)
                if (tieKey(envelope.src[j]) < tieKey(best))
                    best = envelope.src[j];
            line[x] = best;
        }
    }
}

template <typename Key>
void transformBy(std::uint32_t *cells, int rows, int columns, const Key &tieKey)
{
    if (rows < 1 || columns < 1)
        return;
    if (std::max(rows, columns) <= (1 << 20))
        transformWith<std::int64_t>(cells, rows, columns, tieKey);
    else
        transformWith<__int128>(cells, rows, columns, tieKey);
}

} // namespace

void transform(std::uint32_t *cells, int rows, int columns, const TieKey &tieKey)
{
    transformBy(cells, rows, columns, tieKey);
}

void transform(std::uint32_t *cells, int rows, int columns)
{
    transformBy(cells, rows, columns, [](std::uint32_t cell) { return std::uint64_t(cell); });
}

void scaledDistances(const std::uint32_t *nearest, int rows, int columns, double *out)
{
    // The squared distances first, whole numbers held exactly: the row of
    // a source's index is found by a product with the reciprocal of the
    // columns, exact for every index (the half keeps it off the row's
    // bounds by far more than its rounding), where a division a cell would
    // cost more than the transform.
    const auto width = std::size_t(columns);
    const double perRow = 1.0 / double(columns);
    double farthest = 0.0;
    for (std::size_t r = 0; r < std::size_t(rows); ++r) {
        const std::uint32_t *from = nearest + r * width;
        double *to = out + r * width;
        for (std::size_t c = 0; c < width; ++c) {
            const auto source = std::int64_t(from[c]);
            const auto sourceRow = std::int64_t((double(source) + 0.5) * perRow);
            const auto dr = double(std::int64_t(r) - sourceRow);
            const auto dc = double(std::int64_t(c) - (source - sourceRow * columns));
            to[c] = dr * dr + dc * dc;
            farthest = std::max(farthest, to[c]);
        }
    }
    farthest = std::sqrt(farthest);
    if (farthest > 0.0)
        for (std::size_t i = 0; i < std::size_t(rows) * width; ++i)
            out[i] = std::sqrt(out[i]) / farthest;
}

} // namespace nearestsource
