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
    // The module stays loaded for the rest of the process, since the
    // command's objects use its code to the end; a QLibrary leaves a library
    // loaded when it goes.
    static QLibrary library;
    for (const QString &path : candidates) {
        if (!QFileInfo::exists(path))
            continue;
        library.setFileName(path);
        if (auto entry =
                reinterpret_cast<RenderModule::Entry>(library.resolve("patchwrightRender")))
            return {entry, {}};
        reasons << library.errorString();
    }
    if (reasons.isEmpty())
        reasons << QStringLiteral("%1 is neither beside the program nor where it is installed")
                       .arg(QStringLiteral(PW_RENDER_MODULE_NAME));
    return {nullptr,
            QStringLiteral("previews cannot be drawn: %1").arg(reasons.join(QStringLiteral("; ")))};
}
