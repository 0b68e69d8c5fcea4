// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchrequest.h"
#include "core/batch/mapfamily.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <utility>

// Files of a batch that are already on disk: a resumed run keeps them and
// needs room only for the rest.
struct FilesPresent {
    double bytes = 0;
    qint64 files = 0;
};

// What a batch will put on disk, estimated before it starts, and the check of
// that estimate against the room left where it will be written. A request
// that cannot fit (a million 10-megacell maps, say) is refused up front
// instead of failing hours later on a full disk.
//
// Each family estimates its own batches (FamilyRequest::diskEstimate) from
// the pieces below. Sizes are doubles: the largest requests the dialogs
// allow need some 10^23 bytes, beyond any integer type the check could use,
// and an estimate does not need more than 15 significant digits.
class DiskSpace final {
public:
    // The pieces the families' estimates (FamilyRequest::diskEstimate) are
    // made of.
    // Characters of the decimal text of `value`.
    static int decimalLength(qint64 value);
    static double roundUpToBlocks(double bytes, qint64 blockSize);
    // A map of its rows of its columns' cells, a line feed each, with `fraction` of
    // the cells written as the cover code: exact when both codes have the
    // same length and close otherwise.
    static double mapBytes(const BatchOutput &output, MapShape shape, double coverFraction);
    // The batch list, the manifest, the journal and a share's record of a
    // run of `maps` maps (surfaces count as maps) whose names are the prefix
    // and `nameTailBytes`: rounded up to whole blocks, and at their largest,
    // unrounded, which is what a run sets aside before its first map.
    static double runRecordBytes(const BatchOutput &output, double maps, int nameTailBytes,
                                 qint64 blockSize);
    static qint64 recordBytes(const BatchOutput &output, double maps, int nameTailBytes);
    // The part of a batch a share of it makes; the whole of an unsplit batch.
    static double shareOf(const FamilyRequest &request);
    // The batch list, the manifest, the temporary file of the map being
    // written, and a share's record for a split batch.
    static qint64 recordFiles(const BatchOutput &output) { return 3 + (output.shard ? 1 : 0); }
    // The estimate of a batch that writes a file a map, the replicates of
    // each of `axisCount` values of its sweep and each cover, a map of a
    // cover holding between coverRange(cover).first and .second of habitat
    // (fractions), and beside every map its surface of at most 16 bytes a
    // cell when `surfaces`.
    static DiskEstimate sweptMaps(const FamilyRequest &request, double axisCount, bool surfaces,
                                  int nameTailBytes, qint64 blockSize,
                                  const std::function<std::pair<double, double>(int)> &coverRange);

    // "512 bytes", "1.5 KiB", ... "86.7 ZiB", independent of the locale.
    static QString humanSize(double bytes);

    // Looks at the file system holding `folder`, or at its nearest existing
    // ancestor when the folder is still to be created. An empty folder text
    // is left to the output folder's own check and never refused here.
    explicit DiskSpace(const QString &folder);

    // The file system's allocation unit, 4096 when it cannot be known.
    qint64 blockSize() const { return m_blockSize; }

    // A user-facing reason to refuse a batch of `bytes` in `files` files, or
    // nothing when it fits or when the file system does not say how much
    // room is left.
    std::optional<QString> refusal(double bytes, qint64 files) const;
    // The same for a request, whose files `present` are on the disk already.
    std::optional<QString> batchRefusal(const FamilyRequest &request,
                                        const FilesPresent &present = {}) const;

private:
    QString m_folder;
    qint64 m_bytesAvailable = -1;
    qint64 m_filesAvailable = -1;
    qint64 m_blockSize = 4096;
};
