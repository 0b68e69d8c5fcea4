// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <variant>

// What a file or a line held when it was written, to tell later whether it
// still does: its size and a 128-bit hash of its bytes (XXH3). It is no
// guard against a file forged on purpose, but no edit, truncation or swap
// of one file for another passes it by chance, and it costs a small part of
// what writing the bytes cost.
struct Fingerprint {
    qint64 size = -1;
    // 32 hexadecimal digits; empty when nothing was taken.
    QString hash;

    bool isTaken() const { return size >= 0 && hash.size() == 32; }
    bool operator==(const Fingerprint &) const = default;
};

Fingerprint fingerprintOf(QByteArrayView bytes);
// The fingerprint of the regular file at `path`, or why it cannot be read.
std::variant<Fingerprint, FileError> fingerprintOfFile(const QString &path);
