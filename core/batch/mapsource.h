// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchmanifest.h"
#include "core/batch/batchprogress.h"
#include "core/batch/batchresult.h"
#include "core/batch/diskspace.h"
#include "core/batch/mapfamily.h"
#include "core/batch/mappublisher.h"
#include "core/batch/maprecord.h"
#include "core/batch/mapwriter.h"
#include "core/batch/phrase.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What makes the maps of a batch: each family's generator. The batch job
// around it does everything that is the same for every family, and what
// can be told from the request and the family's names is told here once.
class MapSource {
public:
    virtual ~MapSource() = default;

    // The request the source makes the maps of.
    virtual const FamilyRequest &request() const = 0;
    const MapFamily &family() const { return request().family(); }
    const BatchOutput &output() const { return request().output; }
    // The request's own refusal, or why the source cannot make what it
    // asks (a field the embedding cannot draw).
    virtual std::optional<Phrase> refusal() const { return request().refusal(); }
    // The free-space check's reason to refuse the batch on `folder`'s disk,
    // where the files `present` of it are already.
    std::optional<QString> diskSpaceRefusal(const QString &folder,
                                            const FilesPresent &present) const;
    // The longest name a map of this batch, or a file written with it, can
    // have.
    virtual QString longestMapName(const QString &nameStem) const = 0;
    // The bytes the batch list, the manifest and the journal can take at
    // most; the run sets them aside before its first map.
    qint64 recordBytes() const;
    // What the batch's manifest tells beyond the classic columns.
    virtual ManifestColumns manifestColumns() const = 0;
    // The columns every family's batch has alike for its output: metrics,
    // selection, the sides of maps that are not square. A family's
    // manifestColumns() starts from these.
    ManifestColumns commonColumns() const;
    // Makes the maps, each named nameStem and its own tail, and hands each
    // to the publisher once it is complete: as files it names in order, or
    // in memory. Whatever the outcome, what the publisher passed on is
    // exactly the maps a user can rely on.
    virtual BatchResult makeMaps(const QString &nameStem, MapPublisher &publisher,
                                 BatchProgress &progress) = 0;
    // The options of the request that decide what the run writes, as
    // requestRecord() in core/batch/batchoptions.h gives them.
    QStringList requestRecord() const;
    // Whether a file of the folder (its name without the folder) is one
    // this run could write under that name: a map or surface of its request
    // and of its share.
    bool writesFile(const QString &fileName) const;

    // Makes the maps as files, appending each to `written` once it has its
    // name; `beforeNaming` sees every file just before it is named, and
    // `fingerprints`, when given, gets each file's (see MapPublisher).
    BatchResult writeMaps(const QString &nameStem, QList<MapRecord> &written,
                          BatchProgress &progress, MapPublisher::BeforeNaming beforeNaming = {},
                          std::optional<MapPublisher::Resumption> resumption = {},
                          QHash<QString, Fingerprint> *fingerprints = nullptr);
    // The maps the request asks for, for progress displays; a run can make
    // fewer.
    qint64 plannedMaps() const { return request().plannedMaps(); }
    // For a run that went to its end: the requested maps it could not make,
    // and why, one line a reason.
    virtual QList<Phrase> shortfalls(const MapTally &written) const
    {
        Q_UNUSED(written);
        return {};
    }
    // For a run with targets: how each cell that got its maps fared.
    virtual QStringList acceptance() const { return {}; }
    // Completes what the records of a run say about the run as a whole (how
    // the cells of a batch with targets fared) before the manifest is written.
    virtual void settleRecords(QList<MapRecord> &records) const { Q_UNUSED(records); }

protected:
    // Fills what every family's record of a map says alike: its file,
    // family, sides, requested cover and replicate, and what `writer` wrote
    // (cells, habitat cells, the codes). Its place in the batch and its own
    // parameters are the family's to add.
    void fillRecord(MapRecord &record, const QString &fileName, const MapWriter &writer, int rows,
                    int columns, int cover, int replicate) const;

    // Whether this run writes the file of a place its family's names read:
    // one of the request's maps (or surfaces) and of its share.
    virtual bool ownsPlace(const NamePlace &place) const = 0;
};
