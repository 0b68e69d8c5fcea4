// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchprogress.h"
#include "core/batch/batchresult.h"
#include "core/batch/maprecord.h"

#include <QList>
#include <QString>
#include <QStringList>

// Writes a request's maps under `stem` with the generator alone, as the batch
// job does but without its folder checks, list and manifest, so that a test
// can look at exactly what the generator wrote.
template <typename Generator, typename Request>
BatchResult writeMaps(const Request &request, const QString &stem, QStringList &names,
                      BatchProgress &progress, QList<MapRecord> *records = nullptr)
{
    Generator generator(request);
    QList<MapRecord> written;
    const BatchResult result = generator.writeMaps(stem, written, progress);
    for (const MapRecord &record : written)
        names.append(record.fileName);
    if (records)
        *records += written;
    return result;
}
