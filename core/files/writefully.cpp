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

FileResult saveUnsynced(const QString &name, const QByteArray &head, qsizetype count,
                        const std::function<void(qsizetype, QByteArray &)> &appendLine)
{
    PendingFile file;
    if (FileResult error = file.create(name))
        return error;
    QByteArray content = head;
    for (qsizetype i = 0; i <= count; ++i) {
        if (i < count)
            appendLine(i, content);
        if (content.size() >= (1 << 20) || i == count) {
            if (FileResult error = file.write(content.constData(), content.size()))
                return error;
            content.clear();
        }
    }
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

    QByteArray content = head;
    for (qsizetype i = 0; i <= count; ++i) {
        if (i < count)
            appendLine(i, content);
        if (content.size() >= (1 << 20) || i == count) {
            if (auto reason = writeFully(file, content)) {
                file.cancelWriting();
                return FileError{shownName, *reason};
            }
            content.clear();
        }
    }
    if (!file.commit())
        return FileError{shownName, file.errorString()};
    return std::nullopt;
}
