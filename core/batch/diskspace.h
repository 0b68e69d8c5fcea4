// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchrequest.h"

#include <QString>
#include <QtGlobal>

#include <optional>

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
// Sizes are doubles: the largest requests the dialogs allow need some 10^23
// bytes, beyond any integer type the check could use, and an estimate does
// not need more than 15 significant digits.
class DiskSpace final {
public:
    // A random map of cover c has, on average, c per cent of its cells
    // written as the cover code, so the estimate follows the covers: it is
    // exact when both codes have the same length and close otherwise. Each
    // file is rounded up to whole blocks, which dominates for tiny maps.
    static double randomBatchBytes(const RandomBatchRequest &request, qint64 blockSize);
    static qint64 randomBatchFiles(const RandomBatchRequest &request);

    // An upper bound: every requested cover gets all its replicates for
    // every H (a surface gives at most one map per threshold), and each cell
    // is counted with the longer code the map's cover allows.
    static double fractalBatchBytes(const FractalBatchRequest &request, qint64 blockSize);
    static qint64 fractalBatchFiles(const FractalBatchRequest &request);

    // The batch list, the manifest and the run's journal at their largest,
    // unrounded: what a run sets aside before its first map, so that a disk
    // filling up under it still takes the records of the maps it holds.
    static qint64 randomRecordBytes(const RandomBatchRequest &request);
    static qint64 fractalRecordBytes(const FractalBatchRequest &request);
    static qint64 gaussianRecordBytes(const GaussianBatchRequest &request);

    // Every map of a Gaussian field batch: exact cuts hold their cover to the
    // cell, ladder cuts between it and the next whole percentage. A surface
    // file, when asked for, takes at most 16 bytes a cell.
    static double gaussianBatchBytes(const GaussianBatchRequest &request, qint64 blockSize);
    static qint64 gaussianBatchFiles(const GaussianBatchRequest &request);

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
    std::optional<QString> batchRefusal(const RandomBatchRequest &request,
                                        const FilesPresent &present = {}) const;
    std::optional<QString> batchRefusal(const FractalBatchRequest &request,
                                        const FilesPresent &present = {}) const;
    std::optional<QString> batchRefusal(const GaussianBatchRequest &request,
                                        const FilesPresent &present = {}) const;

private:
    QString m_folder;
    qint64 m_bytesAvailable = -1;
    qint64 m_filesAvailable = -1;
    qint64 m_blockSize = 4096;
};
