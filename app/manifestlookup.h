// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// What a batch's manifest says about one of its maps, in the words the
// manifest itself uses (see core/batch/batchmanifest.h).
struct ManifestEntry {
    QString kind;
    QString requestedCover;
    // Empty for random maps.
    QString H;
    QString seed;
    QString replicate;
    // What the map's family says of it besides (a field's model and range),
    // column and value, in the order of the family's status columns.
    QList<std::pair<QString, QString>> details;
    // The code of the cells outside a study area, which a plain map's file
    // cannot say.
    std::optional<qint32> noData;
};

// Finds the manifest row of a map file, for the status bar. A batch writes
// PREFIX + "manifest.csv" beside its maps, whose names start with PREFIX,
// so the manifests that can describe a map are those in its folder whose
// prefix starts its name; the longest such prefix that lists the map wins.
//
// A manifest is read whole once and kept, with its size and time of change,
// until another one is needed or it changes on disk, so stepping through
// the maps of a large batch reads it once.
class ManifestLookup final {
public:
    std::optional<ManifestEntry> find(const QString &mapPath);

private:
    // Reads the manifest at `path` into m_rows unless it is already there.
    bool load(const QString &path);

    QString m_path;
    qint64 m_size = -1;
    QDateTime m_modified;
    QHash<QString, ManifestEntry> m_rows;
};
