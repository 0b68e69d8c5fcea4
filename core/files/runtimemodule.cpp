// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/runtimemodule.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

QStringList moduleCandidates(const QString &folder, QStringView name, QStringView installed,
                             QStringView buildPath)
{
    QStringList candidates;
    if (!folder.isEmpty()) {
        const QDir here(folder);
        candidates << here.filePath(name.toString())
                   << QDir::cleanPath(here.filePath(installed.toString()));
    }
    candidates << buildPath.toString();
    return candidates;
}

QFunctionPointer loadModuleSymbol(const QStringList &candidates, const char *symbol,
                                  QStringList &reasons, const ModuleSymbolCheck &accept)
{
    for (const QString &path : candidates) {
        if (!QFileInfo::exists(path))
            continue;
        // A QLibrary leaves its library loaded when it goes.
        QLibrary library(path);
        if (const QFunctionPointer found = library.resolve(symbol))
            if (!accept || accept(found))
                return found;
        reasons << library.errorString();
    }
    return nullptr;
}
