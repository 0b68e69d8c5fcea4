// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QList>

#include <unistd.h>

// The process's own memory as the kernel counts it, to show that a reader
// keeps no more than it must. Linux only; -1 elsewhere.
class ProcessMemory {
public:
    static qint64 residentBytes() { return field(1); }
    static qint64 virtualBytes() { return field(0); }

    // Address sanitizers reserve terabytes of shadow memory, so address
    // space limits and resident sizes mean nothing under them.
    static constexpr bool underAddressSanitizer()
    {
#if defined(__SANITIZE_ADDRESS__)
        return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
        return true;
#else
        return false;
#endif
#else
        return false;
#endif
    }

private:
    static qint64 field(int index)
    {
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (!statm.open(QIODevice::ReadOnly))
            return -1;
        const QList<QByteArray> fields = statm.readAll().split(' ');
        if (fields.size() <= index)
            return -1;
        return fields[index].toLongLong() * ::sysconf(_SC_PAGESIZE);
    }
};
