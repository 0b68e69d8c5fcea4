// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commandline.h"
#include "core/version.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // An argument that does not survive decoding (a name in another
    // encoding than the system's) would silently stand for a different
    // folder or file than the one meant.
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        if (QString::fromLocal8Bit(raw).toLocal8Bit() != raw) {
            std::fprintf(stderr,
                         "patchwright-cli: argument %d is not valid text in this system's "
                         "encoding, so it cannot name a file or folder faithfully\n",
                         i);
            return CommandLine::UsageError;
        }
    }
    // Previews are drawn into images in memory, which needs no platform
    // plugin: no command loads one, so a server without a display, or a shell
    // whose DISPLAY cannot be reached, draws previews as any machine does,
    // and no command pays for starting a GUI it never shows.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("patchwright-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(patchwrightVersion));
    CommandLine commandLine;
    return commandLine.run(QCoreApplication::arguments());
}
