// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/classifycommand.h"

#include "cli/commandline.h"
#include "core/batch/classcut.h"
#include "core/batch/classify.h"
#include "core/grid/composition.h"
#include "core/grid/studyarea.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace {

// Numbers separated by commas, or the first text that is not one.
template <typename Number>
std::optional<std::vector<Number>> numbersOf(const QString &text, QString &bad)
{
    std::vector<Number> numbers;
    for (const QString &part : text.split(QLatin1Char(','))) {
        bool ok = false;
        if constexpr (std::is_same_v<Number, double>) {
            numbers.push_back(part.trimmed().toDouble(&ok));
        } else {
            const qint64 value = part.trimmed().toLongLong(&ok);
            ok = ok && value >= std::numeric_limits<qint32>::min() &&
                 value <= std::numeric_limits<qint32>::max();
            numbers.push_back(Number(value));
        }
        if (!ok) {
            bad = part;
            return std::nullopt;
        }
    }
    return numbers;
}

} // namespace

ClassifyCommand::ClassifyCommand(CommandLine &commandLine)
    : m_cli(commandLine)
    , m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             QStringLiteral("Shows this help."))
    , m_proportions(QStringLiteral("proportions"),
                    QStringLiteral("The share of each class in percent, lowest values first, "
                                   "adding up to 100 (2 to 64 classes; decimals allowed)."),
                    QStringLiteral("P1,P2,..."))
    , m_proportionsOf(QStringLiteral("proportions-of"),
                      QStringLiteral("Takes the classes, their shares and their codes from a "
                                     "categorical map (inside its NoData) instead."),
                      QStringLiteral("MAP"))
    , m_classValues(QStringLiteral("class-values"),
                    QStringLiteral("The code of each class (default 1, 2, ..., k)."),
                    QStringLiteral("V1,V2,..."))
    , m_mask(QStringLiteral("mask"),
             QStringLiteral("A raster of the surface's rows and columns whose NoData cells lie "
                            "outside the study area."),
             QStringLiteral("FILE"))
    , m_maskValue(QStringLiteral("mask-value"),
                  QStringLiteral("Cells of the mask holding this value lie outside as well (the "
                                 "way a plain map marks them)."),
                  QStringLiteral("N"))
    , m_noData(QStringLiteral("nodata"),
               QStringLiteral("The code of cells outside the study area (by default -9999, or "
                              "in tif the largest value of the smallest cell type that holds "
                              "the codes and is not one)."),
               QStringLiteral("N"))
    , m_out(QStringLiteral("out"),
            QStringLiteral("The map to write: .txt (plain), .asc or .tif, by its extension."),
            QStringLiteral("FILE"))
    , m_overwrite(QStringLiteral("overwrite"),
                  QStringLiteral("Replaces a file already under the --out name."))
{}

int ClassifyCommand::run(const QStringList &arguments)
{
    m_parser.setApplicationDescription(QStringLiteral(
        "Cuts a surface of your own (a float ESRI ASCII grid or GeoTIFF) into classes of\n"
        "exact sizes: the cells inside the study area (not NoData in the surface or the\n"
        "mask) are ranked by value, equal values in row-major order, and each class takes\n"
        "its share of them, the first class the lowest values. Counts are the largest-\n"
        "remainder rounding of each share of the cells inside. The map keeps the surface's\n"
        "rows, columns, cell size, origin and, in GeoTIFF, reference system."));
    m_parser.addOption(m_help);
    m_parser.addOptions({m_proportions, m_proportionsOf, m_classValues, m_mask, m_maskValue,
                         m_noData, m_out, m_overwrite});
    m_parser.addPositionalArgument(QStringLiteral("SURFACE"),
                                   QStringLiteral("The surface to classify."));
    if (const auto done = m_cli.parseArguments(
            m_parser, m_help, arguments,
            QStringLiteral("Usage: %1 classify SURFACE --proportions P1,P2,... --out FILE")))
        return *done;

    const QStringList positional = m_parser.positionalArguments();
    if (positional.size() != 1)
        return m_cli.usageError(QStringLiteral("give one surface to classify"));
    const QString surfacePath = positional.front();
    if (m_parser.isSet(m_proportions) == m_parser.isSet(m_proportionsOf))
        return m_cli.usageError(
            QStringLiteral("give the classes' shares with --proportions or --proportions-of"));
    if (m_parser.isSet(m_maskValue) && !m_parser.isSet(m_mask))
        return m_cli.usageError(QStringLiteral("--mask-value marks cells of a --mask; give one"));
    const QString out = m_parser.value(m_out);
    if (out.trimmed().isEmpty())
        return m_cli.usageError(QStringLiteral("--out needs the name of the map to write"));
    const QString suffix = QFileInfo(out).suffix();
    const std::optional<MapFormat> format =
        suffix.isEmpty() ? std::optional(MapFormat::Plain)
                         : mapFormatOfExtension(QString(QLatin1Char('.') + suffix));
    if (!format)
        return m_cli.usageError(QStringLiteral("%1: the map's extension must be .txt, .asc or .tif")
                                    .arg(QDir::toNativeSeparators(out)));
    if (QFileInfo::exists(out) && !m_parser.isSet(m_overwrite))
        return m_cli.usageError(QStringLiteral("%1 exists; add --overwrite to replace it")
                                    .arg(QDir::toNativeSeparators(out)));

    ClassifyRequest request;
    QString bad;
    if (m_parser.isSet(m_proportions)) {
        const auto proportions = numbersOf<double>(m_parser.value(m_proportions), bad);
        if (!proportions)
            return m_cli.usageError(
                QStringLiteral("--proportions: '%1' is not a number").arg(bad.trimmed()));
        request.proportions = *proportions;
    } else {
        Composition composition;
        if (const FileResult error = readComposition(m_parser.value(m_proportionsOf), composition))
            return m_cli.usageError(error->message());
        for (const Composition::Class &kind : composition.classes) {
            request.proportions.push_back(kind.percent);
            request.classValues.push_back(kind.code);
        }
    }
    if (m_parser.isSet(m_classValues)) {
        const auto values = numbersOf<qint32>(m_parser.value(m_classValues), bad);
        if (!values)
            return m_cli.usageError(
                QStringLiteral("--class-values: '%1' is not a 32-bit whole number")
                    .arg(bad.trimmed()));
        request.classValues = *values;
    }
    bool number = false;
    std::optional<qint64> noData;
    if (m_parser.isSet(m_noData)) {
        noData = m_parser.value(m_noData).trimmed().toLongLong(&number);
        if (!number || *noData < std::numeric_limits<qint32>::min() ||
            *noData > std::numeric_limits<qint32>::max())
            return m_cli.usageError(
                QStringLiteral("--nodata must be a 32-bit whole number, not '%1'")
                    .arg(m_parser.value(m_noData)));
    }
    if (const auto refusal = request.refusal(noData))
        return m_cli.usageError(*refusal);
    if (!noData)
        noData = defaultClassNoData(request.codes(), *format);

    SurfaceRaster surface;
    if (const FileResult error = readSurfaceRaster(surfacePath, surface))
        return m_cli.usageError(error->message());
    const StudyArea &area = surface.area;
    if (const auto refusal = studyAreaFormatRefusal(area, *format))
        return m_cli.usageError(*refusal);
    StudyArea mask;
    if (m_parser.isSet(m_mask)) {
        std::optional<qint64> maskValue;
        if (m_parser.isSet(m_maskValue)) {
            maskValue = m_parser.value(m_maskValue).trimmed().toLongLong(&number);
            if (!number)
                return m_cli.usageError(QStringLiteral("--mask-value must be a whole number"));
        }
        if (const FileResult error = readStudyArea(m_parser.value(m_mask), maskValue, mask))
            return m_cli.usageError(error->message());
        if (mask.rowCount != area.rowCount || mask.columnCount != area.columnCount)
            return m_cli.usageError(
                QStringLiteral("%1 has %2 x %3 cells and the surface %4 x %5: a mask must "
                               "have the surface's rows and columns")
                    .arg(QDir::toNativeSeparators(mask.path))
                    .arg(mask.rowCount)
                    .arg(mask.columnCount)
                    .arg(area.rowCount)
                    .arg(area.columnCount));
    }

    std::vector<std::uint8_t> inside(area.inside.begin(), area.inside.end());
    if (!mask.inside.empty())
        for (std::size_t i = 0; i < inside.size(); ++i)
            inside[i] = inside[i] && mask.inside[i];
    if (std::find(inside.begin(), inside.end(), 1) == inside.end())
        return m_cli.usageError(
            QStringLiteral("no cell lies inside both the surface and the mask"));
    const std::vector<std::uint8_t> cells = classifyCells(
        surface.values.data(), area.rowCount, area.columnCount, inside.data(), request.proportions);
    if (const FileResult error = writeClassMap(out, *format, cells, area.rowCount, area.columnCount,
                                               request.codes(), *noData, area.georeference))
        return m_cli.runFailure(error->message());
    return CommandLine::Success;
}
