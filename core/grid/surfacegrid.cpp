// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/surfacegrid.h"

#include "core/grid/geotiff.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// Of the values a file can hold, the one to store for `value`: its own
// rounding, moved by the fewest steps of the file's precision to the same
// side of every threshold as `value`, if such a stored value exists.
template <typename Round, typename Step>
double onTheSameSide(double value, const std::vector<double> &thresholds, Round round, Step next)
{
    // The thresholds below the value, which it is above, and the first one
    // not below it, which it is not above.
    const auto upper = std::lower_bound(thresholds.begin(), thresholds.end(), value);
    const double below =
        upper == thresholds.begin() ? -std::numeric_limits<double>::infinity() : *(upper - 1);
    const double notBelow =
        upper == thresholds.end() ? std::numeric_limits<double>::infinity() : *upper;
    double stored = round(value);
    for (int steps = 0; stored <= below && steps < 64; ++steps)
        stored = next(stored, +1);
    for (int steps = 0; stored > notBelow && steps < 64; ++steps)
        stored = next(stored, -1);
    return stored;
}

// Seven significant digits, as the ESRI grid holds them.
double roundToText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return std::strtod(text, nullptr);
}

double nextText(double value, int direction)
{
    if (value == 0.0)
        return direction * 1e-7;
    const double step = std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 6);
    return roundToText(value + direction * step);
}

double roundToFloat(double value)
{
    return double(float(value));
}

double nextFloat(double value, int direction)
{
    return double(std::nextafter(float(value), direction > 0 ? std::numeric_limits<float>::max()
                                                             : -std::numeric_limits<float>::max()));
}

} // namespace

FileResult writeSurfaceGrid(const double *values, int rows, int columns, qsizetype stride,
                            const QString &path, MapFormat format, const Georeference &georeference,
                            const std::vector<double> &thresholds, PendingFile &file)
{
    std::vector<double> sorted = thresholds;
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> row(static_cast<std::size_t>(columns));

    if (format == MapFormat::GeoTiff) {
        GeoTiffSurfaceWriter writer;
        if (FileResult error = writer.open(path, rows, columns, georeference))
            return error;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c)
                row[std::size_t(c)] =
                    onTheSameSide(values[r * stride + c], sorted, roundToFloat, nextFloat);
            writer.putRow(row);
        }
        return writer.finish(file);
    }

    if (FileResult error = file.create(path))
        return error;
    char number[32];
    // Header numbers as the maps' headers give them: the shortest text that
    // reads back as the same number.
    const auto shortest = [&number](double value) {
        const auto result =
            std::to_chars(number, number + sizeof number, value, std::chars_format::fixed);
        return QByteArray(number, int(result.ptr - number));
    };
    QByteArray text;
    text += "ncols " + QByteArray::number(columns) + "\nnrows " + QByteArray::number(rows);
    text += "\nxllcorner " + shortest(georeference.originX);
    text += "\nyllcorner " + shortest(georeference.originY);
    text += "\ncellsize " + shortest(georeference.cellSize) + '\n';
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const double value =
                onTheSameSide(values[r * stride + c], sorted, roundToText, nextText);
            const int length = std::snprintf(number, sizeof number, "%.7g", value);
            if (c > 0)
                text += ' ';
            text.append(number, length);
        }
        text += '\n';
        if (text.size() >= (1 << 20) || r == rows - 1) {
            if (FileResult error = file.write(text.constData(), text.size())) {
                file.discard();
                return error;
            }
            text.clear();
        }
    }
    if (FileResult error = file.close()) {
        file.discard();
        return error;
    }
    return std::nullopt;
}
