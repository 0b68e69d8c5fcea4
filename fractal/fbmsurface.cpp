// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fbmsurface.h"

#include "fractal/covercut.h"
#include "fractal/surfacedraws.h"

#include <QtGlobal>

#include <algorithm>
#include <exception>

namespace {

// The draws of the classic construction: five values of one running 15-bit
// sequence per point, seeded with the seed's bits unchanged, as srand takes
// them.
class ClassicDraws {
public:
    explicit ClassicDraws(int seed)
        : m_random(static_cast<std::uint32_t>(seed))
    {}

    double gaussian()
    {
        double sum = 0.0;
        for (int i = 0; i < FbmSurface::drawsPerGaussian; ++i)
            sum += m_random.next();
        return sum * FbmSurface::gaussianFactor - FbmSurface::gaussianOffset;
    }

private:
    Rand15 m_random;
};

// The draws of a Philox surface: the n-th point drawn takes the five 15-bit
// values of counter n. Their sum is exact in a double, so it enters the
// same arithmetic as the classic sum does.
class PhiloxDraws {
public:
    explicit PhiloxDraws(int seed)
        : m_key(philox::key(static_cast<std::uint32_t>(seed), philox::fractalSurfaceDomain))
    {}

    double gaussian()
    {
        const double sum = philox::surfaceDrawSum(m_key, m_next++);
        return sum * FbmSurface::gaussianFactor - FbmSurface::gaussianOffset;
    }

private:
    philox::Key m_key;
    std::uint64_t m_next = 0;
};

// The draw comes first so that every point consumes its draw whatever its
// neighbours hold.
template <typename Draws> inline int displace3(Draws &draws, double delta, int a, int b, int c)
{
    const double g = draws.gaussian();
    const int mean = (a + b + c) / 3;
    return static_cast<int>(delta * g + mean);
}

template <typename Draws>
inline int displace4(Draws &draws, double delta, int a, int b, int c, int d)
{
    const double g = draws.gaussian();
    const int mean = (a + b + c + d) / 4;
    return static_cast<int>(delta * g + mean);
}

} // namespace

template <typename Draws> void FbmSurface::build(double H, int maxLevel, Draws &draws)
{
    const int N = side;
    double delta = 10000.0;

    // The corners are the only points that keep their fractional part.
    at(0, 0) = delta * draws.gaussian();
    at(0, N) = delta * draws.gaussian();
    at(N, 0) = delta * draws.gaussian();
    at(N, N) = delta * draws.gaussian();

    int D = N;
    int d = N / 2;
    for (int stage = 1; stage <= maxLevel; ++stage) {
        delta *= std::pow(0.5, 0.5 * H);
        for (int x = d; x <= N - d; x += D)
            for (int y = d; y <= N - d; y += D)
                at(x, y) = displace4(draws, delta, whole(x + d, y + d), whole(x + d, y - d),
                                     whole(x - d, y + d), whole(x - d, y - d));

        delta *= std::pow(0.5, 0.5 * H);
        for (int x = d; x <= N - d; x += D) {
            at(x, 0) = displace3(draws, delta, whole(x + d, 0), whole(x - d, 0), whole(x, d));
            at(x, N) = displace3(draws, delta, whole(x + d, N), whole(x - d, N), whole(x, N - d));
            at(0, x) = displace3(draws, delta, whole(0, x + d), whole(0, x - d), whole(d, x));
            at(N, x) = displace3(draws, delta, whole(N, x + d), whole(N, x - d), whole(N - d, x));
        }
        for (int x = d; x <= N - d; x += D)
            for (int y = D; y <= N - D; y += D)
                at(x, y) = displace4(draws, delta, whole(x, y + d), whole(x, y - d),
                                     whole(x + d, y), whole(x - d, y));
        for (int x = D; x <= N - D; x += D)
            for (int y = d; y <= N - d; y += D)
                at(x, y) = displace4(draws, delta, whole(x, y + d), whole(x, y - d),
                                     whole(x + d, y), whole(x - d, y));

        D /= 2;
        d /= 2;
    }
}

FbmSurface::Status FbmSurface::generate(double H, int size, int maxLevel, int seed,
                                        Generator generator)
{
    Q_ASSERT(maxLevel >= 0 && maxLevel <= 30);
    Q_ASSERT(size >= 0);

    int N = 1;
    for (int level = 0; level < maxLevel; ++level)
        N *= 2;
    if (size > N)
        return Status::SizeTooLarge;

    mapSize = size;
    side = N;

    const std::size_t pointCount = std::size_t(N + 1) * std::size_t(N + 1);
    try {
        // Growing the lattice would briefly hold the old block and the new
        // one together; releasing first keeps the peak at one lattice.
        if (values.capacity() < pointCount) {
            std::vector<double>().swap(values);
            allocated = false;
        }
        // A reused lattice is not cleared: every point is assigned before
        // anything reads it, so what a previous surface left there cannot
        // show through, and clearing 134 MB would cost a quarter of a
        // surface.
        values.resize(pointCount);
    } catch (const std::exception &) {
        // bad_alloc when memory runs out, length_error for a lattice larger
        // than a vector can address.
        std::vector<double>().swap(values);
        allocated = false;
        mapSize = 0;
        return Status::AllocationFailed;
    }
    allocated = true;

    if (generator == Generator::Philox) {
        PhiloxDraws draws(seed);
        build(H, maxLevel, draws);
    } else {
        ClassicDraws draws(seed);
        build(H, maxLevel, draws);
    }

    const int off = (N - size) / 2;
    double minimum = 9999999;
    double maximum = -9999999;
    for (int row = off; row <= off + size; ++row) {
        for (int col = off; col <= off + size; ++col) {
            const double v = at(row, col);
            if (v < minimum)
                minimum = v;
            if (v > maximum)
                maximum = v;
        }
    }
    // Each target lies at or before its source in row-major order and
    // every source is read before anything overwrites it, so the block can
    // be moved to the top-left corner in place.
    for (int row = off; row <= off + size; ++row)
        for (int col = off; col <= off + size; ++col)
            at(row - off, col - off) = (at(row, col) - minimum) / (maximum - minimum);

    return Status::Ok;
}

void FbmSurface::copyBlock(FbmBlock &out) const
{
    out.setSquare(mapSize);
    if (!allocated) {
        out.values.clear();
        return;
    }
    const std::size_t width = std::size_t(mapSize) + 1;
    out.values.resize(width * width);
    for (int row = 0; row <= mapSize; ++row)
        std::copy_n(values.begin() + std::ptrdiff_t(index(row, 0)), width,
                    out.values.begin() + std::ptrdiff_t(std::size_t(row) * width));
}

FileResult FbmSurface::writeCoverMap(const QString &fileName, double threshold, int belowCode,
                                     int aboveCode) const
{
    FbmBlock block;
    copyBlock(block);
    return covercut::writeCoverMap(block, fileName, threshold, belowCode, aboveCode);
}
