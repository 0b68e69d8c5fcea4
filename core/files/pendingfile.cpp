// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/pendingfile.h"

#include "core/files/fullwrite.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

// The system's generator: the name must differ between processes writing
// into one folder, and no seeded state of a run may depend on how many files
// it wrote.
QString temporaryName(const QString &target)
{
    static constexpr char alphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString name = target + QLatin1Char('.');
    for (int i = 0; i < 6; ++i)
        name +=
            QLatin1Char(alphabet[QRandomGenerator::system()->bounded(int(sizeof alphabet - 1))]);
    return name;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

PendingFile::~PendingFile()
{
    discard();
}

PendingFile::PendingFile(PendingFile &&other) noexcept
{
    *this = std::move(other);
}

PendingFile &PendingFile::operator=(PendingFile &&other) noexcept
{
    if (this == &other)
        return *this;
    discard();
    m_target = std::move(other.m_target);
    m_temporaryPath = std::exchange(other.m_temporaryPath, QString());
    m_file = std::exchange(other.m_file, std::make_unique<QFile>());
    m_closed = std::exchange(other.m_closed, false);
    return *this;
}

FileError PendingFile::error(const QString &reason) const
{
    return FileError{QDir::toNativeSeparators(m_target), reason};
}

FileResult PendingFile::create(const QString &target)
{
    discard();
    m_target = target;
    if (FileResult refusal = linkRefusal(target))
        return refusal;
    for (int attempt = 0;; ++attempt) {
        m_temporaryPath = temporaryName(target);
        m_file->setFileName(m_temporaryPath);
        m_closed = false;
        if (m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return std::nullopt;
        const QFileInfo existing(m_temporaryPath);
        const QString reason = m_file->errorString();
        m_temporaryPath.clear();
        if (attempt < 16 && (existing.exists() || existing.isSymLink()))
            continue;
        return error(reason);
    }
}

FileResult PendingFile::write(const char *data, qint64 size)
{
    if (auto reason = writeFully(*m_file, data, size))
        return error(*reason);
    return std::nullopt;
}

FileResult PendingFile::close()
{
    if (!m_file->isOpen() || m_closed)
        return std::nullopt;
    m_closed = true;
    if (m_file->error() != QFileDevice::NoError)
        return error(m_file->errorString());
#ifdef Q_OS_LINUX
    // Writing a large file back while the next one is made hides the disk's
    // time; for small ones, whose group is synced in one go, it only splits
    // the disk's work into more requests (the default fractal batch takes a
    // seventh longer on an ext4 disk with it).
    constexpr qint64 earlyWritebackBytes = qint64(1) << 20;
    if (m_file->pos() >= earlyWritebackBytes)
        ::sync_file_range(m_file->handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return std::nullopt;
}

void PendingFile::handOver()
{
    m_file->close();
    m_closed = true;
}

FileResult PendingFile::syncWith(int (*syncCall)(int))
{
    if (m_file->isOpen()) {
        if (syncCall(m_file->handle()) != 0)
            return error(systemReason(errno));
        return std::nullopt;
    }
    // A file another library wrote and closed (GDAL) is opened to be synced.
    const int fd = ::open(QFile::encodeName(m_temporaryPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return error(systemReason(errno));
    FileResult result;
    if (syncCall(fd) != 0)
        result = error(systemReason(errno));
    ::close(fd);
    return result;
}

FileResult PendingFile::sync()
{
    return syncWith(::fdatasync);
}

FileResult PendingFile::syncFileSystem()
{
#ifdef Q_OS_LINUX
    // Since Linux 5.8 this also reports a failure to write back any file of
    // the file system, ours among them.
    return syncWith(::syncfs);
#else
    return sync();
#endif
}

FileResult PendingFile::publish()
{
    if (FileResult result = close())
        return result;
    m_file->close();
    // rename() replaces the directory entry itself, where QFile::rename
    // would refuse an existing target.
    if (::rename(QFile::encodeName(m_temporaryPath).constData(),
                 QFile::encodeName(m_target).constData()) != 0)
        return error(systemReason(errno));
    m_temporaryPath.clear();
    return std::nullopt;
}

void PendingFile::discard()
{
    m_closed = false;
    if (m_file->isOpen())
        m_file->close();
    if (!m_temporaryPath.isEmpty())
        QFile::remove(m_temporaryPath);
    m_temporaryPath.clear();
}
