#include "core/batchlist.h"

#include "core/mapnames.h"
#include "core/writefully.h"

#include <QFile>

QString batchListFileName(const QString &pathPrefix)
{
    return batchListName(pathPrefix);
}

FileResult writeBatchList(const QStringList &fileNames, const QString &pathPrefix,
                          const QString &postString, OnDisk onDisk)
{
    const QByteArray post = postString.toLatin1();
    return saveLines(
        batchListFileName(pathPrefix), QByteArray(), fileNames.size(),
        [&fileNames, &post](qsizetype i, QByteArray &out) {
            out += QFile::encodeName(fileNames[i]);
            out += post;
            out += '\n';
        },
        AtLink::Refuse, onDisk);
}
