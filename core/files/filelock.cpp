// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/filelock.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FileLock", text);
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return tr("a FIFO");
    if (S_ISDIR(mode))
        return tr("a folder");
    if (S_ISSOCK(mode))
        return tr("a socket");
    return tr("a device");
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A holder's three lines are short; a file that needs more to say them is
// no lock, and is not read further.
constexpr qsizetype mostHolderBytes = 4096;

// Who the lock file names: nobody (pid 0) when it is empty, as it is for the
// moment between a holder taking the lock and writing its lines, or as a
// process killed in that moment leaves it; nothing when it holds something
// other than a holder's lines.
std::optional<FileLock::Holder> holderIn(int fd)
{
    QByteArray bytes(mostHolderBytes, Qt::Uninitialized);
    const ssize_t got = ::pread(fd, bytes.data(), std::size_t(bytes.size()), 0);
    if (got < 0)
        return std::nullopt;
    bytes.truncate(qsizetype(got));
    if (bytes.isEmpty())
        return FileLock::Holder{};
    const QList<QByteArray> lines = bytes.split('\n');
    bool number = false;
    const qint64 pid = lines.value(0).toLongLong(&number);
    if (!number || pid <= 0)
        return std::nullopt;
    return FileLock::Holder{pid, QString::fromUtf8(lines.value(1)),
                            QString::fromUtf8(lines.value(2))};
}

// What a holder writes of itself: the lines QLockFile writes, so that the
// locks of either read alike.
QByteArray holderLines()
{
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
           QFileInfo(program).fileName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() +
           '\n';
}

} // namespace

FileLock::~FileLock()
{
    release();
}

FileLock::FileLock(FileLock &&other) noexcept
    : m_path(std::move(other.m_path))
    , m_fd(std::exchange(other.m_fd, -1))
{}

FileLock &FileLock::operator=(FileLock &&other) noexcept
{
    if (this != &other) {
        release();
        m_path = std::move(other.m_path);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

std::variant<FileLock, FileLock::Refusal> FileLock::take(const QString &path)
{
    using Kind = Refusal::Kind;
    const QByteArray name = QFile::encodeName(path);
    // A holder that ends between this process opening the file and locking
    // it removes the file: the lock then taken is on a file no longer at the
    // name, which keeps nobody out, and the name is tried again.
    constexpr int attempts = 100;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const int fd =
            ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            if (error == ELOOP)
                return Refusal{Kind::NotALock, {}, tr("a symbolic link")};
            if (error == EISDIR)
                return Refusal{Kind::NotALock, {}, tr("a folder")};
            return Refusal{Kind::Failed, {}, systemReason(error)};
        }
        struct stat opened = {};
        if (::fstat(fd, &opened) != 0) {
            const int error = errno;
            ::close(fd);
            return Refusal{Kind::Failed, {}, systemReason(error)};
        }
        if (!S_ISREG(opened.st_mode)) {
            ::close(fd);
            return Refusal{Kind::NotALock, {}, kindOf(opened.st_mode)};
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error != EWOULDBLOCK) {
                ::close(fd);
                return Refusal{Kind::Failed, {}, systemReason(error)};
            }
            // The holder names itself right after it takes the lock.
            Holder holder;
            for (int wait = 0; wait < 50; ++wait) {
                const std::optional<Holder> named = holderIn(fd);
                if (!named || named->pid > 0) {
                    holder = named.value_or(Holder{});
                    break;
                }
                QThread::msleep(10);
            }
            ::close(fd);
            return Refusal{Kind::Held, holder, {}};
        }
        struct stat atName = {};
        if (::lstat(name.constData(), &atName) != 0 || !sameFile(atName, opened)) {
            ::close(fd);
            continue;
        }
        if (!holderIn(fd)) {
            ::close(fd);
            return Refusal{Kind::NotALock, {}, tr("a file that names no process")};
        }
        const QByteArray lines = holderLines();
        if (::ftruncate(fd, 0) != 0 ||
            ::pwrite(fd, lines.constData(), std::size_t(lines.size()), 0) != lines.size()) {
            const int error = errno;
            ::unlink(name.constData());
            ::close(fd);
            return Refusal{Kind::Failed, {}, systemReason(error)};
        }
        FileLock lock;
        lock.m_path = path;
        lock.m_fd = fd;
        return lock;
    }
    return Refusal{Kind::Failed, {}, tr("it was replaced again and again while it was taken")};
}

void FileLock::release()
{
    if (m_fd < 0)
        return;
    // The file goes while it is still locked, so that nobody takes the lock
    // of a file that is about to go; and only when it is this lock's file,
    // not one put at its name since.
    const QByteArray name = QFile::encodeName(m_path);
    struct stat held = {};
    struct stat atName = {};
    if (::fstat(m_fd, &held) == 0 && ::lstat(name.constData(), &atName) == 0 &&
        sameFile(held, atName))
        ::unlink(name.constData());
    ::close(m_fd);
    m_fd = -1;
}
