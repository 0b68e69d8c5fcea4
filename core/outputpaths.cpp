// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/outputpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString nameStem(const QString &folder, const QString &prefix)
{
    return QDir::toNativeSeparators(QDir::cleanPath(folder)) + QDir::separator() + prefix;
}

std::optional<QString> prepareOutputFolder(const QString &folder)
{
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
    if (!QDir().mkpath(folder)) {
        // mkpath gives no reason; the nearest existing ancestor tells the
        // user where the trouble is.
        QFileInfo ancestor(QFileInfo(folder).absoluteFilePath());
        while (!ancestor.exists() && !ancestor.isRoot())
            ancestor = QFileInfo(ancestor.absolutePath());
        const QString why =
            ancestor.exists() && !ancestor.isWritable()
                ? QCoreApplication::translate("OutputFolder", "\"%1\" is not writable")
                      .arg(QDir::toNativeSeparators(ancestor.filePath()))
                : QCoreApplication::translate("OutputFolder", "the folder could not be created");
        return QCoreApplication::translate("OutputFolder", "Cannot create the folder \"%1\": %2.")
            .arg(QDir::toNativeSeparators(folder), why);
    }
    return std::nullopt;
}
