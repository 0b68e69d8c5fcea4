// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gaussian/gaussianfield.h"

#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

// Sample statistics of drawn fields, for checks of the form "the mean of a
// statistic over many independent fields is the model's value within k
// standard errors", the error computed from the same sample.
struct SampleMean {
    double sum = 0;
    double sumSquares = 0;
    int count = 0;

    void add(double x)
    {
        sum += x;
        sumSquares += x * x;
        ++count;
    }
    double mean() const { return sum / count; }
    double standardError() const
    {
        const double variance = (sumSquares - sum * sum / count) / (count - 1);
        return std::sqrt(std::max(variance, 0.0) / count);
    }
    // How many standard errors the mean lies from `expected`.
    double deviation(double expected) const
    {
        return std::abs(mean() - expected) / standardError();
    }
    // Empty when the mean is within k standard errors of `expected`,
    // otherwise what differs, for QVERIFY2.
    QByteArray mismatch(double expected, double k = 4.0) const
    {
        if (deviation(expected) <= k)
            return {};
        return "mean " + QByteArray::number(mean(), 'g', 6) + " +- " +
               QByteArray::number(standardError(), 'g', 3) + " vs " +
               QByteArray::number(expected, 'g', 6);
    }
};

// The fields of one embedding, drawn from consecutive replicates of a seed.
inline void forEachField(const CirculantEmbedding &embedding, int count, std::uint32_t seed,
                         const std::function<void(const std::vector<double> &)> &visit)
{
    std::vector<double> field;
    for (int r = 0; r < count; ++r) {
        FieldStream stream;
        stream.seed = seed;
        stream.replicate = std::uint32_t(r);
        if (!embedding.draw(stream, field))
            return;
        visit(field);
    }
}

// Mean over the rows x columns field f of pair(x(p), x(p + offset)), offset
// rowLag rows down and columnLag columns right, over every p where both lie
// in the field.
template <class Pair>
double meanOverPairs(const std::vector<double> &f, int rows, int columns, int rowLag, int columnLag,
                     Pair pair)
{
    double sum = 0;
    qint64 pairs = 0;
    for (int i = 0; i + rowLag < rows; ++i)
        for (int j = 0; j + columnLag < columns; ++j) {
            sum += pair(f[std::size_t(i) * columns + j],
                        f[std::size_t(i + rowLag) * columns + j + columnLag]);
            ++pairs;
        }
    return sum / double(pairs);
}

inline double product(double a, double b)
{
    return a * b;
}

inline double squaredDifference(double a, double b)
{
    return (b - a) * (b - a);
}

// Mean over a square field of x(p) x(p + lag) along rows and columns.
inline double laggedProduct(const std::vector<double> &f, int size, int lag)
{
    return (meanOverPairs(f, size, size, 0, lag, product) +
            meanOverPairs(f, size, size, lag, 0, product)) /
           2.0;
}

// Mean over a square field of (x(p + lag) - x(p))^2 along rows and columns.
inline double squaredIncrement(const std::vector<double> &f, int size, int lag)
{
    return (meanOverPairs(f, size, size, 0, lag, squaredDifference) +
            meanOverPairs(f, size, size, lag, 0, squaredDifference)) /
           2.0;
}

// H from the slope of log variogram against log lag, lags 1..maxLag,
// averaged over `surfaces` fbm surfaces.
inline double estimatedHurst(const CirculantEmbedding &embedding, int surfaces, int maxLag)
{
    std::vector<double> variogram(std::size_t(maxLag) + 1, 0.0);
    forEachField(embedding, surfaces, 11, [&](const std::vector<double> &f) {
        for (int lag = 1; lag <= maxLag; ++lag)
            variogram[std::size_t(lag)] += squaredIncrement(f, embedding.rows(), lag);
    });
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int lag = 1; lag <= maxLag; ++lag) {
        const double x = std::log(double(lag));
        const double y = std::log(variogram[std::size_t(lag)]);
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double slope = (maxLag * sxy - sx * sy) / (maxLag * sxx - sx * sx);
    return slope / 2.0;
}
