// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/classcut.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Proportions are held as whole numbers of 10^-24 percent: every decimal a
// double gives back for a percent of 10^-7 or more is exact at that scale,
// and a count of up to 2^40 cells times a share of up to 128 % still fits
// in 128 bits.
using Wide = unsigned __int128;
constexpr int places = 24;
constexpr double largestProportion = 128.0;

constexpr Wide powerOfTen(int exponent)
{
    Wide power = 1;
    for (int i = 0; i < exponent; ++i)
        power *= 10;
    return power;
}

constexpr Wide wholePercent = powerOfTen(places);
constexpr Wide hundredPercent = 100 * wholePercent;
constexpr Wide sumSlack = powerOfTen(places - 9);

// The shortest decimal that reads back as `proportion`, in units of
// 10^-24 percent, rounded half up beyond that. Proportions outside 0 to 128
// are no one's; they are clamped so that nothing overflows.
Wide decimalOf(double proportion)
{
    proportion = std::clamp(proportion, 0.0, largestProportion);
    if (!(proportion > 0.0))
        return 0;
    char text[40];
    const auto written =
        std::to_chars(text, text + sizeof text, proportion, std::chars_format::scientific);
    std::uint64_t digits = 0;
    int digitCount = 0;
    const char *at = text;
    for (; at != written.ptr && *at != 'e'; ++at) {
        if (*at == '.')
            continue;
        digits = digits * 10 + std::uint64_t(*at - '0');
        ++digitCount;
    }
    int exponent = 0;
    std::from_chars(at + 1 + (at[1] == '+'), written.ptr, exponent);
    // proportion = digits * 10^(exponent - digitCount + 1)
    const int shift = exponent - digitCount + 1 + places;
    if (shift >= 0)
        return Wide(digits) * powerOfTen(shift);
    if (shift < -20)
        return 0;
    const Wide divisor = powerOfTen(-shift);
    return (Wide(digits) + divisor / 2) / divisor;
}

// A decimal in units of 10^-24 as text, without trailing zeros.
QString decimalText(Wide value)
{
    QString whole;
    Wide integer = value / wholePercent;
    do {
        whole.prepend(QChar(u'0' + int(integer % 10)));
        integer /= 10;
    } while (integer != 0);
    Wide fraction = value % wholePercent;
    if (fraction == 0)
        return whole;
    QString decimals(places, u'0');
    for (int i = places - 1; i >= 0; --i, fraction /= 10)
        decimals[i] = QChar(u'0' + int(fraction % 10));
    while (decimals.endsWith(u'0'))
        decimals.chop(1);
    return whole + u'.' + decimals;
}

// Below this many valid cells ordering every value is as quick as
// bracketing, and a sample too small to bracket anything.
constexpr qint64 bracketFrom = 4096;
constexpr qint64 mostSampled = 65536;

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

} // namespace

std::optional<QString> proportionsRefusal(std::span<const double> proportions)
{
    const auto classes = qsizetype(proportions.size());
    if (classes < fewestClasses)
        return QStringLiteral("A map needs at least %1 classes, and %2 proportion%3 given.")
            .arg(fewestClasses)
            .arg(classes)
            .arg(classes == 1 ? QStringLiteral(" was") : QStringLiteral("s were"));
    if (classes > mostClasses)
        return QStringLiteral("A map has at most %1 classes, and %2 proportions were given.")
            .arg(mostClasses)
            .arg(classes);
    Wide sum = 0;
    for (qsizetype i = 0; i < classes; ++i) {
        const double p = proportions[std::size_t(i)];
        if (!std::isfinite(p))
            return QStringLiteral("The proportion of class %1 is %2, not a number of percent.")
                .arg(i + 1)
                .arg(p);
        if (p < 0.0)
            return QStringLiteral("The proportion of class %1 is %2, below zero.")
                .arg(i + 1)
                .arg(p);
        if (p > largestProportion)
            return QStringLiteral("The proportion of class %1 is %2, above 100.").arg(i + 1).arg(p);
        sum += decimalOf(p);
    }
    const Wide off = sum > hundredPercent ? sum - hundredPercent : hundredPercent - sum;
    if (off > sumSlack)
        return QStringLiteral("The proportions add up to %1, not 100.").arg(decimalText(sum));
    return std::nullopt;
}

std::vector<qint64> classCounts(std::span<const double> proportions, qint64 validCells)
{
    Q_ASSERT(!proportionsRefusal(proportions));
    Q_ASSERT(validCells >= 0 && validCells <= (qint64(1) << 40));
    const std::size_t classes = proportions.size();
    std::vector<qint64> counts(classes);
    std::vector<Wide> remainders(classes);
    qint64 left = validCells;
    for (std::size_t i = 0; i < classes; ++i) {
        const Wide share = decimalOf(proportions[i]) * Wide(validCells);
        counts[i] = qint64(share / hundredPercent);
        remainders[i] = share % hundredPercent;
        left -= counts[i];
    }
    // The largest fractions first; of equal ones, the later class.
    std::vector<std::size_t> order(classes);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&remainders](std::size_t a, std::size_t b) {
        return remainders[a] != remainders[b] ? remainders[a] > remainders[b] : a > b;
    });
    for (std::size_t i = 0; left > 0; i = (i + 1) % classes, --left)
        ++counts[order[i]];
    // Proportions that add up to a little over 100 can round up to more
    // cells than there are once the count nears 2^40; the smallest fractions
    // give theirs back first.
    for (std::size_t i = classes; left < 0; i = (i + classes - 1) % classes) {
        if (counts[order[(i + classes - 1) % classes]] > 0) {
            --counts[order[(i + classes - 1) % classes]];
            ++left;
        }
    }
    return counts;
}

ClassCutter::ClassCutter(const double *values, int rows, int columns, qsizetype stride,
                         const std::uint8_t *mask)
    : m_values(values)
    , m_rows(rows)
    , m_columns(columns)
    , m_stride(stride)
    , m_mask(mask)
{
    const qint64 cells = qint64(rows) * columns;
    m_valid = mask ? cells - std::count(mask, mask + cells, std::uint8_t(0)) : cells;
}

template <typename Visit> void ClassCutter::forEachRow(Visit visit) const
{
    for (int row = 0; row < m_rows; ++row)
        visit(m_values + row * m_stride, m_mask ? m_mask + qsizetype(row) * m_columns : nullptr);
}

ClassCut ClassCutter::cut(std::span<const qint64> counts)
{
    Q_ASSERT(counts.size() >= 1 && counts.size() <= std::size_t(mostClasses));
    Q_ASSERT(std::accumulate(counts.begin(), counts.end(), qint64(0)) == m_valid);
    const std::size_t boundaries = counts.size() - 1;
    // The cells above each boundary: those of every class after it.
    std::vector<qint64> taken(boundaries);
    qint64 above = 0;
    for (std::size_t j = boundaries; j-- > 0;) {
        above += counts[j + 1];
        taken[j] = std::min(above, m_valid);
    }
    ClassCut cut;
    cut.thresholds.assign(boundaries, infinity);
    cut.tiesAbove.assign(boundaries, 0);
    if (!(m_valid >= bracketFrom && bracketedCut(taken, cut)))
        wholeCut(taken, cut);
    return cut;
}

void ClassCutter::takeSample()
{
    // Evenly spaced in row-major order: a sixteenth of the cells, at most
    // 65536, enough to bracket a threshold within about a hundredth of the
    // values. The step is odd so that the sample visits every column: an
    // even one meets the same few columns in every row, which on a surface
    // made by halving its lattice are the points of its coarsest levels.
    // NaN is left out of the values but counted as sampled.
    const qint64 cells = qint64(m_rows) * m_columns;
    const qint64 step = (cells / std::min(cells / 16, mostSampled)) | 1;
    m_sample.clear();
    m_sampledCells = 0;
    for (qint64 at = 0; at < cells; at += step) {
        if (m_mask && !m_mask[at])
            continue;
        ++m_sampledCells;
        const double value = m_values[(at / m_columns) * m_stride + at % m_columns];
        if (!std::isnan(value))
            m_sample.push_back(value);
    }
    std::sort(m_sample.begin(), m_sample.end());
}

namespace {

// The widest set of brackets or thresholds compared one by one with every
// value; beyond it a binary search over them is quicker.
constexpr int mostCompared = 8;
// Room for the binary search: every boundary of 64 classes and a pad.
constexpr int searchWidth = 64;

// How many of the first `count` of `edges` (ascending, padded with NaN up to
// Width) are below `value`, or at most it when OrEqual.
template <int Width, bool OrEqual> inline int countBelow(const double *edges, double value)
{
    if constexpr (Width <= mostCompared) {
        int below = 0;
        for (int i = 0; i < Width; ++i)
            below += OrEqual ? edges[i] <= value : edges[i] < value;
        return below;
    } else {
        // Branch-free: the NaN pad compares false, like a value above all.
        int below = 0;
        for (int step = Width / 2; step >= 1; step /= 2) {
            const double edge = edges[below + step - 1];
            below += (OrEqual ? edge <= value : edge < value) ? step : 0;
        }
        return below;
    }
}

// The smallest width of the compiled gather and row passes that holds
// `count` edges.
int compareWidth(std::size_t count)
{
    for (const int width : {1, 2, 4, mostCompared})
        if (count <= std::size_t(width))
            return width;
    return searchWidth;
}

// A bin's mark where its values must be compared one by one: an edge lies in
// it, or it is NaN's. It is neither a class nor outsideClass, and in the
// gather's regions above any count of brackets with inBracket set.
constexpr std::uint8_t binToCompare = 0xfe;
constexpr std::uint8_t inBracket = 0x80;

// Which of the 16 bytes from `bytes` have their high bit set, one bit each.
inline unsigned highBits(const std::uint8_t *bytes)
{
#if defined(__SSE2__)
    return unsigned(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes))));
#else
    unsigned bits = 0;
    for (unsigned i = 0; i < 16; ++i)
        bits |= unsigned(bytes[i] >> 7) << i;
    return bits;
#endif
}

} // namespace

bool ValueBins::spread(std::span<const double> edges)
{
    double lowest = infinity;
    double highest = -infinity;
    for (const double edge : edges) {
        if (std::isfinite(edge)) {
            lowest = std::min(lowest, edge);
            highest = std::max(highest, edge);
        }
    }
    const double span = highest - lowest;
    if (!(span > 0.0 && std::isfinite(span)))
        return false;
    // The edges fall in bins 2 to count - 3 give or take the rounding, so
    // that the values beyond them fill bins of their own.
    m_scale = double(count - 5) / span;
    m_low = lowest - 2.5 / m_scale;
    return std::isfinite(m_scale) && std::isfinite(m_low);
}

void ValueBins::lookUp(const double *line, std::size_t columns, const std::uint8_t *table,
                       std::uint8_t *out) const
{
    static_assert(count <= 65536, "a bin is read from 16 bits");
    std::size_t c = 0;
#if defined(__SSE2__)
    // The steps of binOf(), two values at a time: MAXPD gives its second
    // operand when the first is NaN, as the comparison there does, and the
    // NaN lanes are then cleared to bin 0. The conversion only ever sees
    // values from 1 to the highest bin.
    const __m128d low = _mm_set1_pd(m_low);
    const __m128d scale = _mm_set1_pd(m_scale);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d highest = _mm_set1_pd(highestBin);
    auto two = [&](const double *at) {
        const __m128d v = _mm_loadu_pd(at);
        const __m128d x =
            _mm_min_pd(_mm_max_pd(_mm_mul_pd(_mm_sub_pd(v, low), scale), one), highest);
        return _mm_cvttpd_epi32(_mm_and_pd(x, _mm_cmpord_pd(v, v)));
    };
    for (; c + 4 <= columns; c += 4) {
        const __m128i bins = _mm_unpacklo_epi64(two(line + c), two(line + c + 2));
        out[c] = table[_mm_extract_epi16(bins, 0)];
        out[c + 1] = table[_mm_extract_epi16(bins, 2)];
        out[c + 2] = table[_mm_extract_epi16(bins, 4)];
        out[c + 3] = table[_mm_extract_epi16(bins, 6)];
    }
#endif
    for (; c < columns; ++c)
        out[c] = table[binOf(line[c])];
}

template <bool Masked>
qint64 ClassCutter::gatherBinned(std::span<Bracket *const> brackets, const ValueBins &bins)
{
    // A value is above the high ends of the brackets up to the count in its
    // bin and at or above their low ends up to the count in upTo, and so
    // inside the brackets between; a bin inside any has inBracket set. No
    // value is above a high end of +infinity, and every number is at or
    // above a low end of -infinity; any other infinite end marks the end bin
    // of the values equal to it, which are compared.
    const std::size_t count = brackets.size();
    std::array<double, searchWidth> lows;
    std::array<double, searchWidth> highs;
    lows.fill(notANumber);
    highs.fill(notANumber);
    std::vector<std::uint8_t> region(std::size_t(ValueBins::count));
    std::vector<std::uint8_t> upTo(std::size_t(ValueBins::count));
    {
        std::vector<std::uint8_t> highsIn(std::size_t(ValueBins::count), 0);
        std::vector<std::uint8_t> lowsIn(std::size_t(ValueBins::count), 0);
        for (std::size_t b = 0; b < count; ++b) {
            lows[b] = brackets[b]->low;
            highs[b] = brackets[b]->high;
            if (highs[b] != infinity)
                ++highsIn[std::size_t(bins.binOf(highs[b]))];
            ++lowsIn[lows[b] == -infinity ? 0 : std::size_t(bins.binOf(lows[b]))];
        }
        int over = 0;
        int atLeast = 0;
        for (std::size_t bin = 0; bin < region.size(); ++bin) {
            region[bin] = bin == 0 || highsIn[bin] != 0 || lowsIn[bin] != 0
                              ? binToCompare
                              : std::uint8_t(over | (atLeast > over ? inBracket : 0));
            upTo[bin] = std::uint8_t(atLeast);
            over += highsIn[bin];
            atLeast += lowsIn[bin];
        }
    }
    const auto columns = std::size_t(m_columns);
    const std::size_t chunks = (columns + 15) / 16;
    // A row's cells as their counts of high ends below, padded with zeros to
    // whole chunks of 16.
    std::vector<std::uint8_t> regions(chunks * 16, 0);
    std::array<qint64, mostClasses> above{};
    qint64 nans = 0;
    for (int row = 0; row < m_rows; ++row) {
        const double *line = m_values + row * m_stride;
        const std::uint8_t *mask = Masked ? m_mask + qsizetype(row) * m_columns : nullptr;
        for (Bracket *b : brackets)
            if (b->store.size() < std::size_t(b->count) + columns)
                b->store.resize(std::max(b->store.size() * 2, std::size_t(b->count) + columns));
        bins.lookUp(line, columns, region.data(), regions.data());
        if constexpr (Masked)
            for (std::size_t c = 0; c < columns; ++c)
                regions[c] = mask[c] ? regions[c] : 0;
        // The cells inside a bracket or to compare, a few in a hundred but
        // for many classes, are found 16 at a time.
        for (std::size_t start = 0; start < regions.size(); start += 16) {
            for (unsigned marked = highBits(regions.data() + start); marked != 0;
                 marked &= marked - 1) {
                const std::size_t c = start + std::size_t(std::countr_zero(marked));
                const double v = line[c];
                int first = regions[c] & ~inBracket;
                int last = 0;
                if (regions[c] != binToCompare) {
                    last = upTo[std::size_t(bins.binOf(v))];
                } else {
                    if (v != v) {
                        ++nans;
                        regions[c] = 0;
                        continue;
                    }
                    first = countBelow<searchWidth, false>(highs.data(), v);
                    last = countBelow<searchWidth, true>(lows.data(), v);
                }
                regions[c] = std::uint8_t(first);
                for (int b = first; b < last; ++b) {
                    Bracket &bracket = *brackets[std::size_t(b)];
                    bracket.store[std::size_t(bracket.count++)] = v;
                }
            }
        }
        // A cell is above the high ends of as many brackets as it counts.
#if defined(__SSE2__)
        // Sixteen cells at a time, in byte lanes that are added up before
        // they could overflow.
        for (std::size_t first = 0; first < chunks; first += 255) {
            const std::size_t last = std::min(chunks, first + 255);
            __m128i lanes[mostClasses];
            for (std::size_t b = 0; b < count; ++b)
                lanes[b] = _mm_setzero_si128();
            for (std::size_t chunk = first; chunk < last; ++chunk) {
                const __m128i over =
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(regions.data() + 16 * chunk));
                for (std::size_t b = 0; b < count; ++b)
                    lanes[b] = _mm_sub_epi8(lanes[b], _mm_cmpgt_epi8(over, _mm_set1_epi8(char(b))));
            }
            for (std::size_t b = 0; b < count; ++b) {
                alignas(16) std::int64_t sums[2];
                _mm_store_si128(reinterpret_cast<__m128i *>(sums),
                                _mm_sad_epu8(lanes[b], _mm_setzero_si128()));
                above[b] += sums[0] + sums[1];
            }
        }
#else
        for (std::size_t c = 0; c < columns; ++c)
            for (std::size_t b = 0; b < regions[c]; ++b)
                ++above[b];
#endif
    }
    for (std::size_t b = 0; b < count; ++b)
        brackets[b]->above = above[b];
    return nans;
}

template <int Width, bool Masked> qint64 ClassCutter::gatherRows(std::span<Bracket *const> brackets)
{
    // Every value is compared once with the bracket edges, which are
    // ascending in both ends as the brackets are: a value is inside the
    // brackets from the number whose high end is below it up to the number
    // whose low end is at most it. Those inside any are staged without a
    // branch and shared out afterwards; they are a few in a hundred but for
    // many classes.
    const std::size_t count = brackets.size();
    std::array<double, searchWidth> lows;
    std::array<double, searchWidth> highs;
    lows.fill(notANumber);
    highs.fill(notANumber);
    for (std::size_t b = 0; b < count; ++b) {
        lows[b] = brackets[b]->low;
        highs[b] = brackets[b]->high;
    }
    // The cells above each count of high ends, four tallies taken in turn so
    // that runs of equal counts do not wait on one another.
    std::array<std::array<qint64, searchWidth + 1>, 4> tallies{};
    std::array<qint64, mostCompared> above{};
    const auto columns = std::size_t(m_columns);
    std::vector<double> staged(columns);
    qint64 nans = 0;
    for (int row = 0; row < m_rows; ++row) {
        const double *line = m_values + row * m_stride;
        const std::uint8_t *mask = Masked ? m_mask + qsizetype(row) * m_columns : nullptr;
        std::size_t stagedCount = 0;
        qint64 rowNans = 0;
        if constexpr (Width <= mostCompared) {
            std::array<qint64, Width> rowAbove{};
            std::size_t c = 0;
#if defined(__SSE2__)
            // Two values at a time; GCC does not find this for itself from
            // the loop below, which finishes the row. A comparison gives -1
            // in each 64-bit lane, so that subtracting it counts.
            __m128d highLanes[Width];
            __m128d lowLanes[Width];
            __m128i aboveLanes[Width];
            for (int b = 0; b < Width; ++b) {
                highLanes[b] = _mm_set1_pd(highs[std::size_t(b)]);
                lowLanes[b] = _mm_set1_pd(lows[std::size_t(b)]);
                aboveLanes[b] = _mm_setzero_si128();
            }
            __m128i nanLanes = _mm_setzero_si128();
            for (; c + 2 <= columns; c += 2) {
                const __m128d v = _mm_loadu_pd(line + c);
                __m128d keep = _mm_castsi128_pd(_mm_set1_epi64x(-1));
                if constexpr (Masked)
                    keep = _mm_castsi128_pd(_mm_set_epi64x(-std::int64_t(mask[c + 1] != 0),
                                                           -std::int64_t(mask[c] != 0)));
                __m128d inBracket = _mm_setzero_pd();
#pragma GCC unroll 8
                for (int b = 0; b < Width; ++b) {
                    const __m128d higher = _mm_cmpgt_pd(v, highLanes[b]);
                    aboveLanes[b] =
                        _mm_sub_epi64(aboveLanes[b], _mm_castpd_si128(_mm_and_pd(higher, keep)));
                    inBracket =
                        _mm_or_pd(inBracket, _mm_andnot_pd(higher, _mm_cmpge_pd(v, lowLanes[b])));
                }
                nanLanes = _mm_sub_epi64(nanLanes,
                                         _mm_castpd_si128(_mm_and_pd(_mm_cmpunord_pd(v, v), keep)));
                const int staging = _mm_movemask_pd(_mm_and_pd(inBracket, keep));
                staged[stagedCount] = line[c];
                stagedCount += std::size_t(staging & 1);
                staged[stagedCount] = line[c + 1];
                stagedCount += std::size_t(staging >> 1);
            }
            for (int b = 0; b < Width; ++b) {
                alignas(16) std::int64_t lanes[2];
                _mm_store_si128(reinterpret_cast<__m128i *>(lanes), aboveLanes[b]);
                rowAbove[std::size_t(b)] += lanes[0] + lanes[1];
            }
            alignas(16) std::int64_t lanes[2];
            _mm_store_si128(reinterpret_cast<__m128i *>(lanes), nanLanes);
            rowNans += lanes[0] + lanes[1];
#endif
            for (; c < columns; ++c) {
                const double v = line[c];
                const bool inside = Masked ? mask[c] != 0 : true;
                int over = 0;
                int atLeast = 0;
                for (int b = 0; b < Width; ++b) {
                    const bool higher = v > highs[std::size_t(b)];
                    rowAbove[std::size_t(b)] += inside & higher;
                    over += higher;
                    atLeast += v >= lows[std::size_t(b)];
                }
                rowNans += inside & (v != v);
                staged[stagedCount] = v;
                stagedCount += inside & (atLeast > over);
            }
            for (int b = 0; b < Width; ++b)
                above[std::size_t(b)] += rowAbove[std::size_t(b)];
        } else {
            for (std::size_t c = 0; c < columns; ++c) {
                const double v = line[c];
                const bool inside = Masked ? mask[c] != 0 : true;
                const int over = countBelow<Width, false>(highs.data(), v);
                const int atLeast = countBelow<Width, true>(lows.data(), v);
                tallies[c & 3][std::size_t(over)] += inside;
                rowNans += inside & (v != v);
                staged[stagedCount] = v;
                stagedCount += inside & (atLeast > over);
            }
        }
        nans += rowNans;
        for (Bracket *b : brackets)
            if (b->store.size() < std::size_t(b->count) + columns)
                b->store.resize(std::max(b->store.size() * 2, std::size_t(b->count) + columns));
        for (std::size_t i = 0; i < stagedCount; ++i) {
            const double v = staged[i];
            const int first = countBelow<Width, false>(highs.data(), v);
            const int last = countBelow<Width, true>(lows.data(), v);
            for (int b = first; b < last; ++b) {
                Bracket &bracket = *brackets[std::size_t(b)];
                bracket.store[std::size_t(bracket.count++)] = v;
            }
        }
    }
    if constexpr (Width <= mostCompared) {
        for (std::size_t b = 0; b < count; ++b)
            brackets[b]->above = above[b];
    } else {
        // A value is above the high ends of as many brackets as it counted.
        qint64 higher = 0;
        for (std::size_t over = std::size_t(searchWidth); over-- > 1;) {
            for (const auto &tally : tallies)
                higher += tally[over];
            if (over - 1 < count)
                brackets[over - 1]->above = higher;
        }
    }
    return nans;
}

qint64 ClassCutter::gather(std::span<Bracket *const> brackets)
{
    Q_ASSERT(brackets.size() < std::size_t(mostClasses));
    for (Bracket *b : brackets) {
        Q_ASSERT(b->low <= b->high);
        b->above = 0;
        b->count = 0;
    }
    // The brackets ascend, both ends, as their counts above descend; were
    // they ever not to, each is gathered by a read of its own.
    for (std::size_t b = 1; b < brackets.size(); ++b) {
        if (!(brackets[b - 1]->low <= brackets[b]->low &&
              brackets[b - 1]->high <= brackets[b]->high)) {
            qint64 nans = 0;
            for (Bracket *const &alone : brackets)
                nans = gather(std::span<Bracket *const>(&alone, 1));
            return nans;
        }
    }
    const bool masked = m_mask != nullptr;
    // For more than one bracket, a table finds most values' place at the
    // cost of one comparison.
    if (brackets.size() > 1) {
        std::vector<double> edges;
        for (const Bracket *b : brackets) {
            edges.push_back(b->low);
            edges.push_back(b->high);
        }
        ValueBins bins;
        if (bins.spread(edges))
            return masked ? gatherBinned<true>(brackets, bins)
                          : gatherBinned<false>(brackets, bins);
    }
    switch (compareWidth(brackets.size())) {
    case 1:
        return masked ? gatherRows<1, true>(brackets) : gatherRows<1, false>(brackets);
    case 2:
        return masked ? gatherRows<2, true>(brackets) : gatherRows<2, false>(brackets);
    case 4:
        return masked ? gatherRows<4, true>(brackets) : gatherRows<4, false>(brackets);
    case mostCompared:
        return masked ? gatherRows<mostCompared, true>(brackets)
                      : gatherRows<mostCompared, false>(brackets);
    default:
        return masked ? gatherRows<searchWidth, true>(brackets)
                      : gatherRows<searchWidth, false>(brackets);
    }
}

bool ClassCutter::bracketedCut(std::span<const qint64> taken, ClassCut &cut)
{
    if (m_sampledCells == 0)
        takeSample();
    if (m_sampledCells < 64)
        return false;
    // The value with `rank` sampled cells at or above it, NaN ranked last.
    const auto sampled = qint64(m_sample.size());
    auto ranked = [this, sampled](qint64 rank) {
        return rank > sampled ? -infinity : m_sample[std::size_t(sampled - rank)];
    };
    // One bracket a distinct count above, leaving out the boundaries with
    // nothing above them.
    m_brackets.resize(taken.size());
    std::vector<Bracket *> brackets;
    std::vector<std::size_t> bracketOf(taken.size());
    for (std::size_t j = 0; j < taken.size(); ++j) {
        if (taken[j] == 0)
            continue;
        if (!brackets.empty() && brackets.back()->taken == taken[j]) {
            bracketOf[j] = brackets.size() - 1;
            continue;
        }
        // The threshold's rank in the sample, counted from the top, is
        // about taken/valid of it; four standard deviations either side
        // bracket it.
        Bracket &b = m_brackets[brackets.size()];
        bracketOf[j] = brackets.size();
        brackets.push_back(&b);
        const double share = double(taken[j]) / double(m_valid);
        const double expected = share * double(m_sampledCells);
        const double margin = 4.0 * std::sqrt(double(m_sampledCells) * share * (1.0 - share)) + 2.0;
        const auto upperRank = qint64(std::floor(expected - margin));
        const auto lowerRank = qint64(std::ceil(expected + margin));
        b.taken = taken[j];
        b.high = upperRank >= 1 ? ranked(upperRank) : infinity;
        b.low = ranked(lowerRank);
        // Room for the cells the sample expects in the bracket and a quarter
        // more, so that faulting in and copying a growing store is rare.
        const double expectedCount =
            double(lowerRank - std::max<qint64>(upperRank, 0) + 1) / double(m_sampledCells);
        const auto room =
            std::size_t(1.25 * expectedCount * double(m_valid)) + std::size_t(m_columns);
        if (b.store.size() < room)
            b.store.resize(std::min(room, std::size_t(m_valid) + std::size_t(m_columns)));
    }
    const qint64 numbers = m_valid - gather(brackets);

    // A bracket that missed (a surface whose sample is unlike the whole) is
    // narrowed to the gap between the edges of all brackets that the counts
    // prove to hold its value, and gathered again: one more read at most.
    std::vector<Bracket *> missed;
    for (Bracket *b : brackets)
        if (b->taken < numbers && !(b->above < b->taken && b->taken <= b->above + b->count))
            missed.push_back(b);
    if (!missed.empty()) {
        for (Bracket *b : missed) {
            double low = -infinity;
            double high = infinity;
            for (const Bracket *edge : brackets) {
                if (edge->above + edge->count >= b->taken)
                    low = std::max(low, edge->low);
                if (edge->above < b->taken)
                    high = std::min(high, edge->high);
            }
            b->low = low;
            b->high = high;
        }
        gather(missed);
    }

    for (Bracket *b : brackets) {
        if (b->taken >= numbers)
            continue;
        const auto begin = b->store.begin();
        const auto end = begin + std::ptrdiff_t(b->count);
        const auto nth = end - std::ptrdiff_t(b->taken - b->above);
        std::nth_element(begin, nth, end);
        const double threshold = *nth;
        qint64 above = b->above;
        qint64 equal = 0;
        double below = -infinity;
        bool anyBelow = false;
        for (auto it = begin; it != end; ++it) {
            above += *it > threshold;
            equal += *it == threshold;
            if (*it < threshold) {
                below = std::max(below, *it);
                anyBelow = true;
            }
        }
        const qint64 tiedTaken = b->taken - above;
        if (tiedTaken < equal) {
            b->threshold = threshold;
            b->tiesAbove = tiedTaken;
        } else {
            // Every cell equal to the threshold is taken: the next lower
            // value cuts the same cells with no ties to count. There is one,
            // as fewer cells than the numbers are taken; it lies below the
            // bracket only when nothing in it is lower.
            b->threshold = anyBelow ? below : nextLowerValue(threshold);
            b->tiesAbove = 0;
        }
    }
    for (std::size_t j = 0; j < taken.size(); ++j) {
        if (taken[j] == 0)
            continue;
        if (taken[j] >= numbers) {
            cut.thresholds[j] = notANumber;
            cut.tiesAbove[j] = taken[j] - numbers;
            continue;
        }
        cut.thresholds[j] = brackets[bracketOf[j]]->threshold;
        cut.tiesAbove[j] = brackets[bracketOf[j]]->tiesAbove;
    }
    return true;
}

double ClassCutter::nextLowerValue(double value) const
{
    double below = -infinity;
    forEachRow([&](const double *line, const std::uint8_t *mask) {
        for (int c = 0; c < m_columns; ++c)
            if ((!mask || mask[c]) && line[c] < value)
                below = std::max(below, line[c]);
    });
    return below;
}

void ClassCutter::wholeCut(std::span<const qint64> taken, ClassCut &cut)
{
    // Every number from the highest down; the ranks of equal values among
    // themselves follow from row-major order alone, so they need no order.
    std::vector<double> ordered;
    ordered.reserve(std::size_t(m_valid));
    forEachRow([&](const double *line, const std::uint8_t *mask) {
        for (int c = 0; c < m_columns; ++c)
            if ((!mask || mask[c]) && !std::isnan(line[c]))
                ordered.push_back(line[c]);
    });
    std::sort(ordered.begin(), ordered.end(), std::greater<>());
    const auto numbers = qint64(ordered.size());
    for (std::size_t j = 0; j < taken.size(); ++j) {
        if (taken[j] == 0)
            continue;
        if (taken[j] >= numbers) {
            cut.thresholds[j] = notANumber;
            cut.tiesAbove[j] = taken[j] - numbers;
            continue;
        }
        const double threshold = ordered[std::size_t(taken[j] - 1)];
        const auto [first, last] =
            std::equal_range(ordered.begin(), ordered.end(), threshold, std::greater<>());
        const qint64 tiedTaken = taken[j] - (first - ordered.begin());
        if (tiedTaken < last - first) {
            cut.thresholds[j] = threshold;
            cut.tiesAbove[j] = tiedTaken;
        } else {
            // Fewer cells than the numbers are taken, so a lower one is left.
            cut.thresholds[j] = *last;
        }
    }
}

ClassCells::ClassCells(const double *values, qsizetype stride, const std::uint8_t *mask,
                       int columns, const ClassCut &cut)
    : m_values(values)
    , m_stride(stride)
    , m_mask(mask)
    , m_columns(columns)
    , m_thresholds(cut.thresholds)
    , m_ties(cut.tiesAbove)
{
    Q_ASSERT(m_thresholds.size() == m_ties.size());
    Q_ASSERT(m_thresholds.size() < std::size_t(mostClasses));
    while (std::size_t(m_nanBoundaries) < m_thresholds.size() &&
           std::isnan(m_thresholds[std::size_t(m_nanBoundaries)]))
        ++m_nanBoundaries;
    // The numbered thresholds ascend as a cut makes them, and then a cell's
    // class is how many of them are below its value, found in one look at
    // the thresholds; the NaN pad compares false, like a threshold above
    // every value.
    const auto numbered = m_thresholds.begin() + m_nanBoundaries;
    m_ascending = std::is_sorted(numbered, m_thresholds.end());
    m_search.fill(notANumber);
    std::copy(numbered, m_thresholds.end(), m_search.begin());
    m_width = compareWidth(std::size_t(m_thresholds.end() - numbered));
    for (std::size_t j = 0; j < m_ties.size(); ++j)
        if (m_ties[j] > 0)
            m_tied.push_back(j);
    // A cell in a bin without a threshold is above those of lower bins. None
    // is above +infinity, which needs its bin compared only for its ties.
    if (m_thresholds.end() - numbered > 1 &&
        m_bins.spread(std::span(numbered, m_thresholds.end()))) {
        std::vector<int> thresholdsIn(std::size_t(ValueBins::count), 0);
        std::vector<bool> compared(std::size_t(ValueBins::count), false);
        compared[0] = true;
        for (auto at = numbered; at != m_thresholds.end(); ++at) {
            const auto bin = std::size_t(m_bins.binOf(*at));
            if (*at != infinity)
                ++thresholdsIn[bin];
            if (*at != infinity || m_ties[std::size_t(at - m_thresholds.begin())] > 0)
                compared[bin] = true;
        }
        m_classOfBin.resize(std::size_t(ValueBins::count));
        int below = m_nanBoundaries;
        for (std::size_t bin = 0; bin < m_classOfBin.size(); ++bin) {
            m_classOfBin[bin] = compared[bin] ? binToCompare : std::uint8_t(below);
            below += thresholdsIn[bin];
        }
    }
}

std::uint8_t ClassCells::comparedClass(double value)
{
    if (m_ascending && value == value) {
        // The thresholds equal to the value follow those below it.
        auto j =
            std::size_t(m_nanBoundaries + countBelow<searchWidth, false>(m_search.data(), value));
        int klass = int(j);
        for (; j < m_thresholds.size() && m_thresholds[j] == value; ++j) {
            if (m_ties[j] > 0) {
                ++klass;
                --m_ties[j];
            }
        }
        return std::uint8_t(klass);
    }
    int klass = value == value ? m_nanBoundaries : 0;
    for (std::size_t j = std::size_t(m_nanBoundaries); j < m_thresholds.size(); ++j)
        klass += value > m_thresholds[j];
    for (const std::size_t j : m_tied) {
        const double threshold = m_thresholds[j];
        if (m_ties[j] > 0 && (threshold == value || (threshold != threshold && value != value))) {
            ++klass;
            --m_ties[j];
        }
    }
    return std::uint8_t(klass);
}

void ClassCells::binnedRow(const double *line, const std::uint8_t *mask, std::uint8_t *out)
{
    const auto columns = std::size_t(m_columns);
    m_bins.lookUp(line, columns, m_classOfBin.data(), out);
    if (mask)
        for (std::size_t c = 0; c < columns; ++c)
            out[c] = mask[c] ? out[c] : outsideClass;
    // The cells left to compare, NaN and those in a threshold's bin, among
    // them every tie, in row-major order.
    std::size_t c = 0;
#if defined(__SSE2__)
    const __m128i toCompare = _mm_set1_epi8(char(binToCompare));
    for (; c + 16 <= columns; c += 16) {
        const __m128i classes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(out + c));
        for (auto marked = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(classes, toCompare)));
             marked != 0; marked &= marked - 1) {
            const std::size_t at = c + std::size_t(std::countr_zero(marked));
            out[at] = comparedClass(line[at]);
        }
    }
#endif
    for (; c < columns; ++c)
        if (out[c] == binToCompare)
            out[c] = comparedClass(line[c]);
}

template <int Width> void ClassCells::classify(const double *line, std::uint8_t *out) const
{
    const auto numberBase = std::uint8_t(m_nanBoundaries);
    std::size_t c = 0;
#if defined(__SSE2__)
    if constexpr (Width <= mostCompared) {
        // Eight cells at a time: a comparison gives -1 in each of two 64-bit
        // lanes, and the eight sums are packed into bytes at the end. GCC
        // does not find this for itself from the loop below.
        __m128d thresholds[Width];
        for (int b = 0; b < Width; ++b)
            thresholds[b] = _mm_set1_pd(m_search[std::size_t(b)]);
        const __m128i base = _mm_set1_epi64x(numberBase);
        auto sums = [&](const double *at) {
            const __m128d v = _mm_loadu_pd(at);
            __m128i sum = _mm_and_si128(_mm_castpd_si128(_mm_cmpord_pd(v, v)), base);
            for (int b = 0; b < Width; ++b)
                sum = _mm_sub_epi64(sum, _mm_castpd_si128(_mm_cmpgt_pd(v, thresholds[b])));
            // The sums fit in the low 32 bits of their lanes.
            return _mm_shuffle_epi32(sum, _MM_SHUFFLE(3, 1, 2, 0));
        };
        for (; c + 8 <= std::size_t(m_columns); c += 8) {
            const __m128i low = _mm_unpacklo_epi64(sums(line + c), sums(line + c + 2));
            const __m128i high = _mm_unpacklo_epi64(sums(line + c + 4), sums(line + c + 6));
            const __m128i words = _mm_packs_epi32(low, high);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + c), _mm_packus_epi16(words, words));
        }
    }
#endif
    for (; c < std::size_t(m_columns); ++c) {
        const double v = line[c];
        out[c] = std::uint8_t((v == v) * numberBase + countBelow<Width, false>(m_search.data(), v));
    }
}

void ClassCells::row(int row, std::uint8_t *out)
{
    const double *line = m_values + row * m_stride;
    const std::uint8_t *mask = m_mask ? m_mask + qsizetype(row) * m_columns : nullptr;
    if (!m_classOfBin.empty()) {
        binnedRow(line, mask, out);
        return;
    }
    const auto columns = std::size_t(m_columns);
    if (m_ascending) {
        switch (m_width) {
        case 1:
            classify<1>(line, out);
            break;
        case 2:
            classify<2>(line, out);
            break;
        case 4:
            classify<4>(line, out);
            break;
        case mostCompared:
            classify<mostCompared>(line, out);
            break;
        default:
            classify<searchWidth>(line, out);
        }
    } else {
        // Every number is above the boundaries of threshold NaN.
        const auto numberBase = std::uint8_t(m_nanBoundaries);
        for (std::size_t c = 0; c < columns; ++c)
            out[c] = std::isnan(line[c]) ? 0 : numberBase;
        for (std::size_t j = std::size_t(m_nanBoundaries); j < m_thresholds.size(); ++j) {
            const double threshold = m_thresholds[j];
            for (std::size_t c = 0; c < columns; ++c)
                out[c] = std::uint8_t(out[c] + (line[c] > threshold));
        }
    }
    // The cells equal to a threshold, counted off in row-major order. A
    // boundary's ties do not depend on another's, so each is counted alone;
    // a row with no more of them than are left takes them all without a
    // branch, and once a boundary's are spent it is passed over.
    std::size_t stillTied = 0;
    for (const std::size_t j : m_tied) {
        qint64 &ties = m_ties[j];
        const double threshold = m_thresholds[j];
        const bool nanThreshold = std::isnan(threshold);
        // Split by kind so that each loop is simple enough to vectorize.
        qint64 equal = 0;
        if (nanThreshold && mask) {
            for (std::size_t c = 0; c < columns; ++c)
                equal += (line[c] != line[c]) & (mask[c] != 0);
        } else if (nanThreshold) {
            for (std::size_t c = 0; c < columns; ++c)
                equal += line[c] != line[c];
        } else if (mask) {
            for (std::size_t c = 0; c < columns; ++c)
                equal += (line[c] == threshold) & (mask[c] != 0);
        } else {
            std::size_t c = 0;
#if defined(__SSE2__)
            const __m128d tie = _mm_set1_pd(threshold);
            __m128i lanes = _mm_setzero_si128();
            for (; c + 2 <= columns; c += 2)
                lanes = _mm_sub_epi64(lanes,
                                      _mm_castpd_si128(_mm_cmpeq_pd(_mm_loadu_pd(line + c), tie)));
            alignas(16) std::int64_t sums[2];
            _mm_store_si128(reinterpret_cast<__m128i *>(sums), lanes);
            equal = sums[0] + sums[1];
#endif
            for (; c < columns; ++c)
                equal += line[c] == threshold;
        }
        if (equal <= ties) {
            for (std::size_t c = 0; c < columns && equal > 0; ++c) {
                const bool tied = nanThreshold ? line[c] != line[c] : line[c] == threshold;
                out[c] = std::uint8_t(out[c] + (tied & (!mask || mask[c] != 0)));
            }
            ties -= equal;
        } else {
            for (std::size_t c = 0; c < columns && ties > 0; ++c) {
                const bool tied = nanThreshold ? std::isnan(line[c]) : line[c] == threshold;
                if (tied && (!mask || mask[c])) {
                    ++out[c];
                    --ties;
                }
            }
        }
        if (ties > 0)
            m_tied[stillTied++] = j;
    }
    m_tied.resize(stillTied);
    if (mask)
        for (std::size_t c = 0; c < columns; ++c)
            if (!mask[c])
                out[c] = outsideClass;
}

ClassDraw::ClassDraw(std::span<const double> proportions)
{
    Q_ASSERT(!proportionsRefusal(proportions));
    std::vector<Wide> decimals;
    Wide sum = 0;
    for (const double p : proportions) {
        decimals.push_back(decimalOf(p));
        sum += decimals.back();
    }
    std::size_t last = decimals.size();
    while (last > 0 && decimals[last - 1] == 0)
        --last;
    // Bound i is floor(share of the classes before i * 2^64), by long
    // division: the shares are taken of their own sum, which is 100 within
    // 1e-9, so that the last class ends exactly at 2^64.
    Wide before = 0;
    for (std::size_t i = 1; i < last; ++i) {
        before += decimals[i - 1];
        Wide remainder = before;
        std::uint64_t bound = 0;
        for (int bit = 63; bit >= 0; --bit) {
            remainder <<= 1;
            if (remainder >= sum) {
                remainder -= sum;
                bound |= std::uint64_t(1) << bit;
            }
        }
        bounds.push_back(bound);
    }
}
