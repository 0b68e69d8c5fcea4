// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchmanifest.h"
#include "core/batch/batchprogress.h"
#include "core/batch/batchrequest.h"
#include "core/batch/batchresult.h"
#include "core/batch/diskspace.h"
#include "core/batch/mappublisher.h"
#include "core/batch/maprecord.h"
#include "core/batch/mapsource.h"
#include "core/batch/runrecord.h"
#include "core/files/fileerror.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

class FileLock;

// Why a batch did not start. Nothing has been written when it is refused.
struct BatchRefusal {
    enum class Kind {
        // The request itself is wrong: a value out of range, say.
        Request,
        // The disk cannot hold what the batch would write.
        DiskSpace,
        // The folder is missing and cannot be made, or is not a folder.
        Folder,
        // A name would be longer than the file system allows.
        Names,
        // Another run is writing into the folder with the same prefix.
        Locked,
        // Files of an earlier run with the same prefix are in the folder, and
        // the request does not ask to replace them.
        ExistingFiles,
        // Something at one of the run's names must not be written through
        // or next to: a symbolic link, the other kind's files.
        Conflict,
    };
    Kind kind = Kind::Request;
    Phrase message;
    // For ExistingFiles: how many there are.
    qsizetype existingFiles = 0;
};

// What a batch did, for the front end to present.
struct BatchReport {
    std::optional<BatchRefusal> refusal;
    // How the maps ended: all written, stopped by the user, or stopped at a
    // map that could not be written (the reason in its message).
    BatchResult result;
    // The maps complete on disk, in the order they were written.
    QList<MapRecord> maps;
    QString batchListPath;
    QString manifestPath;
    FileResult batchListError;
    FileResult manifestError;
    // The long table of metrics, when the batch names any.
    QString metricsTablePath;
    FileResult metricsTableError;
    // For a share of a split batch: its record of the request and the maps.
    FileResult shardRecordError;
    // A resumed run that stopped before it named or replaced a file left the
    // folder as it found it, the records of the run it was to finish
    // included.
    bool folderUntouched = false;
    // Maps of an earlier run with this prefix that the run replaced the
    // list of but did not rewrite: still in the folder, in no list.
    qsizetype olderMapsKept = 0;
    // Whether the run finished an earlier one (--resume), and the maps
    // among `maps` it found complete and kept as they were; the others it
    // made.
    bool resumed = false;
    qint64 mapsResumed = 0;
    // Requested maps a completed run could not make, and why.
    QList<Phrase> shortfalls;
    // How each cell of a batch with targets that got its maps fared.
    QStringList acceptance;

    bool refused() const { return refusal.has_value(); }
    QStringList fileNames() const;
    // What went wrong in a run that started, one line a failure: a map that
    // could not be written, a record that was not written.
    QStringList failures() const;
};

// The one way a batch runs, from whichever front end: check the request and
// the free space, prepare the folder, make sure no other run and no earlier
// run's files are in the way, write the maps, then write the batch list and
// the manifest for the maps that were written, also when the run stopped
// early.
class BatchJob final {
public:
    explicit BatchJob(std::unique_ptr<MapSource> source);
    // The job of a request, made by its family's source.
    explicit BatchJob(const FamilyRequest &request);
    ~BatchJob();
    BatchJob(BatchJob &&) noexcept;
    BatchJob &operator=(BatchJob &&) noexcept;

    // The checks that come before anything is written, the folder's
    // creation and the run's lock. A front end that must act between them
    // and the run (clear its list, ask before replacing an earlier run)
    // calls this first; run() calls it otherwise. Repeated calls repeat
    // nothing.
    std::optional<BatchRefusal> prepare();

    // Lets the run replace the files of an earlier run with the same
    // prefix; prepare() checks again.
    void allowOverwrite();

    // Runs the batch. May be called from any one thread; the progress is
    // reported, and the cancel request read, from that thread.
    BatchReport run(BatchProgress &progress);

    // The absolute folder, the separator and the prefix every name of the
    // run starts with.
    QString nameStem() const;
    // What the run records of itself in its journal and a share's record.
    RunRecord runRecord() const;

private:
    // What a run that finishes one (--resume) knows of the run that stopped
    // in the folder.
    struct StoppedRun {
        // The run left its journal: it was killed, and the journal names
        // what it named.
        bool killed = false;
        // Something records that a run of this request stopped here, and
        // so that it could replace the earlier run's files at its names.
        bool recorded = false;
        // The killed run's journal holds this run's request: no file it
        // wrote can hold other bytes than this run makes, so a file that
        // does is an earlier run's it was to replace, named or not (a kill
        // between the journal naming a file and the file taking its name
        // leaves one such).
        bool sameRequest = false;
        // Files of the folder the stopped run wrote, by name: a file there
        // that holds other bytes than this run makes is another request's.
        QSet<QString> named;
        // The stopped run's manifest rows by file, when no journal says
        // more: a map kept must have the row it had.
        QByteArray manifestHeader;
        QHash<QString, QByteArray> manifestRows;
    };

    std::optional<BatchRefusal> check();
    std::optional<BatchRefusal> nameLengthRefusal(const QString &folder) const;
    std::optional<BatchRefusal> lock();
    std::optional<BatchRefusal> earlierRunRefusal();
    std::optional<BatchRefusal> resumeRefusal(const QStringList &earlier, bool killed);
    FileResult removeEarlierRecords() const;
    void removeLeftovers() const;
    // What a resumed run checks of each file and map it keeps.
    MapPublisher::Resumption resumption(std::atomic<bool> &touched,
                                        std::atomic<qint64> &kept) const;
    FileResult checkKeptRow(const MapRecord &record) const;
    FileResult writeShareRecord(const BatchReport &report,
                                const QHash<QString, Fingerprint> &fingerprints) const;

    std::unique_ptr<MapSource> m_source;
    bool m_overwrite = false;
    std::optional<std::optional<BatchRefusal>> m_prepared;
    std::unique_ptr<FileLock> m_lock;
    // File names (without folder) of the earlier run's maps found by
    // prepare().
    QStringList m_earlierMaps;
    // Temporary files that runs with this prefix left when they were
    // killed, found by prepare(); an allowed overwrite removes them.
    QStringList m_leftovers;
    StoppedRun m_stopped;
};
