// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"

#include <QFile>
#include <QString>

#include <memory>

// A file written under a temporary name beside its target, that takes the
// target's name only once it is complete and on disk, so that nothing under
// a map's name is ever a partial map, whatever stops the run.
//
// Unlike QSaveFile, which syncs and renames in one call, the three steps are
// apart: a batch writes a group of maps, syncs them together and then names
// them in order, paying one wait for the disk per group instead of one per
// map.
//
// The temporary name is the target's, a dot and six letters or digits, as
// QSaveFile names its own, so the README's clean-up command finds what a
// killed run leaves. It is created exclusively, with the permissions any new
// file gets.
class PendingFile final {
public:
    PendingFile() = default;
    ~PendingFile();
    PendingFile(PendingFile &&other) noexcept;
    PendingFile &operator=(PendingFile &&other) noexcept;
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    // Creates the temporary file and opens it for unbuffered writing. A
    // symbolic link at the target's name is refused, never followed.
    FileResult create(const QString &target);

    // The open temporary file, for writers that write through Qt.
    QFile &file() { return *m_file; }
    const QString &target() const { return m_target; }
    const QString &temporaryPath() const { return m_temporaryPath; }
    bool isPending() const { return !m_temporaryPath.isEmpty(); }

    // Writes all of `data`, or says why not (see writeFully).
    FileResult write(const char *data, qint64 size);
    // Ends the writing; the content is complete but may not be on disk yet.
    // A large file is given to the disk now, so that the wait in sync()
    // is short. The file stays open for sync(), which then needs no second
    // open: creating and opening files is most of what a small map costs.
    FileResult close();
    // Waits until the content is on disk.
    FileResult sync();
    // Waits until everything written to the file system that holds this
    // file is on disk, this file and every other: one wait for a whole group
    // of files in one folder. Where the system cannot, this file alone.
    FileResult syncFileSystem();
    // Lets another library write the temporary file by its path: nothing
    // is kept open here, and sync() opens it again.
    void handOver();
    // Gives the file its target's name, replacing whatever file had it. A
    // link that appeared there since create() is replaced, not followed.
    FileResult publish();
    // Removes the temporary file; nothing appears under the target's name.
    void discard();

private:
    FileError error(const QString &reason) const;
    FileResult syncWith(int (*syncCall)(int));

    QString m_target;
    QString m_temporaryPath;
    std::unique_ptr<QFile> m_file = std::make_unique<QFile>();
    // Written to the end; the handle is kept only for sync().
    bool m_closed = false;
};

// Finishes a writer's file and names it at once, after its own wait for the
// disk: for a file written on its own, where a batch would sync a group.
template <typename Writer> FileResult publishAlone(Writer &writer)
{
    PendingFile file;
    if (FileResult error = writer.finish(file))
        return error;
    if (FileResult error = file.sync())
        return error;
    return file.publish();
}
