#include "core/batchmanifest.h"

#include "core/mapnames.h"
#include "core/writefully.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <charconv>
#include <cmath>

namespace {

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
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

QByteArray manifestHeader(const ManifestColumns &columns)
{
    QByteArray header = QByteArrayLiteral("file,kind,size,requested_cover,realised_cover,H,seed,"
                                          "replicate,threshold,cover_value,matrix_value");
    if (columns.sampling)
        header +=
            QByteArrayLiteral(",generator,stream,cut,distinct_surfaces,surfaces_per_h,first_seed");
    if (columns.surfaceFile)
        header += QByteArrayLiteral(",surface_file");
    if (columns.metrics)
        header += QByteArrayLiteral(",habitat_cells,np,lpi,area_mn,area_am,ed,gyrate_am");
    return header + '\n';
}

QByteArray manifestRow(const MapRecord &record, const ManifestColumns &columns)
{
    const bool fractal = record.kind == MapRecord::Kind::Fractal;
    // Both front ends make square maps; a caller of the core that does not
    // still gets both sides.
    const QByteArray size =
        record.rowCount == record.columnCount
            ? QByteArray::number(record.rowCount)
            : QByteArray::number(record.rowCount) + 'x' + QByteArray::number(record.columnCount);
    QByteArray row = csvField(QFileInfo(record.fileName).fileName());
    row += fractal ? QByteArrayLiteral(",fractal,") : QByteArrayLiteral(",random,");
    row += size + ',';
    row += QByteArray::number(record.requestedCover) + ',';
    row += number("%.2f", record.realisedCover()) + ',';
    // H is the value asked for, as the file name gives it: a run of several
    // H values reaches them by repeated addition and may hold 0.7999999999999999
    // where the user typed 0.8, which no one should have to filter for.
    if (fractal)
        row += number("%.2f", record.H);
    row += ',';
    row += QByteArray::number(record.seed) + ',';
    row += QByteArray::number(record.replicate) + ',';
    if (fractal)
        row += number("%.17g", record.threshold);
    row += ',';
    row += QByteArray::number(record.coverValue) + ',';
    row += QByteArray::number(record.matrixValue);
    if (columns.sampling) {
        row += record.generator == Generator::Philox ? QByteArrayLiteral(",philox,")
                                                     : QByteArrayLiteral(",classic,");
        row += QByteArray::number(record.stream) + ',';
        if (fractal) {
            row += record.cut == FractalCut::Exact ? QByteArrayLiteral("exact,")
                                                   : QByteArrayLiteral("ladder,");
            row += record.distinctSurfaces ? QByteArrayLiteral("yes,") : QByteArrayLiteral("no,");
            row += QByteArray::number(record.surfacesPerH) + ',';
            row += QByteArray::number(record.firstSeed);
        } else {
            row += QByteArrayLiteral(",,,");
        }
    }
    if (columns.surfaceFile)
        row += ',' + csvField(record.surfaceFile);
    if (columns.metrics) {
        const LandscapeMetrics m = record.metrics.value_or(LandscapeMetrics());
        row += ',' + QByteArray::number(m.habitatCells);
        row += ',' + QByteArray::number(m.patchCount);
        for (const double value :
             {m.largestPatchIndex, m.meanPatchArea, m.areaWeightedMeanPatchArea, m.edgeDensity,
              m.areaWeightedMeanGyration})
            row += ',' + shortest(value);
    }
    return row + '\n';
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
