#include "fractal/fbmsurface.h"

#include "fractal/fractalmapgenerator.h"

#include <QtGlobal>

#include <algorithm>
#include <exception>

void FbmSurface::initGaussian(int seed)
{
    // The seed's bits are taken unchanged, as srand takes them.
    random.seed(static_cast<std::uint32_t>(seed));
}

inline double FbmSurface::gaussian()
{
    double sum = 0.0;
    for (int i = 0; i < drawsPerGaussian; ++i)
        sum += random.next();
    return sum * gaussianFactor - gaussianOffset;
}

inline int FbmSurface::displace3(double delta, int a, int b, int c)
{
    // The draw comes first so that every point consumes its draw whatever
    // its neighbours hold.
    const double g = gaussian();
    const int mean = (a + b + c) / 3;
    return static_cast<int>(delta * g + mean);
}

inline int FbmSurface::displace4(double delta, int a, int b, int c, int d)
{
    const double g = gaussian();
    const int mean = (a + b + c + d) / 4;
    return static_cast<int>(delta * g + mean);
}

FbmSurface::Status FbmSurface::generate(double H, int size, int maxLevel, int seed)
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

    double delta = 10000.0;
    initGaussian(seed);

    // The corners are the only points that keep their fractional part.
    at(0, 0) = delta * gaussian();
    at(0, N) = delta * gaussian();
    at(N, 0) = delta * gaussian();
    at(N, N) = delta * gaussian();

    int D = N;
    int d = N / 2;
    for (int stage = 1; stage <= maxLevel; ++stage) {
        delta *= std::pow(0.5, 0.5 * H);
        for (int x = d; x <= N - d; x += D)
            for (int y = d; y <= N - d; y += D)
                at(x, y) = displace4(delta, whole(x + d, y + d), whole(x + d, y - d),
                                     whole(x - d, y + d), whole(x - d, y - d));

        delta *= std::pow(0.5, 0.5 * H);
        for (int x = d; x <= N - d; x += D) {
            at(x, 0) = displace3(delta, whole(x + d, 0), whole(x - d, 0), whole(x, d));
            at(x, N) = displace3(delta, whole(x + d, N), whole(x - d, N), whole(x, N - d));
            at(0, x) = displace3(delta, whole(0, x + d), whole(0, x - d), whole(d, x));
            at(N, x) = displace3(delta, whole(N, x + d), whole(N, x - d), whole(N - d, x));
        }
        for (int x = d; x <= N - d; x += D)
            for (int y = D; y <= N - D; y += D)
                at(x, y) = displace4(delta, whole(x, y + d), whole(x, y - d), whole(x + d, y),
                                     whole(x - d, y));
        for (int x = D; x <= N - D; x += D)
            for (int y = d; y <= N - d; y += D)
                at(x, y) = displace4(delta, whole(x, y + d), whole(x, y - d), whole(x + d, y),
                                     whole(x - d, y));

        D /= 2;
        d /= 2;
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
    out.size = mapSize;
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
    return FractalMapGenerator::writeCoverMap(block, fileName, threshold, belowCode, aboveCode);
}
