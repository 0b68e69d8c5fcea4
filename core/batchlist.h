#pragma once

#include "core/fileerror.h"

#include <QString>
#include <QStringList>

// The list of a run's maps for the landscape-metrics program: one line per
// map, the path immediately followed by the user's post-string (which
// carries whatever fields and separators that program expects).
//
// The file is named pathPrefix + "ListFragStat.fbt", kept as Unicode so it
// lands exactly where the folder and prefix say; its content is Latin-1
// because that is what the metrics program reads. It is rewritten whole
// through a temporary file, so a failure leaves the previous list intact.
QString batchListFileName(const QString &pathPrefix);
FileResult writeBatchList(const QStringList &fileNames, const QString &pathPrefix,
                          const QString &postString);
