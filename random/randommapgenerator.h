#pragma once

#include "core/batchjob.h"
#include "core/batchrequest.h"
#include "core/fileerror.h"
#include "core/maprecord.h"
#include "core/rand15.h"

#include <QList>
#include <QString>

// Draws and writes the maps of a random batch. Every cell is habitat with the
// requested cover as probability, one draw per cell in row-major order from
// one generator seeded once per batch, so a map depends on the seed and on
// every map drawn before it in the batch.
//
// Cells are drawn while the map is written, row by row, rather than into a
// size x size grid first: the files are the same, and memory no longer grows
// with the square of the size.
class RandomMapGenerator final : public MapSource {
public:
    explicit RandomMapGenerator(const RandomBatchRequest &request);

    MapRecord::Kind kind() const override { return MapRecord::Kind::Random; }
    const BatchOutput &output() const override { return m_request.output; }
    std::optional<QString> refusal() const override { return m_request.refusal(); }
    std::optional<QString> diskSpaceRefusal(const QString &folder) const override;
    QString longestMapName(const QString &nameStem) const override;
    BatchResult writeMaps(const QString &nameStem, QList<MapRecord> &written,
                          BatchProgress &progress) override;

    // nameStem, cover "%03i", "_", size, "x", size, "_a", replicate from 1,
    // and the format's extension.
    QString mapFileName(int replicateIndex, int cover, const QString &nameStem) const;

    // A draw k in 0..32767 is habitat when k / 32767 <= cover / 100, decided
    // in integers so no rounding can move the boundary.
    static constexpr bool isHabitat(int draw, int cover) { return 100 * draw <= 32767 * cover; }

private:
    // Draws one map from the generator's current state and writes it under
    // its name; the map is appended to `written` once complete on disk.
    FileResult writeMap(int replicateIndex, int cover, const QString &nameStem,
                        QList<MapRecord> &written);

    RandomBatchRequest m_request;
    Rand15 m_rng;
};

// The batch job of a random request.
BatchJob randomBatchJob(const RandomBatchRequest &request);
