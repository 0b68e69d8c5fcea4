#include "cli/commandline.h"
#include "core/version.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

QtMessageHandler defaultHandler = nullptr;

// Qt complains on stderr when a session has no runtime folder, which servers,
// cron jobs and batch schedulers never set up, and the offscreen platform
// never uses it. Only that complaint, and only while the application starts,
// is kept out of the output of a program that scripts read.
void quietStartup(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg &&
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    defaultHandler(type, context, message);
}

} // namespace

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
    // Only previews need QtGui, and they never open a window. Unless the
    // user picked a platform, the offscreen one is used, so that a server
    // without a display, or a shell whose DISPLAY cannot be reached, draws
    // previews instead of failing before the first line of our code. The
    // batch commands keep to QtCore and never load a platform at all.
    const bool render = argc > 1 && std::strcmp(argv[1], "render") == 0;
    std::unique_ptr<QCoreApplication> app;
    if (render) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        defaultHandler = qInstallMessageHandler(quietStartup);
        app = std::make_unique<QGuiApplication>(argc, argv);
        qInstallMessageHandler(defaultHandler);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("patchwright-cli"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(patchwrightVersion));
    CommandLine commandLine;
    return commandLine.run(QCoreApplication::arguments());
}
