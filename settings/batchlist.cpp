#include "settings/batchlist.h"

#include "app/writefully.h"

#include <QDir>
#include <QSaveFile>

QString batchListFileName(const QString &pathPrefix)
{
    return pathPrefix + QStringLiteral("ListFragStat.fbt");
}

FileResult writeBatchList(const QStringList &fileNames, const QString &pathPrefix,
                          const QString &postString)
{
    const QString name = batchListFileName(pathPrefix);
    const QString shownName = QDir::toNativeSeparators(name);
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return FileError{shownName, file.errorString()};

    const QByteArray post = postString.toLatin1();
    QByteArray content;
    for (const QString &path : fileNames) {
        content += path.toLatin1();
        content += post;
        content += '\n';
        if (content.size() >= (1 << 20)) {
            if (auto reason = writeFully(file, content)) {
                file.cancelWriting();
                return FileError{shownName, *reason};
            }
            content.clear();
        }
    }
    if (auto reason = writeFully(file, content)) {
        file.cancelWriting();
        return FileError{shownName, *reason};
    }
    if (!file.commit())
        return FileError{shownName, file.errorString()};
    return std::nullopt;
}
