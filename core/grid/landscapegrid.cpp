// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/landscapegrid.h"

#include <QCoreApplication>

#include <unistd.h>

std::optional<QString> declaredSizeRefusal(qint64 rows, qint64 columns)
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("LandscapeGrid", text);
    };
    // Both sides are at most 2^31 - 1, so the product cannot overflow.
    const qint64 cells = rows * columns;
    if (cells > maxMapCells)
        return tr("the map declares %1 x %2 cells, %3 in all; a map may hold at most %4")
            .arg(QString::number(rows), QString::number(columns), QString::number(cells),
                 QString::number(maxMapCells));
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const qint64 bytes = cells * qint64(sizeof(qint32));
    if (pages > 0 && pageSize > 0 && bytes > qint64(pages) * pageSize)
        return tr("the map declares %1 x %2 cells, which need %3 MiB, more than this computer's "
                  "%4 MiB of memory")
            .arg(QString::number(rows), QString::number(columns), QString::number(bytes >> 20),
                 QString::number((qint64(pages) * pageSize) >> 20));
    return std::nullopt;
}
