// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "core/batch/diskspace.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"
#include "tests/hardening/tmpfsmount.h"
#include "tests/support/batches.h"
#include "tests/support/cli.h"
#include "tests/support/modal.h"
#include "tests/support/settings.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

qint64 bytesIn(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &path : paths)
        total += QFileInfo(path).size();
    return total;
}

RandomBatchRequest randomRequest(CoverRange covers, int size, int replicates, qint32 matrixValue,
                                 qint32 coverValue, const QString &folder,
                                 const QString &postString = {})
{
    RandomBatchRequest request;
    request.covers = covers;
    request.shape = {size, size};
    request.replicates = replicates;
    request.output.folder = folder;
    request.output.prefix = QStringLiteral("RND_");
    request.output.postString = postString;
    request.output.matrixValue = matrixValue;
    request.output.coverValue = coverValue;
    return request;
}

constexpr double recordAllowancePerMap = 512;

} // namespace

// A batch is measured before it starts, and one the disk cannot hold is
// refused with what it needs and what there is, before anything is written.
class TestDiskSpace : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // The dialogs remember their folders; none of that reaches the user's
    // settings.
    ScratchSettings m_settings;

private Q_SLOTS:
    void randomEstimateMatchesWhatIsWritten_data()
    {
        QTest::addColumn<qint32>("matrixValue");
        QTest::addColumn<qint32>("coverValue");
        QTest::addColumn<double>("tolerance");
        // With codes of one length every map has exactly the same size;
        // otherwise the size follows the drawn cover, which strays a little
        // from the requested one.
        QTest::newRow("codes of one length") << 0 << 1 << 0.0;
        QTest::newRow("codes of different lengths") << 0 << -99999 << 0.02;
    }

    void randomEstimateMatchesWhatIsWritten()
    {
        QFETCH(qint32, matrixValue);
        QFETCH(qint32, coverValue);
        QFETCH(double, tolerance);
        QTemporaryDir dir;
        const RandomBatchRequest batch = randomRequest({0, 100, 20}, 40, 3, matrixValue, coverValue,
                                                       dir.path(), QStringLiteral(";post"));
        QStringList names;
        NullProgress progress;
        QVERIFY(writeMaps<RandomMapGenerator>(batch, dir.filePath(QStringLiteral("RND_")), names,
                                              progress)
                    .ok());
        QCOMPARE(names.size(), 18);
        QCOMPARE(batch.diskEstimate(4096).files, qint64(names.size()) + 3);

        // With one-byte blocks the estimate is the maps, the batch list
        // (one line per map) and a modest allowance for the run's other
        // records.
        double listBytes = 0;
        for (const QString &name : names)
            listBytes += name.size() + 5 + 1;
        const double maps = double(bytesIn(names));
        const double estimate = batch.diskEstimate(1).bytes;
        const double records = estimate - maps - listBytes;
        QVERIFY2(records >= -tolerance * maps &&
                     records <= names.size() * recordAllowancePerMap + tolerance * maps,
                 qPrintable(QStringLiteral("maps %1, estimate %2").arg(maps).arg(estimate)));
    }

    void smallFilesCountWholeBlocks()
    {
        // 303 maps of 10 bytes take 303 blocks on disk, not 3 KB.
        const RandomBatchRequest batch =
            randomRequest({0, 100, 1}, 2, 3, 0, 1, QStringLiteral("/x"));
        const double bytes = batch.diskEstimate(4096).bytes;
        QVERIFY(bytes >= 303 * 4096.0);
        QVERIFY(bytes <= 303 * (4096.0 + recordAllowancePerMap) + 2 * 4096.0);
    }

    void largestRequestsAreMeasuredWithoutOverflow()
    {
        // 100 covers x 999,999 maps of 9,999,999 rows of 9,999,999 two-byte
        // cells and a line feed: about 2 x 10^22 bytes.
        const RandomBatchRequest batch =
            randomRequest({1, 100, 1}, 9999999, 999999, 0, 1, QStringLiteral("/x"));
        const double bytes = batch.diskEstimate(4096).bytes;
        const double maps = 100.0 * 999999.0;
        const double mapBytes = 9999999.0 * (9999999.0 * 2.0 + 1.0);
        QVERIFY(bytes >= maps * mapBytes);
        QVERIFY(bytes < maps * mapBytes * 1.0001);
        QCOMPARE(DiskSpace::humanSize(bytes), QStringLiteral("16.9 ZiB"));
        QCOMPARE(batch.diskEstimate(4096).files, qint64(99999900) + 3);
    }

    void fractalBoundHoldsWhatARunWrites()
    {
        QTemporaryDir dir;
        FractalBatchRequest batch;
        batch.hurst = {0.5, 0.6, 0.1};
        batch.covers = {30, 70, 20};
        batch.shape = {24, 24};
        batch.replicates = 2;
        batch.output.folder = dir.path();
        batch.output.prefix = QStringLiteral("FBM_");
        batch.output.matrixValue = -999999;
        QStringList names;
        NullProgress progress;
        QVERIFY(writeMaps<FractalMapGenerator>(batch, dir.filePath(QStringLiteral("FBM_")), names,
                                               progress)
                    .ok());
        QVERIFY(!names.isEmpty());
        QVERIFY(batch.diskEstimate(4096).files >= names.size());
        QVERIFY(batch.diskEstimate(1).bytes >= double(bytesIn(names)));

        // However many replicates are asked for, a surface gives at most
        // one map per threshold.
        FractalBatchRequest many = batch;
        many.hurst = {0.1, 1.0, 0.01};
        many.covers = {0, 100, 1};
        many.replicates = 999999;
        QCOMPARE(many.diskEstimate(4096).files, qint64(91) * 200 * 80 + 3);
    }

    void humanSizes_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << 0.0 << "0 bytes";
        QTest::newRow("just under a KiB") << 1023.0 << "1023 bytes";
        QTest::newRow("a KiB") << 1024.0 << "1.0 KiB";
        QTest::newRow("a KiB and a half") << 1536.0 << "1.5 KiB";
        QTest::newRow("five GiB") << 5.0 * (1 << 30) << "5.0 GiB";
        QTest::newRow("beyond the last unit") << std::ldexp(1.0, 90) << "1024.0 YiB";
    }

    void humanSizes()
    {
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(DiskSpace::humanSize(bytes), text);
    }

    void commandLineRefusesWhatNoDiskHolds_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("random") << QStringList{"random",       "--size", "9999999",
                                               "--replicates", "999999", "--quiet"};
        QTest::newRow("fractal") << QStringList{"fractal",    "--size",  "4096",    "--replicates",
                                                "999999",     "--cover", "0:100:1", "--hurst",
                                                "0.1:1:0.01", "--quiet"};
    }

    void commandLineRefusesWhatNoDiskHolds()
    {
        QFETCH(QStringList, arguments);
        const QString out = m_dir.filePath(QStringLiteral("huge/maps"));
        const CliRun run = runCli(QStringList{arguments.first(), "--out", out} + arguments.mid(1));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QLatin1String("needs about")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QLatin1String("is free")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QDir::toNativeSeparators(out)), qPrintable(run.err));
        QVERIFY2(!run.err.contains(QLatin1String("--help")), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("huge"))));
    }

    void smallFileSystemIsMeasuredExactly()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        TmpfsMount mount(disk, qint64(1) << 20);
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(mount.error())));
        // Ten maps of 80 KB fit in 1 MiB, twenty do not.
        const QString out = disk + QStringLiteral("/maps");
        const CliRun tooMuch =
            runCli({"random", "--out", out, "--cover", "1:20:1", "--size", "200", "--quiet"});
        QCOMPARE(tooMuch.exitCode, 2);
        QVERIFY2(tooMuch.err.contains(QLatin1String("only 1.0 MiB is free")),
                 qPrintable(tooMuch.err));
        QVERIFY(!QFileInfo::exists(out));

        const CliRun fits =
            runCli({"random", "--out", out, "--cover", "1:10:1", "--size", "200", "--quiet"});
        QCOMPARE(fits.exitCode, 0);
    }

    void fileSystemOutOfInodesIsRefused()
    {
        QTemporaryDir dir;
        const QString disk = dir.filePath(QStringLiteral("disk"));
        // A tmpfs with room for bytes but for few files, like a disk full
        // of small files.
        TmpfsMount mount(disk, qint64(8) << 20, "nr_inodes=64");
        if (!mount.isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(mount.error())));
        const CliRun run = runCli({"random", "--out", disk + QStringLiteral("/maps"), "--cover",
                                   "0:100:1", "--size", "2", "--quiet"});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QLatin1String("writes 104 files")), qPrintable(run.err));
    }

    void windowRefusesWhatNoDiskHolds_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("random") << "actionRandom";
        QTest::newRow("fractal") << "actionFractal";
    }

    void windowRefusesWhatNoDiskHolds()
    {
        QFETCH(QString, action);
        const QString oldCwd = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        const QString out = m_dir.filePath(QStringLiteral("window/maps"));
        {
            MainWindow w;
            auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
            list->addItem(QStringLiteral("kept"));
            const bool fractal = action == QLatin1String("actionFractal");
            whenModal<QDialog>([out, fractal](QDialog *dialog) {
                dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(0);
                dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(100);
                dialog->findChild<QSpinBox *>(QStringLiteral("Cp"))->setValue(1);
                dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))
                    ->setValue(fractal ? 4096 : 9999999);
                dialog->findChild<QSpinBox *>(QStringLiteral("amo"))->setValue(999999);
                if (fractal) {
                    dialog->findChild<QDoubleSpinBox *>(QStringLiteral("Hi"))->setValue(0.1);
                    dialog->findChild<QDoubleSpinBox *>(QStringLiteral("Hf"))->setValue(1.0);
                    dialog->findChild<QDoubleSpinBox *>(QStringLiteral("Hp"))->setValue(0.01);
                }
                dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(out);
                clickOk(dialog);
            });
            QString shown;
            QString folderAgain;
            whenModal<QMessageBox>([&shown, &folderAgain](QMessageBox *box) {
                shown = box->text();
                // The refusal brings the dialog back, values kept.
                whenModal<QDialog>([&folderAgain](QDialog *again) {
                    folderAgain = again->findChild<QLineEdit *>(QStringLiteral("path"))->text();
                    again->reject();
                });
                box->accept();
            });
            w.findChild<QAction *>(action)->trigger();
            QVERIFY2(shown.contains(QLatin1String("needs about")), qPrintable(shown));
            QCOMPARE(folderAgain, out);
            QCOMPARE(list->count(), 1);
        }
        QDir::setCurrent(oldCwd);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("window"))));
    }
};

QTEST_MAIN(TestDiskSpace)
#include "tst_diskspace.moc"
