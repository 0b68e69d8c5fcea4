// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mapsource.h"

#include "core/batch/batchoptions.h"

std::optional<QString> MapSource::diskSpaceRefusal(const QString &folder,
                                                   const FilesPresent &present) const
{
    return DiskSpace(folder).batchRefusal(request(), present);
}

qint64 MapSource::recordBytes() const
{
    // Records are not rounded to blocks, so any block size gives them.
    return request().diskEstimate(1).recordBytes;
}

QStringList MapSource::requestRecord() const
{
    return ::requestRecord(request());
}

bool MapSource::writesFile(const QString &fileName) const
{
    const QString &prefix = output().prefix;
    if (!fileName.startsWith(prefix))
        return false;
    const std::optional<NamePlace> place =
        family().names().read(QStringView(fileName).mid(prefix.size()));
    return place && ownsPlace(*place);
}

void MapSource::fillRecord(MapRecord &record, const QString &fileName, const MapWriter &writer,
                           int rows, int columns, int cover, int replicate) const
{
    record.fileName = fileName;
    record.family = &family();
    record.rowCount = rows;
    record.columnCount = columns;
    record.requestedCover = cover;
    record.cellCount = writer.cellCount();
    record.habitatCells = writer.habitatCellCount();
    if (output().cutsClasses()) {
        // The landscape is the study area: shares are of its cells.
        record.classCells = writer.classCellCounts();
        record.cellCount = 0;
        for (const qint64 cells : record.classCells)
            record.cellCount += cells;
        record.habitatCells = record.classCells.empty() ? 0 : record.classCells.back();
    }
    record.replicate = replicate;
    record.coverValue = output().coverValue;
    record.matrixValue = output().matrixValue;
}

BatchResult MapSource::writeMaps(const QString &nameStem, QList<MapRecord> &written,
                                 BatchProgress &progress, MapPublisher::BeforeNaming beforeNaming,
                                 std::optional<MapPublisher::Resumption> resumption,
                                 QHash<QString, Fingerprint> *fingerprints)
{
    MapPublisher publisher(written, output().sync);
    publisher.setBeforeNaming(std::move(beforeNaming));
    publisher.recordFingerprints(fingerprints);
    if (resumption)
        publisher.resumeFrom(std::move(*resumption));
    publisher.onEachMap([&progress, made = qint64(0), planned = plannedMaps()]() mutable {
        progress.mapsMade(++made, planned);
    });
    return makeMaps(nameStem, publisher, progress);
}

ManifestColumns MapSource::commonColumns() const
{
    ManifestColumns columns;
    // A map of classes has its metrics in the long table alone.
    columns.metrics = output().metrics && !output().cutsClasses();
    columns.selection = output().selects();
    columns.shape = !request().shape.isSquare() || output().studyArea;
    if (output().cutsClasses())
        columns.classes = output().classCodes();
    if (output().studyArea)
        columns.noData = output().outsideValue();
    columns.blend = !request().blends.empty();
    return columns;
}
