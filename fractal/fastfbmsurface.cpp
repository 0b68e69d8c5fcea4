// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fastfbmsurface.h"

#include "core/rng/rand15.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// The draws, the displacements of a row and the rescale are plain loops
// over integers or independent doubles that vector units run several at a
// time; the wider units of current x86 processors, AVX2 and AVX-512, are
// chosen at load time where the toolchain can build every version. Only
// integer arithmetic and element-wise IEEE operations are involved, and the
// file is built without contraction, so every version gives the same bits.
// The thread sanitizer instruments the load-time choice itself, which then
// runs before the sanitizer is ready, so that build does without it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) &&       \
    !defined(__SANITIZE_THREAD__)
#define PW_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define PW_VECTOR_CLONES
#endif

// The generator's state map over n steps, state -> state * mul + add.
struct Affine {
    std::uint32_t mul;
    std::uint32_t add;
    constexpr std::uint32_t operator()(std::uint32_t state) const { return state * mul + add; }
};

constexpr Affine stepsOf(std::uint64_t n)
{
    const std::uint32_t add = Rand15::jump(0u, n);
    return {Rand15::jump(1u, n) - add, add};
}

constexpr int drawsPerGaussian = FbmSurface::drawsPerGaussian;

// Draws made side by side: each lane produces every lanes-th draw of a run,
// so the lanes' states do not wait on one another and the compiler can keep
// them in vector registers.
constexpr int lanes = 16;
constexpr Affine afterOne = stepsOf(1);
constexpr Affine afterTwo = stepsOf(2);
constexpr Affine afterThree = stepsOf(3);
constexpr Affine afterFour = stepsOf(4);
constexpr Affine afterDraw = stepsOf(drawsPerGaussian);
constexpr Affine afterLanes = stepsOf(std::uint64_t(drawsPerGaussian) * lanes);

constexpr std::int32_t uniform(std::uint32_t state)
{
    return std::int32_t((state >> 16) & std::uint32_t(Rand15::maxValue));
}

// The five uniform values of the draw that starts at `state`, added up. The
// plain surface adds them into a double one by one; the sum of five 15-bit
// integers is exact either way.
constexpr std::int32_t drawSum(std::uint32_t state)
{
    return uniform(afterOne(state)) + uniform(afterTwo(state)) + uniform(afterThree(state)) +
           uniform(afterFour(state)) + uniform(afterDraw(state));
}

PW_VECTOR_CLONES void fillSums(std::uint32_t state, int count, std::int32_t *sums)
{
    int done = 0;
    if (count >= 2 * lanes) {
        std::uint32_t lane[lanes];
        lane[0] = state;
        for (int l = 1; l < lanes; ++l)
            lane[l] = afterDraw(lane[l - 1]);
        for (; done + lanes <= count; done += lanes) {
            for (int l = 0; l < lanes; ++l) {
                sums[done + l] = drawSum(lane[l]);
                lane[l] = afterLanes(lane[l]);
            }
        }
        state = lane[0];
    }
    for (; done < count; ++done) {
        sums[done] = drawSum(state);
        state = afterDraw(state);
    }
}

// The sums of `count` consecutive draws of a Philox surface from draw number
// `first` on, one Philox call each.
PW_PHILOX_CLONES void fillPhiloxSums(philox::Key key, std::uint64_t first, int count,
                                     std::int32_t *sums)
{
    for (int i = 0; i < count; ++i)
        sums[i] = philox::surfaceDrawSum(key, first + std::uint64_t(i));
}

// Runs `first` on the calling thread and `second` on a helper when
// `parallel` holds and a thread can be started, else after `first`. The
// two must touch disjoint data apart from what both only read.
template <typename First, typename Second>
void runPair(bool parallel, First &&first, Second &&second)
{
    std::jthread helper;
    if (parallel) {
        try {
            helper = std::jthread(second);
        } catch (const std::system_error &) {
        }
    }
    first();
    if (helper.joinable())
        helper.join();
    else
        second();
}

// The displacement of one point as the plain surface computes it: the draw
// scaled by delta plus the integer mean of the neighbours, truncated toward
// zero. The file is built without contraction, so the product and the sum
// are rounded one after the other there as here.
inline double gaussian(std::int32_t sum)
{
    return double(sum) * FbmSurface::gaussianFactor - FbmSurface::gaussianOffset;
}

inline std::int32_t displace(double delta, std::int32_t sum, std::int32_t mean)
{
    return static_cast<std::int32_t>(delta * gaussian(sum) + mean);
}

// Smallest and largest of n values.
PW_VECTOR_CLONES void extremes(const std::int32_t *values, int n, std::int32_t &lowest,
                               std::int32_t &highest)
{
    std::int32_t lo = lowest;
    std::int32_t hi = highest;
    for (int i = 0; i < n; ++i) {
        lo = std::min(lo, values[i]);
        hi = std::max(hi, values[i]);
    }
    lowest = lo;
    highest = hi;
}

// The rescale of the plain surface, (v - minimum) / (maximum - minimum) for
// every value, division included: a product with the reciprocal would round
// differently.
PW_VECTOR_CLONES void rescale(const std::int32_t *values, int n, double minimum, double range,
                              double *out)
{
    for (int i = 0; i < n; ++i)
        out[i] = (double(values[i]) - minimum) / range;
}

constexpr int roundUpTo(int value, int step)
{
    return (value + step - 1) / step * step;
}

// For indices 0 or more.
constexpr int firstOddMultiple(int from, int d)
{
    const int k = (from + d - 1) / d;
    return (k | 1) * d;
}

} // namespace

// Everything about one subdivision stage that does not change along it.
struct FastFbmSurface::Stage {
    int N = 0;
    // Half step and step of the stage, and the log2 of each.
    int d = 0;
    int D = 0;
    int dShift = 0;
    int DShift = 0;
    // Cells per side of the lattice before the stage.
    int m = 0;
    // Draw numbers of the first square centre, the first edge point and the
    // first point of each interior family.
    std::uint64_t squareBase = 0;
    std::uint64_t edgeBase = 0;
    std::uint64_t family1Base = 0;
    std::uint64_t family2Base = 0;
    double squareDelta = 0.0;
    double edgeDelta = 0.0;
    // The stage's new points are needed in lo..hi; square centres also one
    // half step beyond, as neighbours of the edge midpoints at the border.
    int lo = 0;
    int hi = 0;
    int extLo = 0;
    int extHi = 0;
};

void FastFbmSurface::Grid::shape(int first, int last, int stepShift, std::int32_t *storage)
{
    origin = first;
    shift = stepShift;
    side = ((last - first) >> stepShift) + 1;
    cells = storage;
}

void FastFbmSurface::setThreadCount(int count, qint64 minimumPoints)
{
    m_threads = std::clamp(count, 1, 2);
    m_minimumSplitPoints = minimumPoints;
}

void FastFbmSurface::drawSums(std::uint64_t first, int count, std::int32_t *sums) const
{
    if (m_generator == Generator::Philox)
        fillPhiloxSums(m_philoxKey, first, count, sums);
    else
        fillSums(Rand15::jump(m_seedState, first * drawsPerGaussian), count, sums);
}

FastFbmSurface::Status FastFbmSurface::generate(double H, int size, int maxLevel, int seed,
                                                FbmBlock &block, Generator generator)
{
    Q_ASSERT(maxLevel >= 0 && maxLevel <= maxLevelLimit);
    Q_ASSERT(size >= 0);
    const int N = 1 << maxLevel;
    if (size > N)
        return Status::SizeTooLarge;

    const int off = (N - size) / 2;

    // The ranges needed after each stage, from the block outwards: a new
    // point of half step d reads points at most d away, and square centres
    // d beyond the range read the coarser points 2d beyond it.
    int needLo[maxLevelLimit + 1] = {};
    int needHi[maxLevelLimit + 1] = {};
    needLo[maxLevel] = off;
    needHi[maxLevel] = off + size;
    for (int s = maxLevel; s >= 1; --s) {
        const int d = N >> s;
        needLo[s - 1] = roundUpTo(std::max(0, needLo[s] - 2 * d), 2 * d);
        needHi[s - 1] = std::min(N, (needHi[s] + 2 * d) / (2 * d) * (2 * d));
    }

    // Each stage's points live in the storage of the block they end up in,
    // which is what keeps a 4096 x 4096 batch within one block of memory:
    // the stages alternate between the two halves of the storage, so that a
    // stage never writes over the stage it reads, and the last one lies at
    // the very end, where the block can be rescaled over it row by row (see
    // writeBlock()). A half holds as many points as the block holds values.
    const std::size_t width = std::size_t(size) + 1;
    std::size_t largestGrid = Grid::cellCount(0, N, maxLevel);
    for (int s = 1; s <= maxLevel; ++s) {
        const int d = N >> s;
        largestGrid =
            std::max(largestGrid, Grid::cellCount(std::max(0, needLo[s] - d),
                                                  std::min(N, needHi[s] + d), maxLevel - s));
    }
    const std::size_t half = std::max(width * width, largestGrid);
    static_assert(sizeof(double) == 2 * sizeof(std::int32_t));
    try {
        // The longest run of one kind of draw in a row is one per cell of the
        // lattice before the last stage; the edge draws are four per cell.
        const std::size_t longestRun = std::size_t(4) * std::size_t(std::max(1, N / 2)) + 4;
        for (std::vector<std::int32_t> &sums : m_sums)
            if (sums.size() < longestRun)
                sums.resize(longestRun);
        if (m_edgeSums.size() < longestRun)
            m_edgeSums.resize(longestRun);
        if (m_row.size() < width)
            m_row.resize(width);
        block.values.resize(half);
    } catch (const std::exception &) {
        block.values.clear();
        block.setSquare(0);
        return Status::AllocationFailed;
    }
    std::int32_t *const storage = reinterpret_cast<std::int32_t *>(block.values.data());
    auto place = [&](int stageIndex, std::size_t cells) {
        return (maxLevel - stageIndex) % 2 == 0 ? storage + 2 * half - cells : storage;
    };
    m_fine.shape(0, N, maxLevel, place(0, Grid::cellCount(0, N, maxLevel)));
    block.setSquare(size);

    m_generator = generator;
    // The seed's bits are taken unchanged, as srand takes them.
    m_seedState = static_cast<std::uint32_t>(seed);
    m_philoxKey = philox::key(m_seedState, philox::fractalSurfaceDomain);
    double delta = 10000.0;
    // The first four draws, the only values that keep their fractions.
    std::int32_t cornerSums[4];
    drawSums(0, 4, cornerSums);
    double corners[4];
    for (int k = 0; k < 4; ++k)
        corners[k] = delta * gaussian(cornerSums[k]);
    // Neighbours read the corners by their integer parts, like every point.
    m_fine.row(0)[0] = static_cast<std::int32_t>(corners[0]);
    m_fine.row(0)[m_fine.column(N)] = static_cast<std::int32_t>(corners[1]);
    m_fine.row(N)[0] = static_cast<std::int32_t>(corners[2]);
    m_fine.row(N)[m_fine.column(N)] = static_cast<std::int32_t>(corners[3]);

    // The same multiplier every time, as pow is a function of its argument;
    // delta must still be multiplied step by step, since the rounded
    // products are what the plain surface uses.
    const double factor = std::pow(0.5, 0.5 * H);
    std::uint64_t base = 4;
    for (int s = 1; s <= maxLevel; ++s) {
        Stage stage;
        stage.N = N;
        stage.dShift = maxLevel - s;
        stage.DShift = stage.dShift + 1;
        stage.d = 1 << stage.dShift;
        stage.D = 1 << stage.DShift;
        stage.m = 1 << (s - 1);
        const std::uint64_t m = std::uint64_t(stage.m);
        stage.squareBase = base;
        stage.edgeBase = stage.squareBase + m * m;
        stage.family1Base = stage.edgeBase + 4 * m;
        stage.family2Base = stage.family1Base + m * (m - 1);
        base = stage.family2Base + m * (m - 1);
        delta *= factor;
        stage.squareDelta = delta;
        delta *= factor;
        stage.edgeDelta = delta;
        stage.lo = needLo[s];
        stage.hi = needHi[s];
        stage.extLo = std::max(0, stage.lo - stage.d);
        stage.extHi = std::min(N, stage.hi + stage.d);

        std::swap(m_coarse, m_fine);
        m_fine.shape(stage.extLo, stage.extHi, stage.dShift,
                     place(s, Grid::cellCount(stage.extLo, stage.extHi, stage.dShift)));
        refine(stage);
    }

    writeBlock(N, off, size, corners, block);
    return Status::Ok;
}

void FastFbmSurface::writeBlock(int N, int off, int size, const double corners[4], FbmBlock &block)
{
    // Every point but the corners is a whole number, so the extremes of the
    // block are found among the integers and the corners the block holds.
    const int last = off + size;
    const std::size_t width = std::size_t(size) + 1;
    const bool withCorners = off == 0;
    const bool withFarCorners = size == N;
    // The rows are split in two halves whose extremes are combined after:
    // the smallest and the largest value do not depend on the order.
    const bool parallel = splits(qint64(width) * qint64(width));
    const int middle = off + (size + 1) / 2;
    auto extremesOf = [&](int firstRow, int lastRow, std::int32_t &lowest, std::int32_t &highest) {
        lowest = std::numeric_limits<std::int32_t>::max();
        highest = std::numeric_limits<std::int32_t>::min();
        for (int row = firstRow; row <= lastRow; ++row) {
            int from = off;
            int to = last;
            if (withCorners && row == 0)
                ++from;
            if (withFarCorners && (row == 0 || row == N))
                --to;
            if (withFarCorners && row == N)
                ++from;
            if (from <= to)
                extremes(m_fine.row(row) + m_fine.column(from), to - from + 1, lowest, highest);
        }
    };
    std::int32_t lowest = 0;
    std::int32_t highest = 0;
    std::int32_t lowestAbove = 0;
    std::int32_t highestAbove = 0;
    runPair(
        parallel, [&] { extremesOf(off, middle - 1, lowest, highest); },
        [&] { extremesOf(middle, last, lowestAbove, highestAbove); });
    lowest = std::min(lowest, lowestAbove);
    highest = std::max(highest, highestAbove);
    double minimum = 9999999;
    double maximum = -9999999;
    auto include = [&minimum, &maximum](double v) {
        if (v < minimum)
            minimum = v;
        if (v > maximum)
            maximum = v;
    };
    if (lowest <= highest) {
        include(lowest);
        include(highest);
    }
    if (withCorners)
        include(corners[0]);
    if (withFarCorners) {
        include(corners[1]);
        include(corners[2]);
        include(corners[3]);
    }

    const double range = maximum - minimum;
    // The points lie at the end of the block's storage, row after row, and
    // the values are written from its start, twice as wide: a block row
    // ends before the first point of the next row to read, as long as the
    // points start at least as far in as there are of them, which is how
    // generate() lays them out. Only a row's own points can lie under it,
    // so they are copied out first; and the rows go in order, on one thread.
    for (int row = off; row <= last; ++row) {
        std::memcpy(m_row.data(), m_fine.row(row) + m_fine.column(off),
                    width * sizeof(std::int32_t));
        rescale(m_row.data(), size + 1, minimum, range,
                block.values.data() + std::size_t(row - off) * width);
    }
    // Shrinking keeps the storage for the next surface.
    block.values.resize(width * width);
    if (withCorners)
        block.values[0] = (corners[0] - minimum) / range;
    if (withFarCorners) {
        block.values[width - 1] = (corners[1] - minimum) / range;
        block.values[width * (width - 1)] = (corners[2] - minimum) / range;
        block.values[width * width - 1] = (corners[3] - minimum) / range;
    }
}

void FastFbmSurface::refine(const Stage &stage)
{
    const int d = stage.d;
    const int D = stage.D;
    if (stage.lo == 0 || stage.hi == stage.N) {
        // The edge draws come four per x, all four kinds in a row; the ones
        // of the x range needed are drawn in one run.
        const int first = stage.lo <= d ? 0 : roundUpTo(stage.lo - d, D) / D;
        const int last = std::min(stage.m - 1, (stage.hi - d) / D);
        m_edgeFirst = first;
        if (last >= first) {
            const int count = 4 * (last - first + 1);
            drawSums(stage.edgeBase + 4 * std::uint64_t(first), count, m_edgeSums.data());
        }
    }

    // Two threads take the rows below and above an even row near the
    // middle; that row needs odd rows of both, so it comes after both.
    const qint64 rows = ((stage.extHi - stage.extLo) >> stage.dShift) + 1;
    int split = (stage.extLo + stage.extHi) / 2 / D * D;
    if (split <= stage.extLo)
        split += D;
    if (!splits(rows * rows) || split >= stage.extHi) {
        refineRows(stage, stage.extLo, stage.extHi, m_sums[0].data());
        return;
    }
    runPair(
        true, [&] { refineRows(stage, stage.extLo, split - d, m_sums[0].data()); },
        [&] { refineRows(stage, split + d, stage.extHi, m_sums[1].data()); });
    evenRow(stage, split, m_sums[0].data());
}

void FastFbmSurface::refineRows(const Stage &stage, int from, int to, std::int32_t *sums)
{
    // A row of the stage's odd rows needs only the coarser lattice; a row on
    // the coarser rows needs the odd rows on either side. Taking each odd
    // row and then the row above it keeps the work in cache.
    const int d = stage.d;
    const int D = stage.D;
    for (int x = from; x <= to; x += d) {
        if ((x & (D - 1)) != 0) {
            oddRow(stage, x, sums);
            if (x - d >= from)
                evenRow(stage, x - d, sums);
        }
    }
    if ((to & (D - 1)) == 0)
        evenRow(stage, to, sums);
}

PW_VECTOR_CLONES void FastFbmSurface::oddRow(const Stage &stage, int x, std::int32_t *sums)
{
    const int d = stage.d;
    const std::uint64_t m = std::uint64_t(stage.m);
    const int i = (x - d) >> stage.DShift;
    const std::int32_t *up = m_coarse.row(x - d);
    const std::int32_t *down = m_coarse.row(x + d);
    std::int32_t *out = m_fine.row(x);

    // Square centres, across the whole extended range.
    const int centreFirst = firstOddMultiple(stage.extLo, d);
    if (centreFirst <= stage.extHi) {
        const int count = ((stage.extHi - centreFirst) >> stage.DShift) + 1;
        const int j = (centreFirst - d) >> stage.DShift;
        drawSums(stage.squareBase + i * m + std::uint64_t(j), count, sums);
        int cc = m_coarse.column(centreFirst - d);
        int fc = m_fine.column(centreFirst);
        for (int k = 0; k < count; ++k, ++cc, fc += 2)
            out[fc] = displace(stage.squareDelta, sums[k],
                               (down[cc + 1] + down[cc] + up[cc + 1] + up[cc]) / 4);
    }
    if (x < stage.lo || x > stage.hi)
        return;

    // Interior edge midpoints between two coarser points of the row above
    // and below, at the interior columns of the coarser lattice.
    const int jFirst = std::max(1, (stage.lo + stage.D - 1) >> stage.DShift);
    const int jLast = std::min(stage.m - 1, stage.hi >> stage.DShift);
    if (jLast >= jFirst) {
        const int count = jLast - jFirst + 1;
        drawSums(stage.family1Base + i * (m - 1) + std::uint64_t(jFirst - 1), count, sums);
        int cc = m_coarse.column(jFirst << stage.DShift);
        int fc = m_fine.column(jFirst << stage.DShift);
        for (int k = 0; k < count; ++k, ++cc, fc += 2)
            out[fc] = displace(stage.edgeDelta, sums[k],
                               (out[fc + 1] + out[fc - 1] + down[cc] + up[cc]) / 4);
    }

    // The lattice's left and right edges have only three neighbours; their
    // draws are the first and second of the four of this x.
    const std::size_t edge = 4 * std::size_t(i - m_edgeFirst);
    if (stage.lo == 0) {
        const int cc = m_coarse.column(0);
        out[m_fine.column(0)] = displace(stage.edgeDelta, m_edgeSums[edge],
                                         (down[cc] + up[cc] + out[m_fine.column(d)]) / 3);
    }
    if (stage.hi == stage.N) {
        const int cc = m_coarse.column(stage.N);
        out[m_fine.column(stage.N)] =
            displace(stage.edgeDelta, m_edgeSums[edge + 1],
                     (down[cc] + up[cc] + out[m_fine.column(stage.N - d)]) / 3);
    }
}

PW_VECTOR_CLONES void FastFbmSurface::evenRow(const Stage &stage, int x, std::int32_t *sums)
{
    const int d = stage.d;
    const std::int32_t *same = m_coarse.row(x);
    std::int32_t *out = m_fine.row(x);

    // The coarser points stay where they are.
    const int keptFirst = roundUpTo(stage.extLo, stage.D);
    {
        int cc = m_coarse.column(keptFirst);
        int fc = m_fine.column(keptFirst);
        for (int y = keptFirst; y <= stage.extHi; y += stage.D, ++cc, fc += 2)
            out[fc] = same[cc];
    }
    if (x < stage.lo || x > stage.hi)
        return;

    const int newFirst = firstOddMultiple(stage.lo, d);
    if (newFirst > stage.hi)
        return;
    const int count = ((stage.hi - newFirst) >> stage.DShift) + 1;
    const int j = (newFirst - d) >> stage.DShift;
    int cc = m_coarse.column(newFirst - d);
    int fc = m_fine.column(newFirst);
    if (x == 0 || x == stage.N) {
        // The top and bottom edges, drawn third and fourth of each x.
        const std::int32_t *inner = m_fine.row(x == 0 ? d : stage.N - d);
        const std::int32_t *edge =
            m_edgeSums.data() + 4 * std::ptrdiff_t(j - m_edgeFirst) + (x == 0 ? 2 : 3);
        for (int k = 0; k < count; ++k, ++cc, fc += 2, edge += 4)
            out[fc] = displace(stage.edgeDelta, *edge, (same[cc + 1] + same[cc] + inner[fc]) / 3);
        return;
    }

    // Interior edge midpoints between two coarser points of this row.
    const std::uint64_t m = std::uint64_t(stage.m);
    const std::uint64_t i = std::uint64_t(x >> stage.DShift);
    const std::int32_t *above = m_fine.row(x - d);
    const std::int32_t *below = m_fine.row(x + d);
    drawSums(stage.family2Base + (i - 1) * m + std::uint64_t(j), count, sums);
    for (int k = 0; k < count; ++k, ++cc, fc += 2)
        out[fc] = displace(stage.edgeDelta, sums[k],
                           (same[cc + 1] + same[cc] + below[fc] + above[fc]) / 4);
}
