// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchlist.h"

#include "core/grid/mapformat.h"

#include "core/batch/mapnames.h"
#include "core/files/regularfile.h"
#include "core/files/writefully.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

QString batchListFileName(const QString &pathPrefix)
{
    return batchListName(pathPrefix);
}

FileResult writeBatchList(const QStringList &fileNames, const QString &pathPrefix,
                          const QString &postString, OnDisk onDisk)
{
    const QByteArray post = postString.toLatin1();
    return saveLines(
        batchListFileName(pathPrefix), QByteArray(), fileNames.size(),
        [&fileNames, &post](qsizetype i, QByteArray &out) {
            out += QFile::encodeName(fileNames[i]);
            out += post;
            out += '\n';
        },
        AtLink::Refuse, onDisk);
}

namespace {

// No file system takes a longer path, so a line's path ends within these.
constexpr qsizetype longestPath = PATH_MAX;
// A run takes its post-string from one command-line argument, which the
// system holds to 128 KiB (config.txt holds less): a line of a list is
// never longer than a path and that.
constexpr qsizetype longestPostString = qsizetype(128) << 10;
constexpr qsizetype longestLine = longestPath + longestPostString;

// Where a path may end in `line`: after each map extension, the last first,
// then the whole line.
QList<qsizetype> pathEnds(const QByteArray &line)
{
    QList<qsizetype> ends;
    const QByteArray lower = line.toLower();
    for (const MapFormatExtension &format : mapFormatExtensions) {
        const QByteArray extension(format.extension);
        for (qsizetype at = lower.indexOf(extension);
             at >= 0 && at + extension.size() <= longestPath; at = lower.indexOf(extension, at + 1))
            ends << at + extension.size();
    }
    std::sort(ends.begin(), ends.end(), std::greater<>());
    ends << line.size();
    return ends;
}

QString mapOfLine(const QByteArray &line, const QDir &listFolder)
{
    const QList<qsizetype> ends = pathEnds(line);
    const auto pathAt = [&](qsizetype end) {
        return listFolder.absoluteFilePath(QFile::decodeName(line.left(end)));
    };
    for (const qsizetype end : ends) {
        if (QFileInfo(pathAt(end)).isFile())
            return pathAt(end);
    }
    for (const qsizetype end : ends) {
        const QString beside = listFolder.filePath(QFileInfo(pathAt(end)).fileName());
        if (QFileInfo(beside).isFile())
            return beside;
    }
    return pathAt(ends.first());
}

} // namespace

FileResult readBatchList(const QString &listPath, QStringList &maps, const ReadStop &stop)
{
    maps.clear();
    const QString shown = QDir::toNativeSeparators(listPath);
    QFile file;
    if (FileResult error = openRegularFile(listPath, file))
        return error;
    const QDir listFolder = QFileInfo(listPath).absoluteDir();
    for (qint64 number = 1; !file.atEnd(); ++number) {
        if (stop && stop()) {
            maps.clear();
            return FileError{shown, readStoppedReason()};
        }
        QByteArray line = file.readLine(longestLine + 1);
        if (!line.endsWith('\n') && !file.atEnd()) {
            maps.clear();
            return FileError{shown, QCoreApplication::translate(
                                        "BatchList", "line %1 is longer than a map's path and "
                                                     "post-string can be (%2 bytes): not a "
                                                     "batch list")
                                        .arg(number)
                                        .arg(longestLine)};
        }
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            maps << QDir::toNativeSeparators(mapOfLine(line, listFolder));
    }
    if (file.error() != QFileDevice::NoError) {
        maps.clear();
        return FileError{shown, file.errorString()};
    }
    return {};
}
