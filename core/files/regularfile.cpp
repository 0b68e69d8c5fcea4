// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/regularfile.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileResult openRegularFile(const QString &path, QFile &file)
{
    const QString shown = QDir::toNativeSeparators(path);
    // Non-blocking, so that a FIFO without a writer does not hold the open.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return FileError{shown, QString::fromLocal8Bit(std::strerror(errno))};
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return FileError{shown, QString::fromLocal8Bit(std::strerror(error))};
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        const char *what = S_ISDIR(info.st_mode)                            ? "a folder"
                           : S_ISFIFO(info.st_mode)                         ? "a pipe"
                           : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                           : S_ISSOCK(info.st_mode)                         ? "a socket"
                                                                            : "not a file";
        return FileError{shown, QCoreApplication::translate("RegularFile",
                                                            "%1, not a regular file; only files "
                                                            "are read as maps and settings")
                                    .arg(QCoreApplication::translate("RegularFile", what))};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return FileError{shown, file.errorString()};
    }
    return std::nullopt;
}
