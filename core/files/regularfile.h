// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"

#include <QFile>
#include <QString>

// Opens `path` for reading only if it is a regular file. A FIFO or a device
// is refused without waiting: opening a FIFO with no writer would block for
// ever, and /dev/zero or /dev/urandom never end. The check is made on the
// descriptor that is then read, so the file cannot be swapped between the
// check and the read.
FileResult openRegularFile(const QString &path, QFile &file);
