// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The names of a run's records, beside its maps. Every name is the run's
// stem (folder, separator, prefix) and a tail; the maps' own tails are their
// family's (NameScheme in core/batch/mapfamily.h).

QString batchListName(const QString &stem);
QString manifestName(const QString &stem);
// Beside the manifest: every map's chosen metrics, a row each, when the
// batch names any.
QString metricsTableName(const QString &stem);
// What a share of a split batch records of its request and its maps, for
// `merge` (see core/batch/runrecord.h).
QString shardRecordName(const QString &stem);
// Beside the batch list; held while a run writes into the folder.
QString lockFileName(const QString &stem);
// Beside the batch list while a run writes: the names of the files it has
// named so far, one a line, so that a run killed before its list is written
// still says which files are its own.
QString journalName(const QString &stem);
