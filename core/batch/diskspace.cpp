// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/diskspace.h"

#include "core/files/outputpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <array>
#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/statvfs.h>
#endif

namespace {

// The batch list names every map with its folder and the post-string; the
// run's other records (the manifest) take at most this much per map besides
// the name, and the metric columns as much again; the journal names each
// map without its folder while the run writes.
constexpr double recordBytesPerMap = 256;

struct RecordBytes {
    double list = 0;
    double manifest = 0;
    double journal = 0;
    // The share's record of a split batch: each map's place, name and
    // surface file.
    double share = 0;
    // The long table of metrics: a row for each chosen metric of each
    // class, and of the landscape.
    double table = 0;

    double total() const { return list + manifest + journal + share + table; }
};

// What a share records of its request besides its maps, at most, its
// post-string and prefix aside.
constexpr double shareRequestBytes = 4096;

RecordBytes recordBytesOf(const BatchOutput &output, double maps, int nameTailBytes)
{
    const double name = double(nameStem(output.folder, output.prefix).size() + nameTailBytes);
    const double perMap = recordBytesPerMap * (output.metrics ? 2 : 1);
    const double ownName = double(output.prefix.size() + nameTailBytes);
    // Batches make two classes: a row names the file, the level, a class
    // code, the metric, a number of at most 24 characters and the map's
    // cell of the batch.
    const double tableRows =
        2.0 * output.metricTable.classCount() + double(output.metricTable.landscapeCount());
    return {maps * (name + double(output.postString.size()) + 1), maps * (name + perMap),
            maps * (ownName + 1),
            output.shard ? maps * (2 * ownName + 48) + shareRequestBytes +
                               double(output.postString.size() + output.prefix.size())
                         : 0,
            maps * tableRows * (ownName + 96)};
}

// A code as written in a map: its decimal text and one space.
double cellBytes(qint32 code)
{
    return double(DiskSpace::decimalLength(code) + 1);
}

} // namespace

int DiskSpace::decimalLength(qint64 value)
{
    int length = value < 0 ? 2 : 1;
    for (quint64 rest = value < 0 ? 0 - quint64(value) : quint64(value); rest >= 10; rest /= 10)
        ++length;
    return length;
}

double DiskSpace::roundUpToBlocks(double bytes, qint64 blockSize)
{
    const double block = double(std::max<qint64>(blockSize, 1));
    return std::ceil(bytes / block) * block;
}

double DiskSpace::mapBytes(const BatchOutput &output, MapShape shape, double coverFraction)
{
    double perCell = coverFraction * cellBytes(output.coverValue) +
                     (1.0 - coverFraction) * cellBytes(output.matrixValue);
    // Classes' shares of a map are not its cover: every cell is counted at
    // the longest code, NODATA included.
    if (output.cutsClasses()) {
        perCell = double(DiskSpace::decimalLength(output.outsideValue()) + 1);
        for (const qint32 code : output.classCodes())
            perCell = std::max(perCell, cellBytes(code));
    }
    return double(shape.rows) * (double(shape.columns) * perCell + 1.0);
}

double DiskSpace::runRecordBytes(const BatchOutput &output, double maps, int nameTailBytes,
                                 qint64 blockSize)
{
    const RecordBytes bytes = recordBytesOf(output, maps, nameTailBytes);
    return roundUpToBlocks(bytes.list, blockSize) + roundUpToBlocks(bytes.manifest, blockSize) +
           roundUpToBlocks(bytes.journal, blockSize) + roundUpToBlocks(bytes.share, blockSize);
}

qint64 DiskSpace::recordBytes(const BatchOutput &output, double maps, int nameTailBytes)
{
    return qint64(std::min(recordBytesOf(output, maps, nameTailBytes).total(), 9.0e18));
}

double DiskSpace::shareOf(const FamilyRequest &request)
{
    const std::optional<BatchShard> &shard = request.output.shard;
    return shard ? shard->fraction(request.shareUnits()) : 1.0;
}

DiskEstimate DiskSpace::sweptMaps(const FamilyRequest &request, double axisCount, bool surfaces,
                                  int nameTailBytes, qint64 blockSize,
                                  const std::function<std::pair<double, double>(int)> &coverRange)
{
    const BatchOutput &output = request.output;
    const MapShape shape = request.shape;
    DiskEstimate estimate;
    const double share = shareOf(request);
    const qint64 ownMaps = qint64(std::ceil(double(request.mapCount()) * share));
    const qint64 ownFiles = ownMaps * (surfaces ? 2 : 1);
    estimate.files = ownFiles + recordFiles(output);
    // Surfaces are counted as maps, as the journal names them too.
    estimate.recordBytes = recordBytes(output, double(ownFiles), nameTailBytes);
    if (shape.rows < 1 || shape.columns < 1 || request.replicates < 1 || axisCount < 1)
        return estimate;
    // A surface as an ESRI grid takes at most 15 characters a value, as a
    // GeoTIFF 4 bytes and its tags; its name goes into the manifest too.
    const double surface =
        surfaces ? roundUpToBlocks(16.0 * double(shape.cells()) + 65536.0, blockSize) +
                       double(output.prefix.toUtf8().size() + nameTailBytes)
                 : 0.0;
    double perAxis = 0;
    double mapsPerAxis = 0;
    for (const int cover : request.covers.values()) {
        const auto [low, high] = coverRange(cover);
        perAxis +=
            request.replicates *
            (roundUpToBlocks(std::max(mapBytes(output, shape, low), mapBytes(output, shape, high)),
                             blockSize) +
             surface);
        mapsPerAxis += request.replicates;
    }
    estimate.bytes = axisCount * perAxis * share +
                     runRecordBytes(output, std::ceil(axisCount * mapsPerAxis * share),
                                    nameTailBytes, blockSize);
    return estimate;
}

QString DiskSpace::humanSize(double bytes)
{
    if (bytes < 1024.0)
        return QStringLiteral("%1 bytes").arg(qint64(std::max(bytes, 0.0)));
    static const std::array<const char *, 8> units{"KiB", "MiB", "GiB", "TiB",
                                                   "PiB", "EiB", "ZiB", "YiB"};
    std::size_t unit = 0;
    double value = bytes / 1024.0;
    while (value >= 1024.0 && unit + 1 < units.size()) {
        value /= 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

DiskSpace::DiskSpace(const QString &folder)
    : m_folder(QDir::toNativeSeparators(folder))
{
    if (folder.trimmed().isEmpty())
        return;
    QFileInfo existing(QFileInfo(folder).absoluteFilePath());
    while (!existing.exists() && !existing.isRoot())
        existing = QFileInfo(existing.absolutePath());
    if (!existing.exists())
        return;
    const QStorageInfo storage(existing.absoluteFilePath());
    if (!storage.isValid() || !storage.isReady())
        return;
    m_bytesAvailable = storage.bytesAvailable();
    if (storage.blockSize() > 0)
        m_blockSize = storage.blockSize();
#ifdef Q_OS_UNIX
    // File systems without a fixed number of inodes report none at all.
    struct statvfs fs = {};
    if (::statvfs(QFile::encodeName(existing.absoluteFilePath()).constData(), &fs) == 0 &&
        fs.f_files != 0)
        m_filesAvailable = qint64(fs.f_favail);
#endif
}

std::optional<QString> DiskSpace::refusal(double bytes, qint64 files) const
{
    if (m_bytesAvailable >= 0 && bytes > double(m_bytesAvailable))
        return QCoreApplication::translate("DiskSpace",
                                           "The batch needs about %1 of disk space, but only %2 "
                                           "is free for \"%3\".")
            .arg(humanSize(bytes), humanSize(double(m_bytesAvailable)), m_folder);
    if (m_filesAvailable >= 0 && files > m_filesAvailable)
        return QCoreApplication::translate("DiskSpace",
                                           "The batch writes %1 files, but the file system of "
                                           "\"%2\" has room for only %3 more.")
            .arg(QString::number(files), m_folder, QString::number(m_filesAvailable));
    return std::nullopt;
}

std::optional<QString> DiskSpace::batchRefusal(const FamilyRequest &request,
                                               const FilesPresent &present) const
{
    const DiskEstimate estimate = request.diskEstimate(m_blockSize);
    return refusal(estimate.bytes - present.bytes, estimate.files - present.files);
}
