// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"

#include <QString>

// The stem every map and batch list name of a run starts with: the folder,
// the platform's separator and the prefix, in native form so that the file
// list and the batch list show paths the way the user's system writes them.
QString nameStem(const QString &folder, const QString &prefix);

// Makes sure a run has somewhere to write. An empty folder text is refused
// (it would otherwise mean the file-system root); a missing folder is
// created. Returns a user-facing reason, with the system's when a folder
// could not be made, when the run must not start. `created`, if given, is
// set to the outermost folder made, empty when none was.
std::optional<QString> prepareOutputFolder(const QString &folder, QString *created = nullptr);

// Removes the folders prepareOutputFolder() made for `folder`, up to and
// including `created`, as long as they are still empty.
void removeCreatedFolders(const QString &folder, const QString &created);
