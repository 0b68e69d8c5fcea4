#include "app/mainwindow.h"
#include "core/version.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Where QSettings keeps the folders, the window's geometry and the view
    // options: ~/.config/Patchwright/Patchwright.conf on Linux.
    QCoreApplication::setOrganizationName(QStringLiteral("Patchwright"));
    QCoreApplication::setApplicationName(QStringLiteral("Patchwright"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(patchwrightVersion));
    MainWindow window;
    window.show();
    return app.exec();
}
