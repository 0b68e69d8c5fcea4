// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

// A small tmpfs mounted for the length of a test, to fill a real file
// system without touching the machine's disks. Mounting needs root (CI runs
// as root); where it is refused, the test says why it skipped and relies on
// its file-size-limit variant instead.
class TmpfsMount {
public:
    // `options` are added to the size, e.g. "nr_inodes=64".
    TmpfsMount(const QString &path, qint64 bytes, const QByteArray &options = {})
        : m_path(path)
    {
        if (::geteuid() != 0) {
            m_error = QStringLiteral("not running as root");
            return;
        }
        QDir().mkpath(path);
        QByteArray all = "size=" + QByteArray::number(bytes);
        if (!options.isEmpty())
            all += ',' + options;
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    all.constData()) != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        m_mounted = true;
    }

    ~TmpfsMount()
    {
        // A child still holding a file open would make a plain unmount fail;
        // detaching lets the kernel finish once it is gone.
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }

    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }

    // Makes the file system read-only, as a mount that was never writable.
    bool remountReadOnly()
    {
        return m_mounted && ::mount(nullptr, QFile::encodeName(m_path).constData(), nullptr,
                                    MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
    }
    QString error() const { return m_error; }

private:
    QString m_path;
    QString m_error;
    bool m_mounted = false;
};
