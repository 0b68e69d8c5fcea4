#include "random/randommapgenerator.h"

#include "core/diskspace.h"
#include "core/mapfilewriter.h"
#include "core/mapnames.h"

#include <algorithm>
#include <climits>

RandomMapGenerator::RandomMapGenerator(const RandomBatchRequest &request)
    : m_request(request)
{}

std::optional<QString> RandomMapGenerator::diskSpaceRefusal(const QString &folder) const
{
    return DiskSpace(folder).batchRefusal(m_request);
}

QString RandomMapGenerator::longestMapName(const QString &nameStem) const
{
    return randomMapName(nameStem, 100, m_request.size, m_request.replicates,
                         m_request.output.format);
}

QString RandomMapGenerator::mapFileName(int replicateIndex, int cover,
                                        const QString &nameStem) const
{
    return randomMapName(nameStem, cover, m_request.size, replicateIndex + 1,
                         m_request.output.format);
}

FileResult RandomMapGenerator::writeMap(int replicateIndex, int cover, const QString &nameStem,
                                        QList<MapRecord> &written)
{
    const BatchOutput &output = m_request.output;
    const int size = m_request.size;
    const QString name = mapFileName(replicateIndex, cover, nameStem);
    MapFileWriter writer(output.matrixValue, output.coverValue, output.format);
    if (FileResult error = writer.open(name, size, size))
        return error;
    // Largest draw that still gives habitat for this cover.
    const int habitatLimit = (32767 * cover) / 100;
    for (int i = 0; i < size; ++i)
        writer.putRow(size, [this, habitatLimit](int) { return m_rng.next() <= habitatLimit; });
    if (FileResult error = writer.commit())
        return error;

    MapRecord record;
    record.fileName = name;
    record.kind = MapRecord::Kind::Random;
    record.rowCount = size;
    record.columnCount = size;
    record.requestedCover = cover;
    record.cellCount = writer.cellCount();
    record.habitatCells = writer.habitatCellCount();
    record.seed = m_request.seed;
    record.replicate = replicateIndex + 1;
    record.coverValue = output.coverValue;
    record.matrixValue = output.matrixValue;
    written.append(record);
    return std::nullopt;
}

BatchResult RandomMapGenerator::writeMaps(const QString &nameStem, QList<MapRecord> &written,
                                          BatchProgress &progress)
{
    // The seed's bits are taken unchanged, as srand takes them.
    m_rng.seed(quint32(m_request.seed));

    const CoverRange &covers = m_request.covers;
    progress.setMaximum(int(std::min<qint64>(m_request.mapCount(), INT_MAX)));
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);

    int done = 0;
    for (int cover = covers.first; cover <= covers.last; cover += covers.step) {
        for (int r = 0; r < m_request.replicates; ++r) {
            progress.setLabelText(QStringLiteral("gerando para cobertura ") +
                                  QString::number(cover) + QStringLiteral(" amostra no.") +
                                  QString::number(r + 1));
            if (const FileResult error = writeMap(r, cover, nameStem, written))
                return BatchResult::failed(error->message());
            progress.setValue(++done);
            if (progress.wasCanceled())
                return BatchResult::canceled();
        }
    }
    return BatchResult::completed();
}

BatchJob randomBatchJob(const RandomBatchRequest &request)
{
    return BatchJob(std::make_unique<RandomMapGenerator>(request));
}
