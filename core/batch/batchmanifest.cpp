// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchmanifest.h"

#include "core/batch/mapfamily.h"
#include "core/batch/mapnames.h"
#include "core/files/writefully.h"
#include "core/metrics/metricscsv.h"
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
    return manifestNumber(format, value);
}

QByteArray shortest(double value)
{
    return manifestShortest(value);
}

// A share in hundredths of a per cent, from the counts alone: part x 10000
// / whole rounded to the nearest whole number, an exact tie to the even
// one. Integers keep the rule the same for every reader that checks it; a
// double would hide ties such as 1 cell in 20000.
QByteArray percentText(qint64 part, qint64 whole)
{
    const qint64 cells = std::max<qint64>(whole, 1);
    // Overflows only beyond 2^62 / 10000 cells; the largest map holds
    // under 2^47.
    const qint64 scaled = part * 10000;
    qint64 hundredths = scaled / cells;
    const qint64 twiceRest = 2 * (scaled % cells);
    if (twiceRest > cells || (twiceRest == cells && hundredths % 2 != 0))
        ++hundredths;
    return QByteArray::number(hundredths / 100) + '.' +
           QByteArray::number(hundredths % 100).rightJustified(2, '0');
}

QByteArray realisedCoverText(const MapRecord &record)
{
    // When both codes are the same number, every cell holds the cover code.
    if (record.coverValue == record.matrixValue && record.classCells.empty())
        return QByteArrayLiteral("100.00");
    return percentText(record.habitatCells, record.cellCount);
}

} // namespace

QByteArray manifestNumber(const char *format, double value)
{
    return QString::asprintf(format, value).toLatin1();
}

QByteArray manifestShortest(double value)
{
    if (!std::isfinite(value))
        return {};
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, int(result.ptr - text));
}

QString manifestFileName(const QString &pathPrefix)
{
    return manifestName(pathPrefix);
}

QList<ManifestField> manifestFields(const MapRecord &record, const ManifestColumns &columns)
{
    const QByteArray kind = record.family ? QByteArray(record.family->word()) : QByteArray();
    // Non-square maps give both sides.
    const QByteArray size =
        record.rowCount == record.columnCount
            ? QByteArray::number(record.rowCount)
            : QByteArray::number(record.rowCount) + 'x' + QByteArray::number(record.columnCount);
    QList<ManifestField> fields{
        {"file", QFileInfo(record.fileName).fileName().toUtf8(), ManifestType::Text},
        {"kind", kind, ManifestType::Text},
        {"size", size, columns.shape ? ManifestType::Text : ManifestType::Whole},
        {"requested_cover", QByteArray::number(record.requestedCover), ManifestType::Whole},
        {"realised_cover", realisedCoverText(record), ManifestType::Measure},
        // H is the value asked for, as the file name gives it, with two
        // decimals.
        {"H", record.H ? number("%.2f", *record.H) : QByteArray(), ManifestType::Measure},
        {"seed", QByteArray::number(record.seed), ManifestType::Whole},
        {"replicate", QByteArray::number(record.replicate), ManifestType::Whole},
        {"threshold", record.threshold ? number("%.17g", *record.threshold) : QByteArray(),
         ManifestType::Measure},
        {"cover_value", QByteArray::number(record.coverValue), ManifestType::Whole},
        {"matrix_value", QByteArray::number(record.matrixValue), ManifestType::Whole},
    };
    if (columns.shape) {
        fields.append({"rows", QByteArray::number(record.rowCount), ManifestType::Whole});
        fields.append({"cols", QByteArray::number(record.columnCount), ManifestType::Whole});
    }
    if (!columns.classes.empty()) {
        QList<QByteArray> codes;
        for (const qint32 code : columns.classes)
            codes.append(QByteArray::number(code));
        QList<QByteArray> cells;
        QList<QByteArray> shares;
        for (const qint64 count : record.classCells) {
            cells.append(QByteArray::number(count));
            shares.append(percentText(count, record.cellCount));
        }
        fields.append({"classes", codes.join(';'), ManifestType::Text});
        fields.append(
            {"valid_cells", QByteArray::number(record.cellCount), ManifestType::LargeWhole});
        fields.append({"class_cells", cells.join(';'), ManifestType::Text});
        fields.append({"class_shares", shares.join(';'), ManifestType::Text});
        fields.append({"nodata",
                       columns.noData ? QByteArray::number(*columns.noData) : QByteArray(),
                       ManifestType::LargeWhole});
    }
    for (qsizetype i = 0; i < columns.family.size(); ++i) {
        ManifestField field = columns.family[i];
        field.value = i < record.parameters.size() ? record.parameters[i].value : QByteArray();
        fields.append(field);
    }
    if (columns.blend)
        fields.append({"blend", record.blend, ManifestType::Text});
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
        fields.append(manifestMetricFields(record.habitatMetrics().value_or(LandscapeMetrics())));
    fields.append({"version", QByteArray(patchwrightVersion), ManifestType::Text});
    return fields;
}

QList<ManifestField> samplingColumns()
{
    return {
        {"generator", {}, ManifestType::Text},
        {"stream", {}, ManifestType::LargeWhole},
        {"cut", {}, ManifestType::Text},
        {"tied_habitat", {}, ManifestType::LargeWhole},
        {"distinct_surfaces", {}, ManifestType::Text},
        {"surfaces_per_h", {}, ManifestType::Whole},
        {"first_seed", {}, ManifestType::Whole},
    };
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

QByteArray metricsTableHeader(const QString &axis)
{
    QStringList extra;
    if (!axis.isEmpty())
        extra << axis;
    extra << QStringLiteral("cover") << QStringLiteral("replicate");
    return metricsCsvHeader(extra);
}

void appendMetricsTableRows(QByteArray &out, const MapRecord &record, const QString &axis)
{
    if (!record.measures.valid())
        return;
    QStringList cell;
    if (!axis.isEmpty())
        cell << QString::fromLatin1(manifestNumber("%.2f", record.axis));
    cell << QString::number(record.requestedCover) << QString::number(record.replicate);
    appendMetricsCsv(out, QFileInfo(record.fileName).fileName(), record.measures.get().rows, cell);
}

QByteArray metricsTableRows(const MapRecord &record, const QString &axis)
{
    QByteArray rows;
    appendMetricsTableRows(rows, record, axis);
    return rows;
}

FileResult writeMetricsTable(const QList<MapRecord> &records, const QString &pathPrefix,
                             const QString &axis, OnDisk onDisk)
{
    return saveLines(
        metricsTableName(pathPrefix), metricsTableHeader(axis), records.size(),
        [&records, &axis](qsizetype i, QByteArray &out) {
            appendMetricsTableRows(out, records[i], axis);
        },
        AtLink::Refuse, onDisk);
}
