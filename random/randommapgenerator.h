#pragma once

#include "core/batchprogress.h"
#include "core/batchresult.h"
#include "core/fileerror.h"
#include "core/mapfilewriter.h"
#include "core/maprecord.h"
#include "random/rand15.h"

#include <QList>
#include <QString>
#include <QStringList>

// Draws and writes the maps of a random batch. Every cell is habitat with the
// requested cover as probability, one draw per cell in row-major order from
// one generator seeded once per batch, so a map depends on the seed and on
// every map drawn before it in the batch.
//
// Cells are drawn while the map is written, row by row, rather than into a
// size x size grid first: the files are the same, and memory no longer grows
// with the square of the size.
class RandomMapGenerator final {
public:
    RandomMapGenerator() = default;

    BatchResult runBatch(int initialCover, int finalCover, int coverStep, int rowCount,
                         int columnCount, int replicates, qint32 matrixValue, qint32 coverValue,
                         const QString &nameStem, quint32 seed, QStringList &fileNames,
                         BatchProgress &progress);

    // What a batch writes besides the plain map files: another file format,
    // and a record of every map written, appended to `records` in the order
    // of fileNames. Both hold for every later batch of this generator.
    void setFormat(MapFileWriter::Format mapFormat) { format = mapFormat; }
    void setRecords(QList<MapRecord> *mapRecords) { records = mapRecords; }

    // Once per batch: seeds the generator and fixes the map size.
    void prepareBatch(quint32 seed, int rowCount, int columnCount);

    // Draws one map and writes it under its name. The name is appended to
    // fileNames only once the file is complete on disk.
    FileResult writeMap(int replicateIndex, int cover, qint32 matrixValue, qint32 coverValue,
                        const QString &nameStem, QStringList &fileNames);

    QString mapFileName(int replicateIndex, int cover, const QString &nameStem) const;

    // A draw k in 0..32767 is habitat when k / 32767 <= cover / 100, decided
    // in integers so no rounding can move the boundary.
    static constexpr bool isHabitat(int draw, int cover) { return 100 * draw <= 32767 * cover; }

    // The number of cover values the loop visits (the dialog's total divides
    // the same way).
    static int coverStepCount(int initialCover, int finalCover, int coverStep);

private:
    Rand15 rng;
    int rowCount = 0;
    int columnCount = 0;
    quint32 batchSeed = 0;
    MapFileWriter::Format format = MapFileWriter::Format::Plain;
    QList<MapRecord> *records = nullptr;
};
