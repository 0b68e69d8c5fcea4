// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <variant>

// A lock on a file that the kernel holds for this process (flock) for as
// long as the FileLock lives. It goes with the process however that ends, so
// the lock of a killed process is free at once, whatever process has its id
// by then: nothing is inferred from a process id. The file also names its
// holder (process, program and host), written once the lock is held, so
// that whoever finds it held can say who holds it.
//
// Only a regular file is a lock: a link, a FIFO or a device at the name is
// refused, never followed, opened for long or waited on. A regular file
// that holds something other than a holder's lines is no lock either, and
// is left as it is.
class FileLock final {
public:
    struct Holder {
        qint64 pid = 0;
        QString program;
        QString host;
    };
    struct Refusal {
        enum class Kind {
            // A live process holds the lock; `holder` says who, as far as
            // the file says (pid 0 when it does not yet).
            Held,
            // Something else is at the name; `reason` says what.
            NotALock,
            // The file cannot be made or locked; `reason` is the system's.
            Failed,
        };
        Kind kind = Kind::Failed;
        Holder holder;
        QString reason;
    };

    FileLock() = default;
    // Releases the lock and removes its file.
    ~FileLock();
    FileLock(FileLock &&other) noexcept;
    FileLock &operator=(FileLock &&other) noexcept;
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Takes the lock at `path`, making its file when there is none, without
    // waiting for a holder.
    static std::variant<FileLock, Refusal> take(const QString &path);

    bool isHeld() const { return m_fd >= 0; }
    void release();

private:
    QString m_path;
    int m_fd = -1;
};
