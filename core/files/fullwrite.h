// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The two steps every file the batches save is made of: writing all of its
// bytes, and refusing to write through a link.

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include "core/files/fileerror.h"

#include <optional>

// Writes all of `data` to an unbuffered file device, or returns the system's
// reason why it could not. A short write is not taken as success: the rest is
// written again, which is where a full disk reports itself. Buffered devices
// would hide that failure until close, and QSaveFile::commit() does not
// always notice it there, so every file we must not leave half-written goes
// through this function.
std::optional<QString> writeFully(QFileDevice &file, const char *data, qint64 size);

inline std::optional<QString> writeFully(QFileDevice &file, const QByteArray &bytes)
{
    return writeFully(file, bytes.constData(), bytes.size());
}

// The reason to refuse writing `name` when a link stands there.
FileResult linkRefusal(const QString &name);
