// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

// Surfaces of `cells` values made to fool a cut: values that crowd into a
// few bins, tie, span the whole range of doubles, or are all equal, and two
// whose sample of every sixteenth or every seventeenth cell (the cover cut's
// and the class cut's below 2^20 cells) sees only zeros.
inline std::vector<std::vector<double>> cutSurfaces(std::size_t cells)
{
    std::mt19937_64 bits(7);
    std::normal_distribution<double> normal;
    std::vector<std::vector<double>> all;
    auto make = [&](auto value) {
        std::vector<double> s(cells);
        for (double &v : s)
            v = value();
        all.push_back(std::move(s));
    };
    make([&] { return normal(bits); });
    make([&] { return std::round(normal(bits) * 3.0) / 4.0; });
    make(
        [&] { return bits() % 2 ? std::clamp(1e308 * normal(bits), -1.7e308, 1.7e308) : -1e-300; });
    make([&] { return 1.0 + std::ldexp(double(bits() % 5), -52); });
    make([&] { return std::exp(normal(bits) * 30.0); });
    make([] { return 0.25; });
    make([&, at = 0]() mutable { return at++ % 16 == 0 ? 0.0 : normal(bits); });
    make([&, at = 0]() mutable { return at++ % 17 == 0 ? 0.0 : normal(bits); });
    return all;
}

// A 64 x 64 surface whose evenly spaced cells (every `step`th, the
// sample's) hold a middle run of values and whose `high` first other cells
// lie far above it, the rest far below: as `high` grows, the value that
// leaves half the cells above walks through the run and past both its ends.
inline std::vector<double> sampleEdgeSurface(int high, int step)
{
    constexpr int cells = 64 * 64;
    std::vector<double> values(std::size_t(cells), 0.0);
    int other = 0;
    for (int at = 0; at < cells; ++at) {
        if (at % step == 0)
            values[std::size_t(at)] = double(cells - at);
        else if (other++ < high)
            values[std::size_t(at)] = 1e6 + other;
        else
            values[std::size_t(at)] = -1e6 - other;
    }
    return values;
}

// The surface laid out with `padding` more values at the end of each row,
// which the cuts must never read: they are NaN.
inline std::vector<double> padded(const std::vector<double> &values, int rows, int columns,
                                  int padding)
{
    std::vector<double> out(std::size_t(rows) * std::size_t(columns + padding), std::nan(""));
    for (int r = 0; r < rows; ++r)
        std::copy_n(values.begin() + std::ptrdiff_t(r) * columns, columns,
                    out.begin() + std::ptrdiff_t(r) * (columns + padding));
    return out;
}
