#include "random/randommapgenerator.h"

#include "core/mapfilewriter.h"

#include <QCoreApplication>

#include <algorithm>

int RandomMapGenerator::coverStepCount(int initialCover, int finalCover, int coverStep)
{
    return (finalCover - initialCover + coverStep) / coverStep;
}

void RandomMapGenerator::prepareBatch(quint32 seed, int rows, int columns)
{
    rng.seed(seed);
    batchSeed = seed;
    rowCount = rows;
    columnCount = columns;
}

QString RandomMapGenerator::mapFileName(int replicateIndex, int cover,
                                        const QString &nameStem) const
{
    return nameStem + QString::asprintf("%03i", cover) + QLatin1Char('_') +
           QString::number(rowCount) + QLatin1Char('x') + QString::number(columnCount) +
           QStringLiteral("_a") + QString::number(replicateIndex + 1) +
           MapFileWriter::extension(format);
}

FileResult RandomMapGenerator::writeMap(int replicateIndex, int cover, qint32 matrixValue,
                                        qint32 coverValue, const QString &nameStem,
                                        QStringList &fileNames)
{
    const QString name = mapFileName(replicateIndex, cover, nameStem);
    MapFileWriter writer(matrixValue, coverValue, format);
    if (FileResult error = writer.open(name, rowCount, columnCount))
        return error;
    // Largest draw that still gives habitat for this cover.
    const int habitatLimit = (32767 * cover) / 100;
    for (int i = 0; i < rowCount; ++i)
        writer.putRow(columnCount,
                      [this, habitatLimit](int) { return rng.next() <= habitatLimit; });
    if (FileResult error = writer.commit())
        return error;
    fileNames.append(name);
    if (records) {
        MapRecord record;
        record.fileName = name;
        record.kind = MapRecord::Kind::Random;
        record.rowCount = rowCount;
        record.columnCount = columnCount;
        record.requestedCover = cover;
        record.cellCount = writer.cellCount();
        record.habitatCells = writer.habitatCellCount();
        record.seed = qint32(batchSeed);
        record.replicate = replicateIndex + 1;
        record.coverValue = coverValue;
        record.matrixValue = matrixValue;
        records->append(record);
    }
    return std::nullopt;
}

BatchResult RandomMapGenerator::runBatch(int initialCover, int finalCover, int coverStep, int rows,
                                         int columns, int replicates, qint32 matrixValue,
                                         qint32 coverValue, const QString &nameStem, quint32 seed,
                                         QStringList &fileNames, BatchProgress &progress)
{
    if (coverStep < 1 || rows < 1 || columns < 1 || replicates < 0)
        return BatchResult::refused(QCoreApplication::translate(
            "RandomMapGenerator", "The cover step, the size and the replicates must be positive."));

    prepareBatch(seed, rows, columns);

    const int total = std::max(0, coverStepCount(initialCover, finalCover, coverStep) * replicates);
    progress.setMaximum(total);
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);

    int done = 0;
    for (int cover = initialCover; cover <= finalCover; cover += coverStep) {
        for (int r = 0; r < replicates; ++r) {
            progress.setLabelText(QStringLiteral("gerando para cobertura ") +
                                  QString::number(cover) + QStringLiteral(" amostra no.") +
                                  QString::number(r + 1));
            if (const FileResult error =
                    writeMap(r, cover, matrixValue, coverValue, nameStem, fileNames))
                return BatchResult::writeFailed(error->message());
            progress.setValue(++done);
            if (progress.wasCanceled())
                return BatchResult::canceled();
        }
    }
    return BatchResult::completed();
}
