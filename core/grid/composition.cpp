// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/composition.h"

#include "core/grid/rasterinput.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Composition", text);
}

// Past this many distinct values the count stops: the number is only told
// to the user, who needs no exact figure for a raster of measurements.
constexpr std::size_t mostCounted = 1000;

} // namespace

FileResult readComposition(const QString &path, Composition &composition)
{
    composition = {};
    const auto check = [](const RasterHeader &header) -> std::optional<QString> {
        if (header.floatingType)
            return tr("a floating-point raster (%1) holds measurements, not classes")
                .arg(header.typeName);
        return std::nullopt;
    };
    // Sorted by code; past maxCompositionClasses only the codes are kept,
    // to say how many there are.
    std::vector<Composition::Class> classes;
    std::size_t last = 0;
    const auto piece = [&](int row, int firstColumn,
                           std::span<const double> values) -> std::optional<QString> {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double value = values[i];
            if (std::isnan(value))
                continue;
            // Categorical maps hold long runs of one code.
            if (last < classes.size() && classes[last].code == value) {
                ++classes[last].cells;
                continue;
            }
            if (std::nearbyint(value) != value ||
                value < double(std::numeric_limits<qint32>::min()) ||
                value > double(std::numeric_limits<qint32>::max()))
                return tr("row %1, column %2 holds %3, which is not a class code (a 32-bit whole "
                          "number)")
                    .arg(row + 1)
                    .arg(qint64(firstColumn) + qint64(i) + 1)
                    .arg(value, 0, 'g', 17);
            const qint32 code = qint32(value);
            const auto at = std::lower_bound(
                classes.begin(), classes.end(), code,
                [](const Composition::Class &entry, qint32 c) { return entry.code < c; });
            if (at == classes.end() || at->code != code) {
                if (classes.size() == mostCounted)
                    return tr("it holds more than %1 distinct values; a map has at most %2 "
                              "classes")
                        .arg(mostCounted)
                        .arg(maxCompositionClasses);
                classes.insert(at, Composition::Class{code, 1, 0.0});
                last = classes.size();
                continue;
            }
            ++at->cells;
            last = std::size_t(at - classes.begin());
        }
        return std::nullopt;
    };
    const QString shown = QDir::toNativeSeparators(path);
    if (FileResult error = readRaster(path, check, piece))
        return error;
    if (classes.size() > std::size_t(maxCompositionClasses))
        return FileError{shown, tr("it holds %1 classes; a map has at most %2")
                                    .arg(classes.size())
                                    .arg(maxCompositionClasses)};
    qint64 inside = 0;
    for (const Composition::Class &entry : classes)
        inside += entry.cells;
    if (inside == 0)
        return FileError{shown, tr("every cell is NoData, so it has no composition")};
    for (Composition::Class &entry : classes)
        entry.percent = 100.0 * double(entry.cells) / double(inside);
    composition.path = path;
    composition.classes = std::move(classes);
    composition.insideCells = inside;
    return std::nullopt;
}
