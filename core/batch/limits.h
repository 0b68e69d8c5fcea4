// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <cmath>
#include <optional>

// Inclusive bounds of a whole-number setting.
struct IntLimits {
    int min;
    int max;
    constexpr bool contains(qint64 value) const { return value >= min && value <= max; }
};

// Inclusive bounds of a setting shown with two decimals.
struct HundredthsLimits {
    double min;
    double max;
    // Compared in hundredths, so that 0.1 typed is 0.1 allowed.
    bool contains(double value) const
    {
        const double v = std::round(value * 100.0);
        return v >= std::round(min * 100.0) && v <= std::round(max * 100.0);
    }
};

// "the map size must be between 2 and 8192", or nothing.
std::optional<QString> outside(const char *what, qint64 value, IntLimits limits);
std::optional<QString> outside(const char *what, double value, HundredthsLimits limits);
std::optional<QString> outside(const QString &what, double value, HundredthsLimits limits);

// The dialog's boxes hold two decimals, and names and the manifest give
// such values with two; a value they could not show is refused rather than
// rounded.
bool hasTwoDecimals(double value);
