// SPDX-License-Identifier: GPL-3.0-or-later
// The one symbol of the render module (see renderloader.h).
#include "cli/rendercommand.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT int patchwrightRender(CommandLine *commandLine,
                                               const QStringList *arguments)
{
    RenderCommand render(*commandLine);
    return render.run(*arguments);
}
