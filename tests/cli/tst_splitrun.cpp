// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/files.h"
#include "tests/support/runfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
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

    QString m_document;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    const QRegularExpression m_shares{QStringLiteral("^SHARES=\\d+$"),
                                      QRegularExpression::MultilineOption};
    const QRegularExpression m_batch{QStringLiteral("^BATCH=\\(.*\\)$"),
                                     QRegularExpression::MultilineOption};
    // The documented batch, smaller.
    const QString m_small = QStringLiteral(
        "fractal --hurst 0.6:0.8:0.1 --cover 30:50:10 --size 33 --replicates 2 --metrics");

    // The documented script with three shares of the small batch.
    QString smaller(QString script) const
    {
        script.replace(m_shares, QStringLiteral("SHARES=3"));
        script.replace(m_batch, QStringLiteral("BATCH=(%1)").arg(m_small));
        return script;
    }

    // The whole small batch beside the merged one, compared with it.
    void compareWithWholeRun(const QString &folder)
    {
        const CliRun whole = runCli(
            m_small.split(QLatin1Char(' ')) + QStringList{"--out", "whole", "--quiet"}, folder);
        QVERIFY2(whole.exitCode == 0, qPrintable(whole.err));
        const QString wholeFolder = QDir(folder + QStringLiteral("/whole")).canonicalPath();
        // Three covers, two replicates, three H values, the list and the
        // manifest: nothing was left short or compared vacuously.
        QCOMPARE(filesIn(wholeFolder).size(), 3 * 2 * 3 + 2);
        const QString difference =
            runDifference(wholeFolder, QDir(folder + QStringLiteral("/merged")).canonicalPath());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_document = QString::fromUtf8(readAll(QStringLiteral(PW_DOCS_DIR "/splitting-runs.md")));
        QVERIFY(!m_document.isEmpty());
        m_environment.insert(QStringLiteral("PATH"),
                             QFileInfo(QStringLiteral(PW_CLI_PATH)).absolutePath() +
                                 QLatin1Char(':') + m_environment.value(QStringLiteral("PATH")));
    }

    // The job array's script, run once per task as SLURM would run it, then
    // the merge: the whole batch's folder. tests/cli/cluster_check.sh runs
    // the same script under a real SLURM.
    void documentedJobArrayMergesIntoTheWholeRun()
    {
        const QString job = documentedScript(m_document, QStringLiteral("slurm-job"));
        const QString merge = documentedScript(m_document, QStringLiteral("merge"));
        QVERIFY(job.contains(QStringLiteral("SLURM_ARRAY_TASK_ID")));
        // The array has one task per share.
        const QRegularExpressionMatch array =
            QRegularExpression(QStringLiteral("^#SBATCH --array=1-(\\d+)$"),
                               QRegularExpression::MultilineOption)
                .match(job);
        const QRegularExpressionMatch shares = m_shares.match(job);
        QVERIFY(array.hasMatch() && shares.hasMatch() && m_batch.match(job).hasMatch());
        QCOMPARE(shares.captured(0), QStringLiteral("SHARES=") + array.captured(1));

        QTemporaryDir dir;
        for (int task = 1; task <= 3; ++task) {
            QProcessEnvironment taskEnvironment = m_environment;
            taskEnvironment.insert(QStringLiteral("SLURM_ARRAY_TASK_ID"), QString::number(task));
            const Run run = bash(smaller(job), dir.path(), taskEnvironment);
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        }
        const Run merged = bash(merge, dir.path(), m_environment);
        QVERIFY2(merged.exitCode == 0, qPrintable(merged.err));
        compareWithWholeRun(dir.path());
    }

    void documentedGnuParallelMergesIntoTheWholeRun()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty())
            QSKIP("GNU parallel is not installed (scripts/install-deps.sh installs it)");
        const QString script = documentedScript(m_document, QStringLiteral("parallel"));
        QVERIFY(script.contains(QStringLiteral("merge")));
        QTemporaryDir dir;
        const Run run = bash(smaller(script), dir.path(), m_environment);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        compareWithWholeRun(dir.path());
    }
};

QTEST_GUILESS_MAIN(TestSplitRun)
#include "tst_splitrun.moc"
