// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <variant>

// Gathers the folders of the shares of a split batch (--shard K/N) into one
// folder that holds what the whole batch, run at once into it, would hold:
// every map under its name, one batch list naming them there, one manifest
// in the whole batch's order. Each share records its request, its place
// among the shares and its maps (core/runrecord.h); the shares are gathered
// only when they belong to one request and one release, every share from 1
// to N is there once, each ran to its end and holds what its record names.
//
// Each share's maps, surfaces and manifest rows must still be what its
// record says it wrote (their sizes and fingerprints): a file edited or
// replaced since, or a row changed, is refused by name.
//
// The maps are hard-linked, so the shares' folders stay as they were (a
// copy is made where the folders lie on different file systems).
// Everything is assembled in a new folder beside `out` and renamed to `out`
// at the end, so that `out` is either missing or whole; `out` must not
// exist yet, or be an empty folder. A merge holds a lock beside `out` while
// it works (the kernel's, so it goes with the merge however that ends), and
// removes what a merge into `out` that was killed left there.
struct MergeResult {
    qsizetype maps = 0;
    qsizetype shares = 0;
    QString batchList;
};
// Why nothing was merged, naming the folder or file: `refused` when the
// shares cannot be merged as given, otherwise the system's reason a file of
// the merge could not be written.
struct MergeFailure {
    bool refused = true;
    QString message;
};
std::variant<MergeResult, MergeFailure> mergeShards(const QString &out,
                                                    const QStringList &shareFolders);
