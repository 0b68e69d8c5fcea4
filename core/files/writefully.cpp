// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/writefully.h"

#include "core/files/pendingfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

FileResult saveBytes(const QString &name, const QByteArray &bytes)
{
    return saveLines(name, bytes, 0, {});
}

namespace {

// Lines are gathered into one buffer that is written out whenever it holds
// a chunk and then refilled, never freed: a fresh buffer for every chunk
// would fault in its pages again, which costs more than making the lines
// of a long table.
constexpr qsizetype chunkBytes = qsizetype(256) << 10;

template <typename Write>
std::optional<QString> writeLines(const QByteArray &head, qsizetype count,
                                  const std::function<void(qsizetype, QByteArray &)> &appendLine,
                                  Write write)
{
    QByteArray content;
    content.reserve(std::max(chunkBytes, head.size()) + (chunkBytes >> 2));
    content += head;
    for (qsizetype i = 0; i <= count; ++i) {
        if (i < count)
            appendLine(i, content);
        if (content.size() >= chunkBytes || i == count) {
            if (std::optional<QString> reason = write(content))
                return reason;
            content.truncate(0);
        }
    }
    return std::nullopt;
}

FileResult saveUnsynced(const QString &name, const QByteArray &head, qsizetype count,
                        const std::function<void(qsizetype, QByteArray &)> &appendLine)
{
    PendingFile file;
    if (FileResult error = file.create(name))
        return error;
    FileResult failed;
    writeLines(head, count, appendLine, [&file, &failed](const QByteArray &content) {
        failed = file.write(content.constData(), content.size());
        return failed ? std::optional<QString>(failed->reason) : std::nullopt;
    });
    if (failed)
        return failed;
    // The pending file removes its temporary file on a failure.
    return file.publish();
}

} // namespace

FileResult saveLines(const QString &name, const QByteArray &head, qsizetype count,
                     const std::function<void(qsizetype, QByteArray &)> &appendLine, AtLink atLink,
                     OnDisk onDisk)
{
    if (onDisk == OnDisk::DontWait)
        return saveUnsynced(name, head, count, appendLine);
    if (atLink == AtLink::Refuse) {
        if (FileResult error = linkRefusal(name))
            return error;
    }
    const QString shownName = QDir::toNativeSeparators(name);
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return FileError{shownName, file.errorString()};

    if (std::optional<QString> reason =
            writeLines(head, count, appendLine,
                       [&file](const QByteArray &content) { return writeFully(file, content); })) {
        file.cancelWriting();
        return FileError{shownName, *reason};
    }
    if (!file.commit())
        return FileError{shownName, file.errorString()};
    return std::nullopt;
}
