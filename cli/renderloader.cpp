// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/renderloader.h"

#include "core/files/runtimemodule.h"

RenderModule loadRenderModule()
{
    const QStringList candidates = moduleCandidates(
        folderOfBinaryHolding(reinterpret_cast<const void *>(&loadRenderModule)),
        QStringLiteral(PW_RENDER_MODULE_NAME), QStringLiteral(PW_RENDER_MODULE_INSTALLED),
        QStringLiteral(PW_RENDER_MODULE_BUILD_PATH), QStringLiteral(PW_RENDER_MODULE_BUILD_TREE));
    QStringList reasons;
    if (const QFunctionPointer entry = loadModuleSymbol(candidates, "patchwrightRender", reasons))
        return {reinterpret_cast<RenderModule::Entry>(entry), {}};
    if (reasons.isEmpty())
        reasons << QStringLiteral("%1 is neither beside the program nor where it is installed")
                       .arg(QStringLiteral(PW_RENDER_MODULE_NAME));
    return {nullptr,
            QStringLiteral("previews cannot be drawn: %1").arg(reasons.join(QStringLiteral("; ")))};
}
