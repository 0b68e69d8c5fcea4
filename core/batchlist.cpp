#include "core/batchlist.h"

#include "core/writefully.h"

QString batchListFileName(const QString &pathPrefix)
{
    return pathPrefix + QStringLiteral("ListFragStat.fbt");
}

FileResult writeBatchList(const QStringList &fileNames, const QString &pathPrefix,
                          const QString &postString)
{
    const QByteArray post = postString.toLatin1();
    return saveLines(batchListFileName(pathPrefix), QByteArray(), fileNames.size(),
                     [&fileNames, &post](qsizetype i, QByteArray &out) {
                         out += fileNames[i].toLatin1();
                         out += post;
                         out += '\n';
                     });
}
