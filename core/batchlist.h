#pragma once

#include "core/fileerror.h"
#include "core/writefully.h"

#include <QString>
#include <QStringList>

// The list of a run's maps for the landscape-metrics program: one line per
// map, the path immediately followed by the user's post-string (which
// carries whatever fields and separators that program expects).
//
// The file is named pathPrefix + "ListFragStat.fbt". Each path is written
// byte for byte as the file system names the file, so that every line
// opens the map it names whatever characters the folder or prefix hold;
// the post-string is Latin-1, as the metrics program reads it and as
// config.txt stores it. The list is rewritten whole through a temporary
// file, so a failure leaves the previous list intact.
QString batchListFileName(const QString &pathPrefix);
FileResult writeBatchList(const QStringList &fileNames, const QString &pathPrefix,
                          const QString &postString, OnDisk onDisk = OnDisk::Wait);
