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

// Characters of the decimal text of `value`.
int decimalLength(qint64 value)
{
    int length = value < 0 ? 2 : 1;
    for (quint64 rest = value < 0 ? 0 - quint64(value) : quint64(value); rest >= 10; rest /= 10)
        ++length;
    return length;
}

// A code as written in a map: its decimal text and one space.
double cellBytes(qint32 code)
{
    return double(decimalLength(code) + 1);
}

double roundUpToBlocks(double bytes, qint64 blockSize)
{
    const double block = double(std::max<qint64>(blockSize, 1));
    return std::ceil(bytes / block) * block;
}

// size rows of size cells, a line feed each, with `fraction` of the cells
// written as the cover code.
double mapBytes(const BatchOutput &output, int size, double coverFraction)
{
    const double side = size;
    const double perCell = coverFraction * cellBytes(output.coverValue) +
                           (1.0 - coverFraction) * cellBytes(output.matrixValue);
    return side * (side * perCell + 1.0);
}

// Covers the loop visits, in the order it visits them.
template <typename Visit> void forEachCover(const CoverRange &covers, Visit visit)
{
    for (const int cover : covers.values())
        visit(cover);
}

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

    double total() const { return list + manifest + journal + share; }
};

// What a share records of its request besides its maps, at most, its
// post-string and prefix aside.
constexpr double shareRequestBytes = 4096;

RecordBytes recordBytes(const BatchOutput &output, double maps, int nameTailBytes)
{
    const double name = double(nameStem(output.folder, output.prefix).size() + nameTailBytes);
    const double perMap = recordBytesPerMap * (output.metrics ? 2 : 1);
    const double ownName = double(output.prefix.size() + nameTailBytes);
    return {maps * (name + double(output.postString.size()) + 1), maps * (name + perMap),
            maps * (ownName + 1),
            output.shard ? maps * (2 * ownName + 48) + shareRequestBytes +
                               double(output.postString.size() + output.prefix.size())
                         : 0};
}

double runRecordBytes(const BatchOutput &output, double maps, int nameTailBytes, qint64 blockSize)
{
    const RecordBytes bytes = recordBytes(output, maps, nameTailBytes);
    return roundUpToBlocks(bytes.list, blockSize) + roundUpToBlocks(bytes.manifest, blockSize) +
           roundUpToBlocks(bytes.journal, blockSize) + roundUpToBlocks(bytes.share, blockSize);
}

// The part of a batch a share of it makes; the whole of an unsplit batch.
template <typename Request> double shareOf(const Request &request)
{
    const std::optional<BatchShard> &shard = request.output.shard;
    return shard ? shard->fraction(request.shareUnits()) : 1.0;
}

qint64 clampedBytes(double bytes)
{
    return qint64(std::min(bytes, 9.0e18));
}

// cover "%03i", "_", size, "x", size, "_a", replicate, ".txt"
int randomNameTail(const RandomBatchRequest &request)
{
    return 3 + 1 + 2 * decimalLength(request.size) + 1 + 2 + decimalLength(request.replicates) + 4;
}

// H "%.2f", "_", cover "%03i", "_", replicate "%05i", ".txt"
int fractalNameTail(const FractalBatchRequest &request)
{
    return 4 + 1 + 3 + 1 + std::max(5, decimalLength(request.replicates)) + 4;
}

// The longest model name, "_r" and the range "%.2f" (at most 10000.00),
// "_", cover "%03i", "_", replicate "%05i", "_surface" for the field, ".txt"
int gaussianNameTail(const GaussianBatchRequest &request)
{
    return 11 + 2 + 8 + 1 + 3 + 1 + std::max(5, decimalLength(request.replicates)) + 8 + 4;
}

// The most maps one H can give: a surface gives at most one map per
// threshold of the ladder, or per requested cover when cut exactly.
double fractalMapsPerH(const FractalBatchRequest &request)
{
    const double cutsPerSurface = request.cut == FractalCut::Exact
                                      ? double(std::max<qint64>(request.covers.count(), 0))
                                      : double(FractalBatchRequest::ladderSteps);
    return double(request.surfaces) * cutsPerSurface;
}

// The name of a surface file: the prefix, H "%.2f", "_surface_", the seed
// "%05i" and the extension.
double surfaceNameBytes(const FractalBatchRequest &request)
{
    const qint64 lastSeed = qint64(request.firstSeed) + std::max(request.surfaces, 1) - 1;
    return double(request.output.prefix.toUtf8().size() + 4 + 9 +
                  std::max(5, decimalLength(lastSeed)) + 4);
}

// A surface has one row and one column more than its maps. As an ESRI grid
// each value takes at most 14 characters ("-1.234567e-100") and a space,
// the header at most 1 KiB; as a GeoTIFF 4 bytes, which compression may
// outgrow by a little, and its tags and offsets.
double surfaceFileBytes(const FractalBatchRequest &request, qint64 blockSize)
{
    const double points = (double(request.size) + 1) * (double(request.size) + 1);
    const double bytes = request.output.format == MapFormat::GeoTiff ? points * 4 * 1.01 + 65536
                                                                     : points * 15 + 1024;
    return roundUpToBlocks(bytes, blockSize);
}

} // namespace

double DiskSpace::randomBatchBytes(const RandomBatchRequest &request, qint64 blockSize)
{
    if (request.size < 1 || request.replicates < 1)
        return 0;
    double bytes = 0;
    double maps = 0;
    forEachCover(request.covers, [&](int cover) {
        const double fraction = std::clamp(cover / 100.0, 0.0, 1.0);
        bytes += request.replicates *
                 roundUpToBlocks(mapBytes(request.output, request.size, fraction), blockSize);
        maps += request.replicates;
    });
    const double share = shareOf(request);
    return bytes * share + runRecordBytes(request.output, std::ceil(maps * share),
                                          randomNameTail(request), blockSize);
}

qint64 DiskSpace::randomBatchFiles(const RandomBatchRequest &request)
{
    // The batch list, the manifest and the temporary file of the map being
    // written; a share's record besides.
    return qint64(std::ceil(double(request.mapCount()) * shareOf(request))) + 3 +
           (request.output.shard ? 1 : 0);
}

double DiskSpace::fractalBatchBytes(const FractalBatchRequest &request, qint64 blockSize)
{
    const auto hCount = double(request.hurst.values().size());
    if (request.size < 1 || request.replicates < 1 || hCount < 1)
        return 0;
    // A map counted for cover c holds between c and c + 1 per cent habitat.
    auto largestMap = [&](int cover) {
        const double low = std::clamp(cover / 100.0, 0.0, 1.0);
        const double high = std::clamp((cover + 1) / 100.0, 0.0, 1.0);
        return roundUpToBlocks(std::max(mapBytes(request.output, request.size, low),
                                        mapBytes(request.output, request.size, high)),
                               blockSize);
    };
    double perH = 0;
    double mapsPerH = 0;
    double largest = 0;
    forEachCover(request.covers, [&](int cover) {
        perH += request.replicates * largestMap(cover);
        mapsPerH += request.replicates;
        largest = std::max(largest, largestMap(cover));
    });
    if (mapsPerH > fractalMapsPerH(request)) {
        perH = fractalMapsPerH(request) * largest;
        mapsPerH = fractalMapsPerH(request);
    }
    const int tail = fractalNameTail(request);
    double surfaces = 0;
    if (request.writeSurfaces) {
        // A surface is written with the first map cut from it, so no H
        // writes more surfaces than maps; its name goes into every row of
        // the manifest.
        const double perHSurfaces = std::min(mapsPerH, double(std::max(request.surfaces, 0)));
        surfaces = hCount * perHSurfaces * surfaceFileBytes(request, blockSize);
        surfaces += roundUpToBlocks(hCount * mapsPerH * surfaceNameBytes(request), blockSize);
    }
    const double share = shareOf(request);
    return (hCount * perH + surfaces) * share +
           runRecordBytes(request.output, std::ceil(hCount * mapsPerH * share), tail, blockSize);
}

qint64 DiskSpace::fractalBatchFiles(const FractalBatchRequest &request)
{
    const qint64 perH =
        std::min(std::max<qint64>(request.covers.count(), 0) * std::max(request.replicates, 0),
                 qint64(fractalMapsPerH(request)));
    const qint64 surfaces =
        request.writeSurfaces ? std::min<qint64>(perH, std::max(request.surfaces, 0)) : 0;
    return qint64(std::ceil(double(request.hurst.values().size()) * double(perH + surfaces) *
                            shareOf(request))) +
           3 + (request.output.shard ? 1 : 0);
}

qint64 DiskSpace::randomRecordBytes(const RandomBatchRequest &request)
{
    const RecordBytes bytes =
        recordBytes(request.output, std::ceil(double(request.mapCount()) * shareOf(request)),
                    randomNameTail(request));
    return clampedBytes(bytes.total());
}

qint64 DiskSpace::fractalRecordBytes(const FractalBatchRequest &request)
{
    // Surfaces are counted as maps: their names are as long, and the
    // journal names them too.
    const RecordBytes bytes = recordBytes(
        request.output, double(fractalBatchFiles(request) - 3 - (request.output.shard ? 1 : 0)),
        fractalNameTail(request) + 4);
    return clampedBytes(bytes.total());
}

double DiskSpace::gaussianBatchBytes(const GaussianBatchRequest &request, qint64 blockSize)
{
    const auto axisCount = double(request.axisValues().size());
    if (request.size < 1 || request.replicates < 1 || axisCount < 1)
        return 0;
    // A ladder cut counted for cover c holds between c and c + 1 per cent
    // habitat, an exact one c per cent to the cell.
    const double upper = request.cut == FractalCut::Exact ? 0.0 : 1.0;
    const double side = request.size;
    // A field as an ESRI grid takes at most 15 characters a value, as a
    // GeoTIFF 4 bytes and its tags; its name goes into the manifest too.
    const double surface =
        request.writeSurfaces
            ? roundUpToBlocks(16.0 * side * side + 65536.0, blockSize) +
                  double(request.output.prefix.toUtf8().size() + gaussianNameTail(request))
            : 0.0;
    double perAxis = 0;
    double mapsPerAxis = 0;
    forEachCover(request.covers, [&](int cover) {
        const double low = std::clamp(cover / 100.0, 0.0, 1.0);
        const double high = std::clamp((cover + upper) / 100.0, 0.0, 1.0);
        perAxis += request.replicates *
                   (roundUpToBlocks(std::max(mapBytes(request.output, request.size, low),
                                             mapBytes(request.output, request.size, high)),
                                    blockSize) +
                    surface);
        mapsPerAxis += request.replicates;
    });
    const double share = shareOf(request);
    return axisCount * perAxis * share + runRecordBytes(request.output,
                                                        std::ceil(axisCount * mapsPerAxis * share),
                                                        gaussianNameTail(request), blockSize);
}

qint64 DiskSpace::gaussianBatchFiles(const GaussianBatchRequest &request)
{
    return qint64(std::ceil(double(request.mapCount()) * shareOf(request))) *
               (request.writeSurfaces ? 2 : 1) +
           3 + (request.output.shard ? 1 : 0);
}

qint64 DiskSpace::gaussianRecordBytes(const GaussianBatchRequest &request)
{
    // Fields are counted as maps, as the journal names them too.
    const RecordBytes bytes = recordBytes(
        request.output, double(gaussianBatchFiles(request) - 3 - (request.output.shard ? 1 : 0)),
        gaussianNameTail(request));
    return clampedBytes(bytes.total());
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

std::optional<QString> DiskSpace::batchRefusal(const RandomBatchRequest &request,
                                               const FilesPresent &present) const
{
    return refusal(randomBatchBytes(request, m_blockSize) - present.bytes,
                   randomBatchFiles(request) - present.files);
}

std::optional<QString> DiskSpace::batchRefusal(const FractalBatchRequest &request,
                                               const FilesPresent &present) const
{
    return refusal(fractalBatchBytes(request, m_blockSize) - present.bytes,
                   fractalBatchFiles(request) - present.files);
}

std::optional<QString> DiskSpace::batchRefusal(const GaussianBatchRequest &request,
                                               const FilesPresent &present) const
{
    return refusal(gaussianBatchBytes(request, m_blockSize) - present.bytes,
                   gaussianBatchFiles(request) - present.files);
}
