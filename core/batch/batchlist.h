// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/files/readstop.h"
#include "core/files/writefully.h"

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

// The maps a batch list names, in its order, for a viewer. The list does not
// say where a path ends and the post-string begins, so a line's path is the
// longest part of it that ends in a map file's extension (.txt, .asc, .tif)
// and names an existing file, either where the line says or, for a list
// moved together with its maps, beside the list. A line naming no existing
// file gives its longest such part (or the whole line) all the same, so that
// a missing map is listed and says so when it is opened. Relative paths are
// taken from the list's folder; empty lines are skipped.
//
// Only a regular file is read: a FIFO or a device is refused without being
// waited on. A line is read no further than the longest path the system
// allows and the longest post-string a run can be given; a longer one is
// refused by its number, so that a list of one endless line costs no more
// memory than a line can hold. `stop` is asked between lines.
FileResult readBatchList(const QString &listPath, QStringList &maps, const ReadStop &stop = {});
