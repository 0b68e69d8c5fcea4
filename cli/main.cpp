#include "cli/commandline.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("patchwright-cli"));
    CommandLine commandLine;
    return commandLine.run(QCoreApplication::arguments());
}
