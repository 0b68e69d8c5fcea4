// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// FIRST:LAST:STEP arguments of the command line. Parsing is strict (no
// spaces, no trailing text, no locale) so that a typo is an error rather
// than a silently different batch.
struct IntRange {
    int first = 0;
    int last = 0;
    int step = 0;
};

struct DoubleRange {
    double first = 0;
    double last = 0;
    double step = 0;
};

std::optional<int> parseInt(QStringView text);
std::optional<double> parseDouble(QStringView text);
std::optional<IntRange> parseIntRange(QStringView text);
std::optional<DoubleRange> parseDoubleRange(QStringView text);
