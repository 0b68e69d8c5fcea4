// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mapnames.h"

QString batchListName(const QString &stem)
{
    return stem + QStringLiteral("ListFragStat.fbt");
}

QString manifestName(const QString &stem)
{
    return stem + QStringLiteral("manifest.csv");
}

QString metricsTableName(const QString &stem)
{
    return stem + QStringLiteral("metrics.csv");
}

QString shardRecordName(const QString &stem)
{
    return stem + QStringLiteral("shard.json");
}

QString lockFileName(const QString &stem)
{
    return batchListName(stem) + QStringLiteral(".lock");
}

QString journalName(const QString &stem)
{
    // No longer than the lock's name, so that no prefix that fits the file
    // system's names is refused for it.
    return stem + QStringLiteral("run.journal");
}
