// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/mappublisher.h"
#include "core/batch/maprecord.h"
#include "core/batch/mapsource.h"
#include "core/batch/maptargets.h"
#include "core/files/fileerror.h"
#include "random/randombatchrequest.h"

#include <QList>
#include <QString>

class MapWriter;

// Draws and writes the maps of a random batch. Every cell is habitat with the
// requested cover as probability. With the classic generator that is one
// draw per cell in row-major order from one generator seeded once per batch,
// so a map depends on the seed and on every map drawn before it in the batch;
// with Philox each map is a function of its own seed, size, cover and
// replicate (see PhiloxRandomMap).
//
// The classic generator can jump ahead, so each map starts its draws where
// the maps before it would have left them: two maps are drawn and written at
// once on two threads, and the files are the same as one after the other. Cells are
// drawn while the map is written, row by row, rather than into a grid first,
// so memory does not grow with the square of the size.
class RandomMapGenerator final : public MapSource {
public:
    explicit RandomMapGenerator(const RandomBatchRequest &request);

    const FamilyRequest &request() const override { return m_request; }
    QString longestMapName(const QString &nameStem) const override;
    ManifestColumns manifestColumns() const override;
    QList<Phrase> shortfalls(const MapTally &written) const override;
    QStringList acceptance() const override;
    void settleRecords(QList<MapRecord> &records) const override;
    BatchResult makeMaps(const QString &nameStem, MapPublisher &publisher,
                         BatchProgress &progress) override;

    // Whether this run makes the unit-th unit of the batch's shares
    // (RandomBatchRequest::shareUnits).
    bool ownsUnit(qint64 unit) const;

    // nameStem, cover "%03i", "_", size, "x", size, "_a", replicate from 1,
    // and the format's extension.
    QString mapFileName(int replicateIndex, int cover, const QString &nameStem) const;

    // A draw k in 0..32767 is habitat when k / 32767 <= cover / 100, decided
    // in integers so no rounding can move the boundary.
    static constexpr bool isHabitat(int draw, int cover) { return 100 * draw <= 32767 * cover; }

protected:
    bool ownsPlace(const NamePlace &place) const override;

private:
    // The index-th map of the batch, in the order covers and replicates are
    // visited.
    struct MapPlace {
        int cover = 0;
        int replicateIndex = 0;
    };
    MapPlace placeOf(qint64 index) const;
    QString progressLabel(qint64 index) const;
    // Draws the index-th map with `writer` and completes it under a
    // temporary name; safe to call for two maps at once with two writers.
    FileResult makeMap(qint64 index, const QString &nameStem, MapWriter &writer,
                       FinishedMap &map) const;
    // The same for a map of a given place whose Philox counter is `draw`.
    FileResult makeMapAt(MapPlace place, quint64 firstDraw, int draw, const QString &nameStem,
                         MapWriter &writer, FinishedMap &map) const;
    // Writes the rows of a map of classes (an exact cut, classes, a study
    // area) at that place.
    void putClasses(MapPlace place, quint64 firstDraw, int draw, MapWriter &writer) const;
    // With targets: each cover's maps drawn from replicate counters 1, 2, ...
    // until enough meet the targets or --max-draws is reached.
    BatchResult makeSelectedMaps(const QString &nameStem, MapPublisher &publisher,
                                 BatchProgress &progress);

    RandomBatchRequest m_request;
    SelectionLedger m_ledger;
};
