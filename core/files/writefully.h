// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileDevice>
#include <QString>

#include "core/files/fileerror.h"
#include "core/files/fullwrite.h"

#include <functional>
#include <optional>

// Replaces the file `name` with `bytes` as a whole: through a temporary
// file beside it that is renamed into place only once everything is on disk,
// so a full disk, a crash or a kill never leaves a truncated file under the
// name. The error names the file as given, with native separators.
FileResult saveBytes(const QString &name, const QByteArray &bytes);

// What to do with a symbolic link standing at the name a file is saved
// under. QSaveFile writes through it to its target, which is what a user
// keeping config.txt in a dotfiles folder wants, but a batch must never
// write outside its folder.
enum class AtLink { Follow, Refuse };

// Whether a saved file is on disk before it takes its name. A run told not
// to wait for the disk (--no-sync) names its batch list and manifest as
// soon as they are written, like its maps: a crash can then leave them
// partial, but nothing ever waits for data written before them.
enum class OnDisk { Wait, DontWait };

// Writes a whole text file of `count` lines through QSaveFile: `head`, then
// the line `appendLine(i, buffer)` appends for each i, flushed in chunks so
// that a list of a million maps does not sit in memory twice. Nothing
// appears under `name` unless all of it was written. Without waiting for
// the disk, the file goes through a PendingFile that is named unsynced
// (QSaveFile always syncs); a link at `name` is then always refused.
FileResult saveLines(const QString &name, const QByteArray &head, qsizetype count,
                     const std::function<void(qsizetype, QByteArray &)> &appendLine,
                     AtLink atLink = AtLink::Follow, OnDisk onDisk = OnDisk::Wait);
