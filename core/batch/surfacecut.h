// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ClassCells;
class MapWriter;
struct BatchOutput;

// Cutting a surface of real values into a two-class map, shared by every
// family whose maps come from a surface. The surface is `rows` x `columns`
// values, row-major, `stride` values from one row to the next.

// The fixed thresholds of a ladder cut, 0.10, 0.11, ... 0.89, built by
// repeated addition, drift included: which maps a seed gives depends on
// every rounding of them.
constexpr int ladderSteps = 80;
std::array<double, ladderSteps> ladderThresholds();

// The cut that leaves exactly round(cover * cells / 100) of the cells above
// it, halves rounded up: the threshold is the value of the last cell taken,
// and of the cells equal to it those first in row-major order are taken
// (tiesAbove of them). When every cell equal to it is taken, the threshold
// given is the next lower value instead, so that a cut at the threshold
// alone makes the map again.
struct ExactCoverCut {
    double threshold = 0.0;
    qint64 tiesAbove = 0;
};

// The exact cuts of one surface, for as many covers as are asked. A cut
// reads the surface once: a sample of its values brackets the threshold
// between two of them, only the values between those are ordered, and
// nothing is copied. Should the bracket miss (a surface whose sample is
// unlike the whole), the cut orders every value instead; the threshold is
// the same either way. The surface must stay as it is while cuts are asked.
class ExactCutter {
public:
    ExactCutter(const double *values, int rows, int columns, qsizetype stride);
    ExactCutter(const double *values, int size, qsizetype stride)
        : ExactCutter(values, size, size, stride)
    {}
    ExactCoverCut cut(int cover);

private:
    std::optional<ExactCoverCut> bracketedCut(qint64 taken);
    ExactCoverCut wholeCut(qint64 taken);
    template <typename Visit> void forEachValue(Visit visit) const;

    const double *m_values;
    int m_rows;
    int m_columns;
    qsizetype m_stride;
    std::vector<double> m_sample;
    std::vector<double> m_candidates;
};

// One cut of a surface; a surface cut at several covers is cheaper cut by
// one ExactCutter.
ExactCoverCut exactCoverCut(const double *values, int size, qsizetype stride, int cover);

// The cells of a cut, asked for in row-major order: habitat where a value is
// above the threshold, and for the first tiesAbove values equal to it.
class CutCells {
public:
    CutCells(const double *values, qsizetype stride, double threshold, qint64 tiesAbove)
        : m_values(values)
        , m_stride(stride)
        , m_threshold(threshold)
        , m_ties(tiesAbove)
    {}
    bool operator()(int row, int col)
    {
        const double value = m_values[row * m_stride + col];
        return value > m_threshold || (value == m_threshold && m_ties-- > 0);
    }

private:
    const double *m_values;
    qsizetype m_stride;
    double m_threshold;
    qint64 m_ties;
};

// Writes the rows of the map the cut gives.
void putCutRows(MapWriter &writer, const double *values, int rows, int columns, qsizetype stride,
                double threshold, qint64 tiesAbove);

// The classes a batch's output asks of a surface, inside its study area:
// the proportions' classes, or without proportions habitat at `cover` and
// the matrix. The surface is rows x columns values of the study area's box,
// and must stay as it is while rows are asked for, each once, in order.
class SurfaceClassRows {
public:
    SurfaceClassRows(const BatchOutput &output, int cover, const double *values, int rows,
                     int columns, qsizetype stride);
    ~SurfaceClassRows();
    SurfaceClassRows(const SurfaceClassRows &) = delete;
    SurfaceClassRows &operator=(const SurfaceClassRows &) = delete;
    // The class indices of row `row`, outsideClass outside.
    void fill(int row, std::uint8_t *classes);

private:
    std::unique_ptr<ClassCells> m_cells;
};

// Writes the rows of a surface's classes with writer.putClasses().
void putClassCut(MapWriter &writer, const BatchOutput &output, int cover, const double *values,
                 int rows, int columns, qsizetype stride);
