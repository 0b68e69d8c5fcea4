// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The fenced block that follows `<!-- tested: NAME -->` in the document.
QString documentedScript(const QString &document, const QString &name)
{
    const qsizetype marker = document.indexOf(QStringLiteral("<!-- tested: %1 -->").arg(name));
    if (marker < 0)
        return {};
    const qsizetype open = document.indexOf(QStringLiteral("```bash\n"), marker);
    const qsizetype close = document.indexOf(QStringLiteral("\n```"), open);
    if (open < 0 || close < 0)
        return {};
    const qsizetype begin = open + qsizetype(qstrlen("```bash\n"));
    return document.mid(begin, close - begin + 1);
}

struct Run {
    int exitCode = -1;
    QString err;
};

Run bash(const QString &script, const QString &workingDirectory,
         const QProcessEnvironment &environment)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    process.waitForFinished(300000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace

class TestSplitRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void singleHTasksMergeIntoTheMultiHRun()
    {
        const QString document =
            QString::fromUtf8(readAll(QStringLiteral(PW_DOCS_DIR "/splitting-runs.md")));
        QVERIFY(!document.isEmpty());
        QString job = documentedScript(document, QStringLiteral("slurm-job"));
        const QString merge = documentedScript(document, QStringLiteral("merge"));
        QVERIFY(job.contains(QStringLiteral("SLURM_ARRAY_TASK_ID")));
        QVERIFY(merge.contains(QStringLiteral("manifest.csv")));

        // The array must have one task per H of the example.
        const QRegularExpression hsLine(QStringLiteral("^HS=\\(([^)]*)\\)$"),
                                        QRegularExpression::MultilineOption);
        const QRegularExpression arrayLine(QStringLiteral("^#SBATCH --array=0-(\\d+)$"),
                                           QRegularExpression::MultilineOption);
        const QRegularExpression optionsLine(QStringLiteral("^OPTIONS=\\(.*\\)$"),
                                             QRegularExpression::MultilineOption);
        const QRegularExpressionMatch hs = hsLine.match(job);
        const QRegularExpressionMatch array = arrayLine.match(job);
        QVERIFY(hs.hasMatch() && array.hasMatch() && optionsLine.match(job).hasMatch());
        QCOMPARE(hs.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts).size(),
                 array.captured(1).toInt() + 1);

        // The documented job with a smaller batch: three H values, the last
        // of which a multi-H run reaches as 0.7999999999999999.
        const QStringList options{QStringLiteral("--cover"),      QStringLiteral("30:50:10"),
                                  QStringLiteral("--size"),       QStringLiteral("33"),
                                  QStringLiteral("--replicates"), QStringLiteral("2")};
        job.replace(hsLine, QStringLiteral("HS=(0.60 0.70 0.80)"));
        job.replace(optionsLine,
                    QStringLiteral("OPTIONS=(%1)").arg(options.join(QLatin1Char(' '))));

        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"),
                           QFileInfo(QStringLiteral(PW_CLI_PATH)).absolutePath() +
                               QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
        for (int task = 0; task < 3; ++task) {
            QProcessEnvironment taskEnvironment = environment;
            taskEnvironment.insert(QStringLiteral("SLURM_ARRAY_TASK_ID"), QString::number(task));
            const Run run = bash(job, dir.path(), taskEnvironment);
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        }
        const Run merged = bash(merge, dir.path(), environment);
        QVERIFY2(merged.exitCode == 0, qPrintable(merged.err));

        QProcess whole;
        whole.setWorkingDirectory(dir.path());
        whole.start(QStringLiteral(PW_CLI_PATH),
                    QStringList{QStringLiteral("fractal"), QStringLiteral("--out"),
                                QStringLiteral("whole"), QStringLiteral("--hurst"),
                                QStringLiteral("0.6:0.8:0.1"), QStringLiteral("--quiet")} +
                        options);
        QVERIFY(whole.waitForFinished(300000));
        QCOMPARE(whole.exitCode(), 0);

        // The batch lists hold the paths the system gives, links resolved.
        const QString wholeFolder = QDir(dir.filePath(QStringLiteral("whole"))).canonicalPath();
        const QString mergedFolder = QDir(dir.filePath(QStringLiteral("merged"))).canonicalPath();
        const QStringList names = filesIn(wholeFolder);
        QCOMPARE(filesIn(mergedFolder), names);
        // Three covers, two replicates, three H values, the list and the
        // manifest: nothing was left short or compared vacuously.
        QCOMPARE(names.size(), 3 * 2 * 3 + 2);
        for (const QString &name : names) {
            if (name.endsWith(QStringLiteral("ListFragStat.fbt")))
                continue;
            QVERIFY2(readAll(QDir(wholeFolder).filePath(name)) ==
                         readAll(QDir(mergedFolder).filePath(name)),
                     qPrintable(name));
        }
        const QString listName = QStringLiteral("FBM_ListFragStat.fbt");
        QByteArray expectedList = readAll(QDir(wholeFolder).filePath(listName));
        expectedList.replace((wholeFolder + QLatin1Char('/')).toUtf8(),
                             (mergedFolder + QLatin1Char('/')).toUtf8());
        QCOMPARE(readAll(QDir(mergedFolder).filePath(listName)), expectedList);
        QCOMPARE(readAll(QDir(mergedFolder).filePath(listName)).count('\n'), 3 * 2 * 3);
        QCOMPARE(
            readAll(QDir(mergedFolder).filePath(QStringLiteral("FBM_manifest.csv"))).count('\n'),
            1 + 3 * 2 * 3);

        // The tasks' folders keep only their own lists.
        for (const QString &h :
             {QStringLiteral("h0.60"), QStringLiteral("h0.70"), QStringLiteral("h0.80")})
            QCOMPARE(filesIn(dir.filePath(QStringLiteral("runs/") + h)),
                     (QStringList{listName, QStringLiteral("FBM_manifest.csv")}));
    }
};

QTEST_GUILESS_MAIN(TestSplitRun)
#include "tst_splitrun.moc"
