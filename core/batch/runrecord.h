// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/files/fingerprint.h"
#include "core/files/writefully.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>
#include <variant>
#include <vector>

// What a run records of itself, so that a run that finishes it (--resume)
// and `merge` can tell whether two runs belong to one request: its kind,
// its share of a split batch, the release that ran it and every option
// that decides what it writes (requestRecord() in core/batch/batchoptions.h).
// The run's journal starts with it, and a share's record holds it.
struct RunRecord {
    QString kind;
    // "K/N", or empty for a whole batch.
    QString shard;
    QString version;
    QStringList request;

    // One line of compact JSON, without the line feed.
    QByteArray toJsonLine() const;
    // The record a line holds, or nothing when it holds none (a torn line,
    // a file name).
    static std::optional<RunRecord> fromJsonLine(const QByteArray &line);
    // What in `other` differs from this record, in words for the user: the
    // kind, the share, and the options given otherwise. The release is not
    // among them; the maps a release makes are checked byte for byte.
    QStringList differencesFrom(const RunRecord &other) const;
};

// The record a share of a split batch leaves beside its maps
// (shardRecordName in core/batch/mapnames.h), as does a whole batch that
// stopped short: the run's record, whether it ran to its end, and each of
// its maps' place in the whole batch's order, name and surface file, in the
// order it wrote them. A share also records what its map, its surface and
// its manifest row held when it wrote them, for `merge` to check; records
// of earlier releases hold no fingerprints, which read as not taken.
struct ShareRecord {
    struct Map {
        qint64 position = 0;
        QString file;
        QString surface;
        Fingerprint content;
        Fingerprint surfaceContent;
        // The manifest row, without its line feed.
        Fingerprint row;
        // Its rows of the long table of metrics, when the batch wrote one.
        Fingerprint measures;
    };

    RunRecord run;
    bool complete = false;
    std::vector<Map> maps;
};

// Writes the record whole, or nothing: through a temporary file renamed into
// place only once all of it was written, so a disk that fills up under it
// leaves no record rather than part of one that could pass for a whole.
FileResult writeShareRecord(const QString &path, const ShareRecord &record,
                            OnDisk onDisk = OnDisk::Wait);
// The record at `path`, or why it cannot be one, naming the file.
std::variant<ShareRecord, QString> readShareRecord(const QString &path);
