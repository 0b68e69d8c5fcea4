// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/bulkmemory.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

// Cutting a surface of real values into k classes of exact sizes. Class i
// takes the share p_i of the valid cells; the last class takes the highest
// values, the first the lowest. Two classes [100 - c, c] make the exact
// cover cut of surfacecut.h: class 1 is its habitat.

constexpr int fewestClasses = 2;
constexpr int mostClasses = 64;
// The class byte of a cell outside the study area.
constexpr std::uint8_t outsideClass = 255;

// Why these proportions (in percent, one a class) cannot make a map, in a
// sentence, or nothing when they can.
std::optional<QString> proportionsRefusal(std::span<const double> proportions);

// How many of `validCells` cells each class takes: the floor of its share,
// then one more cell each to the classes whose shares lost the largest
// fractions, equal fractions to the later class first. A proportion counts
// as the shortest decimal that reads back as the same double, which is what
// the user wrote whenever a double can hold it: 33.3 % of 1000 cells is 333
// cells, although the double nearest 33.3 lies below it. The proportions
// must pass proportionsRefusal(); validCells may be at most 2^40. The counts
// always add up to validCells.
std::vector<qint64> classCounts(std::span<const double> proportions, qint64 validCells);

// The k - 1 boundaries of a cut, lowest first. Boundary j has above it
// the cells of classes j + 1 and up: those whose value is above
// thresholds[j], and of the cells equal to it the first tiesAbove[j] in
// row-major order. When every cell equal to the last value taken is taken,
// the threshold is the next lower value with no ties, so that most
// boundaries need no counting. NaN ranks below every number: a threshold
// of NaN has every number above it and the first tiesAbove NaN cells.
// A boundary with no cell above it has the threshold +infinity.
struct ClassCut {
    std::vector<double> thresholds;
    std::vector<qint64> tiesAbove;
};

// Bulk memory whose doubles are left as they come when a vector grows: a
// bracket's store is written before it is read, and zeroing it first would
// cost as much as the gathering. A store of a megabyte or more comes in
// large pages, as the bulk buffers do from four: the few stores of a cut
// are written once, and faulting them in a small page at a time took much
// of the gathering's time.
template <typename T> using UninitialisedBulk = BulkAllocator<T, std::size_t(1) << 20>;

// Values sorted into equal bins over a range by arithmetic alone: a value's
// bin is (value - low) * scale, truncated and held within 1 to count - 1,
// and NaN's is bin 0. Each step of that is monotone, so of two values in
// different bins the one in the higher bin is the greater: a value whose bin
// holds none of a set of edges lies above exactly the edges of lower bins,
// and only the values in an edge's bin need comparing with it. The passes
// over a whole surface look each value's region up this way, at the same
// cost for any number of edges.
class ValueBins {
public:
    static constexpr int count = 16384;

    // Spreads the bins over the finite ones of `edges`, with room below and
    // above them so that values beyond share no bin with an edge. False when
    // those do not span a range the bins can divide: fewer than two distinct
    // finite edges, or a span beyond the doubles.
    bool spread(std::span<const double> edges);
    int binOf(double value) const
    {
        if (value != value)
            return 0;
        double x = (value - m_low) * m_scale;
        x = x > 1.0 ? x : 1.0;
        x = x < highestBin ? x : highestBin;
        return int(x);
    }
    // The entries of `table` (count bytes, one a bin) for the bins of the
    // first `columns` values of `line`.
    void lookUp(const double *line, std::size_t columns, const std::uint8_t *table,
                std::uint8_t *out) const;

private:
    static constexpr double highestBin = count - 1;
    double m_low = 0.0;
    double m_scale = 1.0;
};

// The cuts of one surface of `rows` x `columns` values, row-major with
// `stride` values from one row to the next, inside a mask of rows x columns
// bytes (nonzero inside; null for every cell inside). A cut reads the
// surface once to sample it and once more to gather, for every boundary,
// the values between two sample values that bracket it; only those are
// ordered, and nothing else is copied. Should a bracket miss (a surface
// whose sample is unlike the whole), the counts of that read narrow it to
// a gap between the other brackets, which one more read gathers; the cut is
// the same either way. Small surfaces are ordered whole. The surface and
// the mask must stay as they are while cuts are asked.
class ClassCutter {
public:
    ClassCutter(const double *values, int rows, int columns, qsizetype stride,
                const std::uint8_t *mask = nullptr);

    qint64 validCells() const { return m_valid; }
    // `counts` has 2 to 64 entries, one a class, and adds up to validCells().
    ClassCut cut(std::span<const qint64> counts);

private:
    struct Bracket {
        qint64 taken = 0;
        double low = 0.0;
        double high = 0.0;
        qint64 above = 0;
        // Sized from the sample before the read and grown only should it
        // fall short, so that a row's candidates can be written without a
        // check each; `count` of them are filled. Its cells are never
        // cleared, only written.
        std::vector<double, UninitialisedBulk<double>> store;
        qint64 count = 0;
        double threshold = 0.0;
        qint64 tiesAbove = 0;
    };

    bool bracketedCut(std::span<const qint64> taken, ClassCut &cut);
    qint64 gather(std::span<Bracket *const> brackets);
    template <int Width, bool Masked> qint64 gatherRows(std::span<Bracket *const> brackets);
    template <bool Masked>
    qint64 gatherBinned(std::span<Bracket *const> brackets, const ValueBins &bins);
    void wholeCut(std::span<const qint64> taken, ClassCut &cut);
    void takeSample();
    double nextLowerValue(double value) const;
    template <typename Visit> void forEachRow(Visit visit) const;

    const double *m_values;
    int m_rows;
    int m_columns;
    qsizetype m_stride;
    const std::uint8_t *m_mask;
    qint64 m_valid = 0;
    std::vector<double> m_sample;
    qint64 m_sampledCells = 0;
    std::vector<Bracket> m_brackets;
};

// The class of each cell of a cut, a row at a time in row-major order, so
// that a writer needs no map of the whole surface. Rows must be asked for
// in order, each once: the ties are counted as they go by.
class ClassCells {
public:
    ClassCells(const double *values, qsizetype stride, const std::uint8_t *mask, int columns,
               const ClassCut &cut);
    // Writes the class of every cell of row `row` into `out` (columns
    // bytes), outsideClass where the mask leaves a cell out.
    void row(int row, std::uint8_t *out);

private:
    const double *m_values;
    qsizetype m_stride;
    const std::uint8_t *m_mask;
    int m_columns;
    std::vector<double> m_thresholds;
    std::vector<qint64> m_ties;
    // The boundaries whose threshold is NaN, which come first.
    int m_nanBoundaries = 0;
    // The thresholds after those, padded with NaN for a search of fixed
    // width, when they ascend.
    template <int Width> void classify(const double *line, std::uint8_t *out) const;
    std::array<double, mostClasses> m_search;
    int m_width = 0;
    bool m_ascending = false;
    // The boundaries that still have ties to take.
    std::vector<std::size_t> m_tied;
    // With more than one numbered threshold, the class of the cells of each
    // bin, or binToCompare where a threshold lies in it; empty when the
    // thresholds cannot be binned.
    ValueBins m_bins;
    std::vector<std::uint8_t> m_classOfBin;
    void binnedRow(const double *line, const std::uint8_t *mask, std::uint8_t *out);
    std::uint8_t comparedClass(double value);
};

// Classes drawn cell by cell from a uniform 64-bit integer (two words of a
// Philox draw), class i with probability p_i / 100: class i where the
// integer lies in [bounds[i - 1], bounds[i]). The bounds are exact to
// 2^-64, from the same decimals as classCounts() and shares of their own
// sum, so that the classes fill the whole range even when the proportions
// add up to 100 only within 1e-9; a class of proportion 0 is never drawn.
struct ClassDraw {
    explicit ClassDraw(std::span<const double> proportions);
    int classOf(std::uint64_t bits) const
    {
        int klass = 0;
        for (const std::uint64_t bound : bounds)
            klass += bits >= bound;
        return klass;
    }
    // The lower bound of each class after the first, up to the last class
    // that can be drawn.
    std::vector<std::uint64_t> bounds;
};
