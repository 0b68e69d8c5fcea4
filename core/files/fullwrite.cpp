// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/fullwrite.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

std::optional<QString> writeFully(QFileDevice &file, const char *data, qint64 size)
{
    while (size > 0) {
        errno = 0;
        const qint64 written = file.write(data, size);
        if (written <= 0) {
            const int error = errno;
            QString reason = file.errorString();
            if (error != 0 && (reason.isEmpty() || reason == QLatin1String("Unknown error")))
                reason = QString::fromLocal8Bit(std::strerror(error));
            if (reason.isEmpty())
                reason = QStringLiteral("write failed");
            return reason;
        }
        data += written;
        size -= written;
    }
    return std::nullopt;
}

FileResult linkRefusal(const QString &name)
{
    if (!QFileInfo(name).isSymLink())
        return std::nullopt;
    return FileError{QDir::toNativeSeparators(name),
                     QCoreApplication::translate("SaveFile", "a symbolic link stands at this name, "
                                                             "and a batch never writes through a "
                                                             "link")};
}
