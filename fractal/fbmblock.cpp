// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fbmblock.h"

#include <algorithm>

void FbmBlock::cropTo(int keptRows, int keptColumns)
{
    if (keptRows == rows && keptColumns == columns)
        return;
    Q_ASSERT(keptRows <= rows && keptColumns <= columns);
    const std::size_t from = std::size_t(stride());
    const std::size_t to = std::size_t(keptColumns) + 1;
    // Rows move towards the front only, so copying them in order never
    // overwrites a row still to be read.
    for (std::size_t row = 0; row <= std::size_t(keptRows); ++row)
        std::copy_n(values.begin() + std::ptrdiff_t(row * from), to,
                    values.begin() + std::ptrdiff_t(row * to));
    rows = keptRows;
    columns = keptColumns;
    values.resize(std::size_t(pointCount()));
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const double minimum = *low;
    const double span = *high - minimum;
    // A corner of one value everywhere has no span to rescale; it stays
    // flat at 0, as the lattice's own rescaling would leave it.
    for (double &value : values)
        value = span > 0 ? (value - minimum) / span : 0.0;
}
