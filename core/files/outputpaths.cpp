// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/outputpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

QString nameStem(const QString &folder, const QString &prefix)
{
    return QDir::toNativeSeparators(QDir::cleanPath(folder)) + QDir::separator() + prefix;
}

std::optional<QString> prepareOutputFolder(const QString &folder, QString *created)
{
    if (created)
        created->clear();
    if (folder.trimmed().isEmpty())
        return QCoreApplication::translate("OutputFolder",
                                           "Please choose a folder for the map files.");
    const QFileInfo info(folder);
    if (info.exists()) {
        if (!info.isDir())
            return QCoreApplication::translate("OutputFolder", "\"%1\" is not a folder.")
                .arg(QDir::toNativeSeparators(folder));
        return std::nullopt;
    }
    // One folder at a time, from the outermost missing one, so that a
    // failure is told with the system's reason for the folder it concerns
    // (mkpath gives none).
    QStringList missing;
    for (QFileInfo at(info.absoluteFilePath()); !at.exists() && !at.isRoot();
         at = QFileInfo(at.absolutePath()))
        missing.prepend(at.absoluteFilePath());
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0 && errno != EEXIST) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            if (created && !created->isEmpty())
                removeCreatedFolders(QFileInfo(path).absolutePath(), *created);
            return QCoreApplication::translate("OutputFolder",
                                               "Cannot create the folder \"%1\": %2.")
                .arg(QDir::toNativeSeparators(path), why);
        }
        if (created && created->isEmpty())
            *created = path;
    }
    return std::nullopt;
}

void removeCreatedFolders(const QString &folder, const QString &created)
{
    if (created.isEmpty())
        return;
    for (QString path = QFileInfo(folder).absoluteFilePath();;
         path = QFileInfo(path).absolutePath()) {
        if (::rmdir(QFile::encodeName(path).constData()) != 0 || path == created ||
            QFileInfo(path).isRoot())
            return;
    }
}
