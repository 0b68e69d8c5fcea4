// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/cli.h"
#include "tests/support/files.h"

#include <QDir>
#include <QString>
#include <QStringList>

// What differs between the folder a run left and the folder of the run it
// should equal: the names of the files, then each file byte for byte, the
// batch list after the one folder its absolute paths name is replaced by
// the other's. Empty when nothing does.
inline QString runDifference(const QString &expected, const QString &actual)
{
    const QStringList names = filesIn(expected);
    if (filesIn(actual) != names)
        return QStringLiteral("files differ: [%1] vs [%2]")
            .arg(names.join(QLatin1Char(' ')), filesIn(actual).join(QLatin1Char(' ')));
    const QByteArray from = QFile::encodeName(QDir(expected).absolutePath()) + '/';
    const QByteArray to = QFile::encodeName(QDir(actual).absolutePath()) + '/';
    for (const QString &name : names) {
        QByteArray want = readAll(QDir(expected).filePath(name));
        if (name.endsWith(QLatin1String("ListFragStat.fbt")))
            want.replace(from, to);
        if (readAll(QDir(actual).filePath(name)) != want)
            return QStringLiteral("%1 differs").arg(name);
    }
    return {};
}

// Runs every share of a batch into parent/N/K, then merges them into
// parent/N/merged; the merged folder, or nothing when a step failed (its
// message in `failure`).
inline QString runAndMergeShares(const QStringList &batch, int count, const QString &parent,
                                 QString &failure)
{
    const QString base = QDir(parent).filePath(QString::number(count));
    QStringList merge{QStringLiteral("merge"), base + QStringLiteral("/merged")};
    for (int k = 1; k <= count; ++k) {
        const QString folder = base + QLatin1Char('/') + QString::number(k);
        const CliRun share =
            runCli(batch + QStringList{QStringLiteral("--out"), folder, QStringLiteral("--shard"),
                                       QStringLiteral("%1/%2").arg(k).arg(count),
                                       QStringLiteral("--quiet")});
        if (share.exitCode != 0) {
            failure = QStringLiteral("share %1/%2: %3").arg(k).arg(count).arg(share.err);
            return {};
        }
        merge.append(folder);
    }
    const CliRun merged = runCli(merge);
    if (merged.exitCode != 0) {
        failure = QStringLiteral("merge of %1: %2").arg(count).arg(merged.err);
        return {};
    }
    return merge.at(1);
}
