#include "core/batchmanifest.h"

#include "core/batchoptions.h"
#include "core/batchrequest.h"
#include "core/mapnames.h"
#include "core/writefully.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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
    const QByteArray kind = fractal    ? QByteArrayLiteral("fractal")
                            : gaussian ? QByteArrayLiteral("gaussian")
                                       : QByteArrayLiteral("random");
    // Both front ends make square maps; a caller of the core that does not
    // still gets both sides.
    const QByteArray size =
        record.rowCount == record.columnCount
            ? QByteArray::number(record.rowCount)
            : QByteArray::number(record.rowCount) + 'x' + QByteArray::number(record.columnCount);
    QList<ManifestField> fields{
        {"file", QFileInfo(record.fileName).fileName().toUtf8()},
        {"kind", kind},
        {"size", size},
        {"requested_cover", QByteArray::number(record.requestedCover)},
        {"realised_cover", number("%.2f", record.realisedCover())},
        // H is the value asked for, as the file name gives it: a run of
        // several H values reaches them by repeated addition and may hold
        // 0.7999999999999999 where the user typed 0.8, which no one should
        // have to filter for.
        {"H", fractal || fbm ? number("%.2f", record.H) : QByteArray()},
        {"seed", QByteArray::number(record.seed)},
        {"replicate", QByteArray::number(record.replicate)},
        {"threshold", fractal || gaussian ? number("%.17g", record.threshold) : QByteArray()},
        {"cover_value", QByteArray::number(record.coverValue)},
        {"matrix_value", QByteArray::number(record.matrixValue)},
    };
    if (columns.sampling) {
        fields.append({"generator", wordOf(record.generator).toLatin1()});
        fields.append({"stream", QByteArray::number(record.stream)});
        fields.append({"cut", fractal ? wordOf(record.cut).toLatin1() : QByteArray()});
        fields.append(
            {"tied_habitat", fractal ? QByteArray::number(record.tiedHabitat) : QByteArray()});
        fields.append({"distinct_surfaces", !fractal                  ? QByteArray()
                                            : record.distinctSurfaces ? QByteArrayLiteral("yes")
                                                                      : QByteArrayLiteral("no")});
        fields.append(
            {"surfaces_per_h", fractal ? QByteArray::number(record.surfacesPerH) : QByteArray()});
        fields.append(
            {"first_seed", fractal ? QByteArray::number(record.firstSeed) : QByteArray()});
    }
    if (columns.gaussian) {
        fields.append(
            {"model", gaussian ? covarianceModelName(record.model).toLatin1() : QByteArray()});
        fields.append({"range", gaussian && !fbm ? number("%.2f", record.range) : QByteArray()});
        fields.append({"nu", gaussian && record.model == CovarianceModel::Matern
                                 ? number("%.2f", record.nu)
                                 : QByteArray()});
        fields.append({"cut", gaussian ? wordOf(record.cut).toLatin1() : QByteArray()});
        fields.append(
            {"tied_habitat", gaussian ? QByteArray::number(record.tiedHabitat) : QByteArray()});
    }
    if (columns.surfaceFile)
        fields.append({"surface_file", record.surfaceFile.toUtf8()});
    if (columns.metrics) {
        const LandscapeMetrics m = record.metrics.value_or(LandscapeMetrics());
        fields.append({"habitat_cells", QByteArray::number(m.habitatCells)});
        fields.append({"np", QByteArray::number(m.patchCount)});
        fields.append({"lpi", shortest(m.largestPatchIndex)});
        fields.append({"area_mn", shortest(m.meanPatchArea)});
        fields.append({"area_am", shortest(m.areaWeightedMeanPatchArea)});
        fields.append({"ed", shortest(m.edgeDensity)});
        fields.append({"gyrate_am", shortest(m.areaWeightedMeanGyration)});
    }
    return fields;
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

FileResult writeManifest(const QList<MapRecord> &records, const QString &pathPrefix,
                         const ManifestColumns &columns)
{
    return saveLines(
        manifestFileName(pathPrefix), manifestHeader(columns), records.size(),
        [&records, &columns](qsizetype i, QByteArray &out) {
            out += manifestRow(records[i], columns);
        },
        AtLink::Refuse);
}
