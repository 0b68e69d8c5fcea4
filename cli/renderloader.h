// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class CommandLine;

// Previews are drawn with QtGui, which no other command needs: its
// libraries take about 5 MiB of every process that loads them, and a batch
// of 4096 x 4096 maps is otherwise little more than its surface. So
// `render` lives in a module of its own, loaded only when it runs, found
// the way the GeoTIFF module is: beside the program, where the install puts
// it, or in the build tree.
struct RenderModule {
    using Entry = int (*)(CommandLine *, const QStringList *);
    // Runs the command; none when the module could not be loaded.
    Entry run = nullptr;
    // Why not, with every place looked at.
    QString failure;
};
RenderModule loadRenderModule();
