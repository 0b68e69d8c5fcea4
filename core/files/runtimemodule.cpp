// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/runtimemodule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <dlfcn.h>
#include <link.h>

QString folderOfBinaryHolding(const void *address)
{
    Dl_info info{};
    link_map *map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP) == 0 || !map)
        return {};
    // The program's own entry has no name; dladdr() would give its argv[0].
    const bool program = !map->l_name || map->l_name[0] == '\0';
    const QString real =
        QFileInfo(program ? QStringLiteral("/proc/self/exe") : QFile::decodeName(map->l_name))
            .canonicalFilePath();
    return real.isEmpty() ? QString() : QFileInfo(real).path();
}

QStringList moduleCandidates(const QString &folder, QStringView name, QStringView installed,
                             QStringView buildPath, QStringView buildTree)
{
    QStringList candidates;
    if (folder.isEmpty())
        return candidates;
    const QDir here(folder);
    candidates << here.filePath(name.toString())
               << QDir::cleanPath(here.filePath(installed.toString()));
    const QString tree =
        buildTree.isEmpty() ? QString() : QFileInfo(buildTree.toString()).canonicalFilePath();
    if (!tree.isEmpty() && !buildPath.isEmpty() &&
        (folder == tree || folder.startsWith(tree + QLatin1Char('/'))))
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
