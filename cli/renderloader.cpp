// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/renderloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

RenderModule loadRenderModule()
{
    const QDir here(QCoreApplication::applicationDirPath());
    const QStringList candidates{
        here.filePath(QStringLiteral(PW_RENDER_MODULE_NAME)),
        QDir::cleanPath(here.filePath(QStringLiteral(PW_RENDER_MODULE_INSTALLED))),
        QStringLiteral(PW_RENDER_MODULE_BUILD_PATH)};
    QStringList reasons;
    for (const QString &path : candidates) {
        if (!QFileInfo::exists(path))
            continue;
        // Never unloaded: the command's objects use its code to the end.
        auto *library = new QLibrary(path);
        if (auto entry =
                reinterpret_cast<RenderModule::Entry>(library->resolve("patchwrightRender")))
            return {entry, {}};
        reasons << library->errorString();
        delete library;
    }
    if (reasons.isEmpty())
        reasons << QStringLiteral("%1 is neither beside the program nor where it is installed")
                       .arg(QStringLiteral(PW_RENDER_MODULE_NAME));
    return {nullptr,
            QStringLiteral("previews cannot be drawn: %1").arg(reasons.join(QStringLiteral("; ")))};
}
