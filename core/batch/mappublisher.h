// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/maprecord.h"
#include "core/files/bulkmemory.h"
#include "core/files/fileerror.h"
#include "core/files/fingerprint.h"
#include "core/files/helperthread.h"
#include "core/files/pendingfile.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A map's codes kept in memory, row by row: in large pages where the
// system gives them, since a map of millions of cells is written once and
// handed over, and every small page of it would cost a fault.
using MapCells = std::vector<qint32, BulkAllocator<qint32>>;

// A map that is complete under temporary names: its own file, and any file
// that goes with it (the surface it was cut from), waiting to be named.
struct FinishedMap {
    MapRecord record;
    std::vector<PendingFile> files;
    // The map's codes, row by row, when the batch keeps its maps in memory
    // instead of writing files.
    MapCells cells;
    // False for files that go with maps but are no map themselves (the
    // surfaces of fractal maps): they are named in order, but not listed.
    bool listed = true;
};

// Names the maps of a run in the order they were made, a group at a time:
// the group is put on disk with one wait (see PendingFile::syncFileSystem),
// then each file is renamed into place, so the wait for the disk is paid
// once a group rather than once a map, and a crash still leaves under a
// map's name only a complete map that was on disk before it got the name.
// A map is appended to the run's list of written maps once all its files
// carry their names.
//
// A full group is named on a thread of its own while the run makes the
// next, so that the time spent waiting for the disk and the time spent
// making maps overlap instead of adding up. One group is named at a time;
// its failure is reported by the next call, which then drops every map
// queued after it, as if the run had stopped at the failure.
class MapPublisher final {
public:
    // Without syncing, files are named as soon as they are complete: for
    // scratch runs on a RAM disk, where a crash takes everything anyway.
    MapPublisher(QList<MapRecord> &written, bool syncToDisk);

    // Where the maps of a batch that keeps them in memory go, one at a time
    // and in order, as soon as each is made.
    using Consumer = std::function<void(MapRecord record, MapCells cells)>;
    explicit MapPublisher(Consumer consumer);
    bool inMemory() const { return bool(m_consumer); }
    ~MapPublisher();
    MapPublisher(const MapPublisher &) = delete;
    MapPublisher &operator=(const MapPublisher &) = delete;

    // Called with the target paths of a map's files just before they are
    // named; its failure stops the naming as a file's would.
    using BeforeNaming = std::function<FileResult(const QStringList &targets)>;
    void setBeforeNaming(BeforeNaming beforeNaming) { m_beforeNaming = std::move(beforeNaming); }

    // For a run that finishes one that stopped (--resume): a file already at
    // a target is compared with the new one. The same bytes are kept and the
    // new copy dropped; other bytes are replaced when `mayReplace` says the
    // file is an earlier run's that the stopped run was to replace, and stop
    // the run otherwise. `checkKept` sees the record of every map kept whole.
    struct Resumption {
        std::function<bool(const QString &target)> mayReplace;
        std::function<FileResult(const MapRecord &record)> checkKept;
        // Told of every map kept whole, on whichever thread names it.
        std::function<void()> kept;
    };
    void resumeFrom(Resumption resumption) { m_resumption = std::move(resumption); }

    // Keeps the fingerprint of every file named, or kept by a resumed run,
    // under its name without the folder: what a share records, so that
    // `merge` can tell whether the files are still those the run wrote.
    // Each is taken as its file is complete, on the thread that names it.
    void recordFingerprints(QHash<QString, Fingerprint> *into) { m_fingerprints = into; }

    // Queues a finished map and starts naming the queue once it holds a
    // group's worth of maps or bytes.
    FileResult add(FinishedMap map);
    // Names every queued map, and waits until they and the group named
    // before them carry their names. On a failure, the maps before the one
    // that failed are named and listed, the rest are dropped.
    FileResult flush();
    // Drops every queued map; none of them appears under its name. A group
    // already being named is named.
    void discard();
    // Called for every map that is complete, as it is added: what a
    // progress display counts, before the map has its name.
    void onEachMap(std::function<void()> made) { m_made = std::move(made); }

    // A group closes at whichever comes first.
    static constexpr qsizetype groupMaps = 64;
    static constexpr qint64 groupBytes = qint64(32) << 20;

private:
    FileResult startNaming();
    FileResult waitForNaming();
    FileResult name(std::vector<FinishedMap> &maps);
    // For a resumed run (see resumeFrom): whether the file at the target
    // holds the new file's bytes, and so is kept; and naming a file that
    // is not kept, when it may replace what is there.
    static bool isKept(const PendingFile &file);
    FileResult nameOrReplace(PendingFile &file) const;

    QList<MapRecord> m_unused;
    QList<MapRecord> &m_written;
    const bool m_sync;
    Consumer m_consumer;
    BeforeNaming m_beforeNaming;
    std::optional<Resumption> m_resumption;
    QHash<QString, Fingerprint> *m_fingerprints = nullptr;
    std::function<void()> m_made;
    std::vector<FinishedMap> m_pending;
    qint64 m_pendingBytes = 0;
    // The group being named, and how that ended; m_written is appended to
    // by the naming thread until waitForNaming() returns.
    std::unique_ptr<HelperThread> m_namer;
    std::vector<FinishedMap> m_naming;
    FileResult m_namingResult;
    bool m_namingStarted = false;
};
