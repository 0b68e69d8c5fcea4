// SPDX-License-Identifier: GPL-3.0-or-later
// A family registered only in this folder (checkerfamily.cpp) is taken by
// every front end without any other change: the command line's commands,
// help, batches, shares and their merge, resumed runs, targets and `scan`
// (through a command line built with the family), and the window's Create
// menu with a dialog built from the family's rows.
#include "app/mainwindow.h"
#include "core/batch/mapfamily.h"
#include "core/grid/mapreader.h"
#include "tests/support/cli.h"
#include "tests/support/files.h"
#include "tests/support/manifest.h"
#include "tests/support/modal.h"
#include "widgets/familydialog.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList batch{QStringLiteral("checker"), QStringLiteral("--size"),
                        QStringLiteral("12"),      QStringLiteral("--tile"),
                        QStringLiteral("3"),       QStringLiteral("--cover"),
                        QStringLiteral("20,45"),   QStringLiteral("--replicates"),
                        QStringLiteral("3"),       QStringLiteral("--quiet")};

CliRun runIn(const QTemporaryDir &dir, const QString &out, const QStringList &more = {})
{
    return runCli(batch + QStringList{QStringLiteral("--out"), out} + more, dir.path());
}

// The maps, list and manifest of a folder, by name, that every complete
// run of the batch must leave alike.
QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : filesIn(folder))
        if (name.endsWith(QLatin1String(".txt")) || name.endsWith(QLatin1String(".csv")))
            files.insert(name, readAll(QDir(folder).filePath(name)));
    return files;
}

} // namespace

class TestFamily : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theCommandLineTakesIt()
    {
        QVERIFY(runCli({QStringLiteral("--help")}).out.contains(QStringLiteral("checker")));
        QVERIFY(runCli({QStringLiteral("checker"), QStringLiteral("--help")})
                    .out.contains(QStringLiteral("--tile")));
        QTemporaryDir dir;
        const CliRun whole = runIn(dir, QStringLiteral("whole"));
        QVERIFY2(whole.exitCode == 0, qPrintable(whole.err));
        const QString wholeFolder = dir.filePath(QStringLiteral("whole"));
        const Manifest manifest(QDir(wholeFolder).filePath(QStringLiteral("CHK_manifest.csv")));
        QCOMPARE(manifest.rowCount(), 6);
        for (qsizetype i = 0; i < manifest.rowCount(); ++i) {
            QCOMPARE(manifest.field(i, "kind"), QByteArray("checker"));
            QCOMPARE(manifest.field(i, "tile"), QByteArray("3"));
            // Cut exactly: the cover to the cell.
            LandscapeGrid grid;
            QVERIFY(!readMap(
                QDir(wholeFolder).filePath(QString::fromUtf8(manifest.field(i, "file"))), grid));
            qint64 habitat = 0;
            for (std::size_t r = 0; r < grid.rowCount(); ++r)
                for (const qint32 code : grid.row(r))
                    habitat += code == 1;
            QCOMPARE(habitat, qRound(manifest.field(i, "requested_cover").toInt() * 144 / 100.0));
        }

        // Shares merged are the whole batch.
        for (const char *share : {"1/2", "2/2"})
            QCOMPARE(runIn(dir, QStringLiteral("share") + QLatin1Char(share[0]),
                           {QStringLiteral("--shard"), QLatin1String(share)})
                         .exitCode,
                     0);
        const CliRun merge = runCli({QStringLiteral("merge"), QStringLiteral("merged"),
                                     QStringLiteral("share1"), QStringLiteral("share2")},
                                    dir.path());
        QVERIFY2(merge.exitCode == 0, qPrintable(merge.err));
        QCOMPARE(contents(dir.filePath(QStringLiteral("merged"))), contents(wholeFolder));

        // A resumed run makes what is missing and keeps the rest.
        QVERIFY(runIn(dir, QStringLiteral("resumed")).exitCode == 0);
        const QString resumed = dir.filePath(QStringLiteral("resumed"));
        QVERIFY(QFile::remove(QDir(resumed).filePath(QStringLiteral("CHK_t3_045_00002.txt"))));
        QCOMPARE(runIn(dir, QStringLiteral("resumed"), {QStringLiteral("--resume")}).exitCode, 0);
        QCOMPARE(contents(resumed), contents(wholeFolder));
        // Another request's run is not this one's to finish.
        const CliRun other = runCli(
            {QStringLiteral("checker"), QStringLiteral("--out"), QStringLiteral("resumed"),
             QStringLiteral("--size"), QStringLiteral("12"), QStringLiteral("--tile"),
             QStringLiteral("4"), QStringLiteral("--cover"), QStringLiteral("20,45"),
             QStringLiteral("--replicates"), QStringLiteral("3"), QStringLiteral("--resume")},
            dir.path());
        QCOMPARE(other.exitCode, 2);

        // Targets keep only maps that meet them, and say which cells fell
        // short.
        const CliRun kept = runIn(dir, QStringLiteral("kept"),
                                  {QStringLiteral("--target"), QStringLiteral("np=2:")});
        QVERIFY2(kept.exitCode == 0, qPrintable(kept.err));
        const Manifest chosen(dir.filePath(QStringLiteral("kept/CHK_manifest.csv")));
        QVERIFY(chosen.has("draw") && chosen.rowCount() == 6);
        for (qsizetype i = 0; i < chosen.rowCount(); ++i)
            QVERIFY(chosen.field(i, "np").isEmpty() || chosen.field(i, "np").toInt() >= 2);
        const CliRun none = runIn(dir, QStringLiteral("none"),
                                  {QStringLiteral("--target"), QStringLiteral("np=100000:"),
                                   QStringLiteral("--max-draws"), QStringLiteral("2")});
        QVERIFY2(none.err.contains(QStringLiteral("--max-draws 2")), qPrintable(none.err));

        // A pilot sample of it.
        const CliRun scan =
            runCli({QStringLiteral("scan"), QStringLiteral("checker"), QStringLiteral("--samples"),
                    QStringLiteral("4"), QStringLiteral("--tile"), QStringLiteral("2"),
                    QStringLiteral("--size"), QStringLiteral("10"), QStringLiteral("--csv")});
        QVERIFY2(scan.exitCode == 0, qPrintable(scan.err));
        QCOMPARE(scan.out.count(QLatin1Char('\n')), 2);
    }

    void theWindowOffersADialogBuiltFromItsRows()
    {
        QTemporaryDir dir;
        MainWindow window;
        QAction *create = window.findChild<QAction *>(QStringLiteral("actionChecker"));
        QVERIFY(create);
        QVERIFY(window.menuBar()
                    ->findChild<QMenu *>(QStringLiteral("menuCreate"))
                    ->actions()
                    .contains(create));
        const QString folder = dir.filePath(QStringLiteral("boards"));
        bool offered = false;
        whenModal<FamilyDialog>([&](FamilyDialog *dialog) {
            offered = dialog->findChild<QWidget *>(QStringLiteral("tile")) != nullptr;
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(folder);
            clickOk(dialog);
        });
        create->trigger();
        QVERIFY(offered);
        // The family's default batch: a map a cover of 1 to 100.
        QCOMPARE(window.listedFileNames().size(), 100);
        QVERIFY(QFileInfo::exists(QDir(folder).filePath(QStringLiteral("CHK_t4_050_00001.txt"))));
    }
};

QTEST_MAIN(TestFamily)
#include "tst_family.moc"
