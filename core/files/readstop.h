// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>

// Asked between blocks of a read: true stops it, so that a reader waiting on
// a large map can give up on it (Ctrl-C in Python, another map chosen in the
// window).
using ReadStop = std::function<bool()>;

// The reason a read that a ReadStop stopped gives.
inline QString readStoppedReason()
{
    return QCoreApplication::translate("readMap", "reading stopped before the end of the map");
}
