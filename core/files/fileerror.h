// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// A failure the user has to hear about: which file, and the system's reason
// in its own words. Core operations return it instead of ending the process
// or swallowing the error, and the caller decides how to show it.
struct FileError {
    QString path;
    QString reason;

    // "path: reason", the form command-line tools use; callers put what was
    // being attempted in front of it.
    QString message() const { return QStringLiteral("%1: %2").arg(path, reason); }
};

// Empty on success.
using FileResult = std::optional<FileError>;
