// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchmanifest.h"

#include "core/batch/batchoptions.h"
#include "core/batch/batchrequest.h"
#include "core/batch/mapnames.h"
#include "core/files/writefully.h"
#include "core/version.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

QByteArray csvField(QByteArray bytes)
{
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace('"', QByteArrayLiteral("\"\""));
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QByteArray number(const char *format, double value)
{
    return QString::asprintf(format, value).toLatin1();
}

// The shortest text that reads back as the same double, in the C locale;
// nothing for a value that is undefined (a mean over no patches).
QByteArray shortest(double value)
{
    if (!std::isfinite(value))
        return {};
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, int(result.ptr - text));
}

// The realised cover in hundredths of a per cent, from the counts alone:
// habitat x 10000 / cells rounded to the nearest whole number, an exact tie
// to the even one. Integers keep the rule the same for every reader that
// checks it; a double would hide ties such as 1 cell in 20000.
QByteArray realisedCoverText(const MapRecord &record)
{
    // When both codes are the same number, every cell holds the cover code.
    qint64 hundredths = 10000;
    if (record.coverValue != record.matrixValue) {
        const qint64 cells = std::max<qint64>(record.cellCount, 1);
        // Overflows only beyond 2^62 / 10000 cells; the largest map holds
        // under 2^47.
        const qint64 scaled = record.habitatCells * 10000;
        hundredths = scaled / cells;
        const qint64 twiceRest = 2 * (scaled % cells);
        if (twiceRest > cells || (twiceRest == cells && hundredths % 2 != 0))
            ++hundredths;
    }
    return QByteArray::number(hundredths / 100) + '.' +
           QByteArray::number(hundredths % 100).rightJustified(2, '0');
}

} // namespace

QString manifestFileName(const QString &pathPrefix)
{
    return manifestName(pathPrefix);
}

QList<ManifestField> manifestFields(const MapRecord &record, const ManifestColumns &columns)
{
    const bool fractal = record.kind == MapRecord::Kind::Fractal;
    const bool gaussian = record.kind == MapRecord::Kind::Gaussian;
    const bool fbm = gaussian && record.model == CovarianceModel::Fbm;
    const QByteArray kind(kindWord(record.kind));
    // Both front ends make square maps; a caller of the core that does not
    // still gets both sides.
    const QByteArray size =
        record.rowCount == record.columnCount
            ? QByteArray::number(record.rowCount)
            : QByteArray::number(record.rowCount) + 'x' + QByteArray::number(record.columnCount);
    QList<ManifestField> fields{
        {"file", QFileInfo(record.fileName).fileName().toUtf8(), ManifestType::Text},
        {"kind", kind, ManifestType::Text},
        {"size", size, ManifestType::Whole},
        {"requested_cover", QByteArray::number(record.requestedCover), ManifestType::Whole},
        {"realised_cover", realisedCoverText(record), ManifestType::Measure},
        // H is the value asked for, as the file name gives it: a run of
        // several H values reaches them by repeated addition and may hold
        // 0.7999999999999999 where the user typed 0.8, which no one should
        // have to filter for.
        {"H", fractal || fbm ? number("%.2f", record.H) : QByteArray(), ManifestType::Measure},
        {"seed", QByteArray::number(record.seed), ManifestType::Whole},
        {"replicate", QByteArray::number(record.replicate), ManifestType::Whole},
        {"threshold", fractal || gaussian ? number("%.17g", record.threshold) : QByteArray(),
         ManifestType::Measure},
        {"cover_value", QByteArray::number(record.coverValue), ManifestType::Whole},
        {"matrix_value", QByteArray::number(record.matrixValue), ManifestType::Whole},
    };
    if (columns.sampling) {
        fields.append({"generator", wordOf(record.generator).toLatin1(), ManifestType::Text});
        fields.append({"stream", QByteArray::number(record.stream), ManifestType::LargeWhole});
        fields.append(
            {"cut", fractal ? wordOf(record.cut).toLatin1() : QByteArray(), ManifestType::Text});
        fields.append({"tied_habitat",
                       fractal ? QByteArray::number(record.tiedHabitat) : QByteArray(),
                       ManifestType::LargeWhole});
        fields.append({"distinct_surfaces",
                       !fractal                  ? QByteArray()
                       : record.distinctSurfaces ? QByteArrayLiteral("yes")
                                                 : QByteArrayLiteral("no"),
                       ManifestType::Text});
        fields.append({"surfaces_per_h",
                       fractal ? QByteArray::number(record.surfacesPerH) : QByteArray(),
                       ManifestType::Whole});
        fields.append({"first_seed", fractal ? QByteArray::number(record.firstSeed) : QByteArray(),
                       ManifestType::Whole});
    }
    if (columns.gaussian) {
        fields.append({"model", gaussian ? wordOf(record.model).toLatin1() : QByteArray(),
                       ManifestType::Text});
        fields.append({"range", gaussian && !fbm ? number("%.2f", record.range) : QByteArray(),
                       ManifestType::Measure});
        fields.append({"nu",
                       gaussian && record.model == CovarianceModel::Matern
                           ? number("%.2f", record.nu)
                           : QByteArray(),
                       ManifestType::Measure});
        fields.append(
            {"cut", gaussian ? wordOf(record.cut).toLatin1() : QByteArray(), ManifestType::Text});
        fields.append({"tied_habitat",
                       gaussian ? QByteArray::number(record.tiedHabitat) : QByteArray(),
                       ManifestType::LargeWhole});
    }
    if (columns.selection) {
        fields.append({"draw", QByteArray::number(record.draw), ManifestType::LargeWhole});
        fields.append(
            {"cell_draws", QByteArray::number(record.cellDraws), ManifestType::LargeWhole});
        fields.append({"cell_acceptance",
                       record.cellDraws > 0
                           ? number("%.4f", double(record.cellKept) / double(record.cellDraws))
                           : QByteArray(),
                       ManifestType::Measure});
    }
    if (columns.surfaceFile)
        fields.append({"surface_file", record.surfaceFile.toUtf8(), ManifestType::Text});
    if (columns.metrics)
        fields.append(manifestMetricFields(record.metrics.value_or(LandscapeMetrics())));
    fields.append({"version", QByteArray(patchwrightVersion), ManifestType::Text});
    return fields;
}

QList<ManifestField> manifestMetricFields(const LandscapeMetrics &m)
{
    return {
        {"habitat_cells", QByteArray::number(m.habitatCells), ManifestType::LargeWhole},
        {"np", QByteArray::number(m.patchCount), ManifestType::LargeWhole},
        {"lpi", shortest(m.largestPatchIndex), ManifestType::Measure},
        {"area_mn", shortest(m.meanPatchArea), ManifestType::Measure},
        {"area_am", shortest(m.areaWeightedMeanPatchArea), ManifestType::Measure},
        {"ed", shortest(m.edgeDensity), ManifestType::Measure},
        {"gyrate_am", shortest(m.areaWeightedMeanGyration), ManifestType::Measure},
    };
}

QByteArray manifestHeader(const ManifestColumns &columns)
{
    QList<QByteArray> names;
    for (const ManifestField &field : manifestFields(MapRecord(), columns))
        names.append(field.name);
    return names.join(',') + '\n';
}

QByteArray manifestRow(const MapRecord &record, const ManifestColumns &columns)
{
    QList<QByteArray> values;
    for (const ManifestField &field : manifestFields(record, columns))
        values.append(csvField(field.value));
    return values.join(',') + '\n';
}

QList<QByteArray> splitManifestRow(const QByteArray &row)
{
    QList<QByteArray> fields(1);
    bool quoted = false;
    for (qsizetype i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (quoted && c == '"' && i + 1 < row.size() && row[i + 1] == '"') {
            fields.last() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.append(QByteArray());
        } else {
            fields.last() += c;
        }
    }
    return fields;
}

FileResult writeManifest(const QList<MapRecord> &records, const QString &pathPrefix,
                         const ManifestColumns &columns, OnDisk onDisk)
{
    return saveLines(
        manifestFileName(pathPrefix), manifestHeader(columns), records.size(),
        [&records, &columns](qsizetype i, QByteArray &out) {
            out += manifestRow(records[i], columns);
        },
        AtLink::Refuse, onDisk);
}
