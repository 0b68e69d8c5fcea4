#include "core/diskspace.h"

#include "core/outputpaths.h"

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
    if (covers.step < 1)
        return;
    for (qint64 cover = covers.first; cover <= covers.last; cover += covers.step)
        visit(int(cover));
}

// The batch list names every map with its folder and the post-string; the
// run's other records (the manifest) take at most this much per map besides
// the name.
constexpr double recordBytesPerMap = 256;

double runRecordBytes(const BatchOutput &output, double maps, int nameTailBytes, qint64 blockSize)
{
    const double name = double(nameStem(output.folder, output.prefix).size() + nameTailBytes);
    const double listLine = name + double(output.postString.size()) + 1;
    return roundUpToBlocks(maps * listLine, blockSize) +
           roundUpToBlocks(maps * (name + recordBytesPerMap), blockSize);
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
    // cover "%03i", "_", size, "x", size, "_a", replicate, ".txt"
    const int tail =
        3 + 1 + 2 * decimalLength(request.size) + 1 + 2 + decimalLength(request.replicates) + 4;
    return bytes + runRecordBytes(request.output, maps, tail, blockSize);
}

qint64 DiskSpace::randomBatchFiles(const RandomBatchRequest &request)
{
    // The batch list, the manifest and the temporary file of the map being
    // written.
    return request.mapCount() + 3;
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
    // H "%.2f", "_", cover "%03i", "_", replicate "%05i", ".txt"
    const int tail = 4 + 1 + 3 + 1 + std::max(5, decimalLength(request.replicates)) + 4;
    return hCount * perH + runRecordBytes(request.output, hCount * mapsPerH, tail, blockSize);
}

qint64 DiskSpace::fractalBatchFiles(const FractalBatchRequest &request)
{
    const qint64 perH =
        std::min(std::max<qint64>(request.covers.count(), 0) * std::max(request.replicates, 0),
                 qint64(fractalMapsPerH(request)));
    return qint64(request.hurst.values().size()) * perH + 3;
}

double DiskSpace::gaussianBatchBytes(const GaussianBatchRequest &request, qint64 blockSize)
{
    const auto axisCount = double(request.axisValues().size());
    if (request.size < 1 || request.replicates < 1 || axisCount < 1)
        return 0;
    const double upper = request.cut == FractalCut::Exact ? 0.0 : 1.0;
    const double side = request.size;
    const double surface =
        request.writeSurfaces ? roundUpToBlocks(16.0 * side * side + 1024.0, blockSize) : 0.0;
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
    // model "_r", range "%.2f", "_", cover "%03i", "_", replicate "%05i",
    // ".txt", with room for the longest model name and range
    const int tail = 11 + 2 + 8 + 1 + 3 + 1 + std::max(5, decimalLength(request.replicates)) + 4;
    return axisCount * perAxis +
           runRecordBytes(request.output, axisCount * mapsPerAxis, tail, blockSize);
}

qint64 DiskSpace::gaussianBatchFiles(const GaussianBatchRequest &request)
{
    return request.mapCount() * (request.writeSurfaces ? 2 : 1) + 3;
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
            .arg(files)
            .arg(m_folder)
            .arg(m_filesAvailable);
    return std::nullopt;
}

std::optional<QString> DiskSpace::batchRefusal(const RandomBatchRequest &request) const
{
    return refusal(randomBatchBytes(request, m_blockSize), randomBatchFiles(request));
}

std::optional<QString> DiskSpace::batchRefusal(const FractalBatchRequest &request) const
{
    return refusal(fractalBatchBytes(request, m_blockSize), fractalBatchFiles(request));
}

std::optional<QString> DiskSpace::batchRefusal(const GaussianBatchRequest &request) const
{
    return refusal(gaussianBatchBytes(request, m_blockSize), gaussianBatchFiles(request));
}
