// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "tests/support/cli.h"
#include "tests/support/manifest.h"
#include "tests/support/modal.h"
#include "tests/support/settings.h"

#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

// Every place a user reads the version from says the one CMake's
// project(VERSION) sets, which the build hands this suite as
// PW_PROJECT_VERSION: nothing may carry a number of its own.
class TestVersion : public QObject {
    Q_OBJECT

    const QString expected = QStringLiteral(PW_PROJECT_VERSION);
    ScratchSettings m_settings;

private Q_SLOTS:
    void commandLineAndManifest()
    {
        const CliRun version = runCli({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringLiteral("patchwright-cli %1\n").arg(expected));

        // The version is every manifest's last column, whatever options add
        // columns before it, and no other column moves.
        QTemporaryDir dir;
        for (const QString &options :
             {QStringLiteral("random --cover 10:20:10 --size 8"),
              QStringLiteral("fractal --hurst 0.5:0.5:1 --cover 30:30:1 --size 9 --metrics "
                             "--generator philox --prefix M_")}) {
            const CliRun run =
                runCli(options.split(QLatin1Char(' ')) + QStringList{QStringLiteral("--out"),
                                                                     QStringLiteral("maps"),
                                                                     QStringLiteral("--quiet")},
                       dir.path());
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        }
        for (const char *prefix : {"RND_", "M_"}) {
            const Manifest manifest(
                dir.filePath(QStringLiteral("maps/%1manifest.csv").arg(QLatin1String(prefix))));
            QVERIFY(manifest.rowCount() > 0);
            QCOMPARE(manifest.header().first(), QByteArray("file"));
            QCOMPARE(manifest.header().last(), QByteArray("version"));
            for (qsizetype row = 0; row < manifest.rowCount(); ++row)
                QCOMPARE(QString::fromLatin1(manifest.row(row).last()), expected);
        }
    }

    void aboutBox()
    {
        MainWindow window;
        QAction *about = window.findChild<QAction *>(QStringLiteral("actionAbout"));
        QVERIFY(about);
        // After the form's menus, which keep their places.
        QCOMPARE(window.menuBar()->actions().last()->menu()->actions(), QList<QAction *>{about});
        QString shown;
        whenModal<QMessageBox>([&shown](QMessageBox *box) {
            shown = box->text();
            box->accept();
        });
        about->trigger();
        QVERIFY(shown.contains(QStringLiteral("Patchwright %1").arg(expected)));
        QVERIFY(shown.contains(QStringLiteral("GPL-3.0-or-later")));
        QVERIFY(shown.contains(QStringLiteral("version %1").arg(expected)));
        QVERIFY(shown.contains(QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion()))));
    }

#ifdef PW_PYTHON_PACKAGE_DIR
    void pythonPackage()
    {
        QProcess python;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(PW_PYTHON_PACKAGE_DIR));
        python.setProcessEnvironment(environment);
        python.start(
            QStringLiteral(PW_PYTHON),
            {QStringLiteral("-c"), QStringLiteral("import patchwright, sys; "
                                                  "sys.stdout.write(patchwright.__version__)")});
        QVERIFY(python.waitForFinished(60000));
        QCOMPARE(python.exitCode(), 0);
        QCOMPARE(QString::fromLatin1(python.readAllStandardOutput()), expected);
    }
#endif
};

QTEST_MAIN(TestVersion)
#include "tst_version.moc"
