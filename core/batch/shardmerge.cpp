// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/shardmerge.h"

#include "core/batch/batchlist.h"
#include "core/batch/batchmanifest.h"
#include "core/batch/mapnames.h"
#include "core/batch/runrecord.h"
#include "core/files/outputpaths.h"
#include "core/files/regularfile.h"
#include "core/files/writefully.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ShardMerge", text);
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

const QString recordTail = QStringLiteral("shard.json");

struct Share {
    QString folder;
    QString prefix;
    ShareRecord record;
    int index = 0;
    int count = 0;
    QByteArray header;
    QList<QByteArray> rows;
};

// A name a record may give: a file of the folder itself, with the prefix.
bool plainName(const QString &name, const QString &prefix)
{
    return name.startsWith(prefix) && name.size() > prefix.size() &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           name != QLatin1String("..");
}

std::variant<Share, QString> readShare(const QString &given)
{
    Share share;
    share.folder = QDir(given).absolutePath();
    const QDir folder(share.folder);
    if (!QFileInfo(share.folder).isDir())
        return tr("\"%1\" is not a folder").arg(shown(share.folder));
    const QStringList records =
        folder.entryList({QLatin1Char('*') + recordTail}, QDir::Files | QDir::Hidden);
    if (records.size() > 1)
        return tr("\"%1\" holds the shares of several batches (%2); give each batch its own "
                  "folders")
            .arg(shown(share.folder), records.join(QStringLiteral(", ")));
    const QStringList journals = folder.entryList({QStringLiteral("*run.journal")}, QDir::Files);
    if (!journals.isEmpty())
        return tr("the share in \"%1\" did not finish: it was stopped while it wrote (its journal "
                  "%2 is there); finish it with --resume, then merge")
            .arg(shown(share.folder), journals.first());
    if (records.isEmpty())
        return tr("\"%1\" holds no finished share of a split batch (no *%2): run the batch with "
                  "--shard K/N into it, or finish it with --resume")
            .arg(shown(share.folder), recordTail);
    share.prefix = records.first().chopped(recordTail.size());
    auto read = readShareRecord(folder.filePath(records.first()));
    if (const auto *error = std::get_if<QString>(&read))
        return *error;
    share.record = std::move(std::get<ShareRecord>(read));
    if (!share.record.complete)
        return tr("the share in \"%1\" is incomplete: it stopped before its end; finish it with "
                  "--resume, then merge")
            .arg(shown(share.folder));
    const QStringList shard = share.record.run.shard.split(QLatin1Char('/'));
    bool indexOk = false;
    bool countOk = false;
    if (shard.size() == 2) {
        share.index = shard[0].toInt(&indexOk);
        share.count = shard[1].toInt(&countOk);
    }
    if (!indexOk || !countOk || share.index < 1 || share.index > share.count)
        return tr("\"%1\" does not say which share it is")
            .arg(shown(folder.filePath(records.first())));

    const QString manifestPath = manifestName(folder.filePath(share.prefix));
    QFile manifest;
    if (const FileResult error = openRegularFile(manifestPath, manifest))
        return tr("cannot read the share's manifest: %1").arg(error->message());
    // Every line of a manifest ends with a line feed; no field holds one.
    QList<QByteArray> lines = manifest.readAll().split('\n');
    if (lines.size() < 2 || !lines.last().isEmpty())
        return tr("the manifest \"%1\" does not end with a whole row").arg(shown(manifestPath));
    lines.removeLast();
    share.header = lines.takeFirst();
    share.rows = std::move(lines);
    if (share.rows.size() != qsizetype(share.record.maps.size()))
        return tr("the manifest \"%1\" lists %2 maps, the share's record %3: the share was "
                  "changed after it ran")
            .arg(shown(manifestPath))
            .arg(share.rows.size())
            .arg(share.record.maps.size());
    for (qsizetype i = 0; i < share.rows.size(); ++i)
        if (QString::fromUtf8(splitManifestRow(share.rows[i]).first()) !=
            share.record.maps[std::size_t(i)].file)
            return tr("the manifest \"%1\" and the share's record name different maps in row %2: "
                      "the share was changed after it ran")
                .arg(shown(manifestPath))
                .arg(i + 1);
    return share;
}

// Puts a file of a share's folder into the merged folder: a hard link, or a
// copy across file systems.
QString linkInto(const QString &from, const QString &to)
{
    const QFileInfo source(from);
    if (source.isSymLink() || !source.isFile())
        return tr("\"%1\" is missing from its share's folder, or is no file the share wrote")
            .arg(shown(from));
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return {};
    const int error = errno;
    if (error != EXDEV && error != EPERM && error != EMLINK)
        return tr("cannot link \"%1\" to \"%2\": %3")
            .arg(shown(from), shown(to), QString::fromLocal8Bit(std::strerror(error)));
    QFile file(from);
    if (!file.copy(to))
        return tr("cannot copy \"%1\" to \"%2\": %3")
            .arg(shown(from), shown(to), file.errorString());
    return {};
}

// Why the shares cannot make one batch: another request, release or split,
// a share given twice or missing.
QString sharesRefusal(const std::vector<Share> &shares)
{
    const Share &first = shares.front();
    std::map<int, const Share *> byIndex;
    for (const Share &share : shares) {
        const RunRecord &a = first.record.run;
        const RunRecord &b = share.record.run;
        if (a.kind != b.kind || a.request != b.request || share.prefix != first.prefix ||
            share.count != first.count || share.header != first.header)
            return tr("\"%1\" and \"%2\" hold shares of different requests; only the shares of "
                      "one batch can be merged")
                .arg(shown(first.folder), shown(share.folder));
        if (a.version != b.version)
            return tr("\"%1\" and \"%2\" hold shares made by different releases (%3 and %4), "
                      "whose manifests differ; make them again with one release")
                .arg(shown(first.folder), shown(share.folder), a.version, b.version);
        if (const auto [it, added] = byIndex.emplace(share.index, &share); !added)
            return tr("share %1 of %2 is given twice: \"%3\" and \"%4\"")
                .arg(share.index)
                .arg(share.count)
                .arg(shown(it->second->folder), shown(share.folder));
    }
    QStringList missing;
    for (int k = 1; k <= first.count; ++k)
        if (!byIndex.count(k))
            missing.append(QString::number(k));
    if (!missing.isEmpty())
        return (missing.size() == 1 ? tr("share %1 of %2 is missing; merge needs every share of "
                                         "the batch")
                                    : tr("shares %1 of %2 are missing; merge needs every share "
                                         "of the batch"))
            .arg(missing.join(QStringLiteral(", ")))
            .arg(first.count);
    return {};
}

} // namespace

std::variant<MergeResult, QString> mergeShards(const QString &out, const QStringList &shareFolders)
{
    if (shareFolders.isEmpty())
        return tr("no share folder given");
    std::vector<Share> shares;
    for (const QString &folder : shareFolders) {
        auto read = readShare(folder);
        if (const auto *error = std::get_if<QString>(&read))
            return *error;
        shares.push_back(std::move(std::get<Share>(read)));
    }
    if (QString refusal = sharesRefusal(shares); !refusal.isEmpty())
        return refusal;
    const Share &first = shares.front();
    QString postString;
    for (const QString &line : first.record.run.request)
        if (line.startsWith(QLatin1String("post_string=")))
            postString = line.mid(qsizetype(qstrlen("post_string=")));

    // The maps in the whole batch's order, and where each comes from.
    struct Entry {
        qint64 position;
        const Share *share;
        std::size_t row;
    };
    std::vector<Entry> entries;
    QSet<QString> names;
    for (const Share &share : shares) {
        for (std::size_t i = 0; i < share.record.maps.size(); ++i) {
            const ShareRecord::Map &map = share.record.maps[i];
            if (!plainName(map.file, first.prefix) ||
                (!map.surface.isEmpty() && !plainName(map.surface, first.prefix)))
                return tr("the record of \"%1\" names a map outside its folder")
                    .arg(shown(share.folder));
            if (names.contains(map.file))
                return tr("two shares hold \"%1\": the shares overlap").arg(map.file);
            names.insert(map.file);
            entries.push_back({map.position, &share, i});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.position < b.position; });
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (entries[i].position == entries[i - 1].position)
            return tr("two shares place a map at one place of the batch: the shares overlap");

    const QString target = QDir(out).absolutePath();
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() || targetInfo.isSymLink()) {
        if (!targetInfo.isDir() || targetInfo.isSymLink() ||
            !QDir(target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot))
            return tr("\"%1\" already exists and is not an empty folder; merge into a new "
                      "folder")
                .arg(shown(target));
    }
    const QString parent = targetInfo.absolutePath();
    if (const auto refusal = prepareOutputFolder(parent))
        return *refusal;
    // Made as any new folder is, with the permissions the user's mask
    // gives; gone again unless it becomes `out`.
    const QString stagingPath = QStringLiteral("%1/.%2.merging-%3")
                                    .arg(parent, targetInfo.fileName())
                                    .arg(QCoreApplication::applicationPid());
    if (::mkdir(QFile::encodeName(stagingPath).constData(), 0777) != 0)
        return tr("cannot create the folder \"%1\" to merge in: %2")
            .arg(shown(stagingPath), QString::fromLocal8Bit(std::strerror(errno)));
    bool renamed = false;
    const auto cleanUp = qScopeGuard([&] {
        if (!renamed)
            QDir(stagingPath).removeRecursively();
    });
    const QDir stage(stagingPath);

    QStringList listed;
    listed.reserve(qsizetype(entries.size()));
    QSet<QString> surfaces;
    for (const Entry &entry : entries) {
        const ShareRecord::Map &map = entry.share->record.maps[entry.row];
        const QDir from(entry.share->folder);
        // A surface file goes in before the maps cut from it, as a run
        // names it.
        if (!map.surface.isEmpty() && !surfaces.contains(map.surface)) {
            surfaces.insert(map.surface);
            if (QString error = linkInto(from.filePath(map.surface), stage.filePath(map.surface));
                !error.isEmpty())
                return error;
        }
        if (QString error = linkInto(from.filePath(map.file), stage.filePath(map.file));
            !error.isEmpty())
            return error;
        listed.append(nameStem(target, QString()) + map.file);
    }
    const QString stem = stage.filePath(first.prefix);
    if (const FileResult error = writeBatchList(listed, stem, postString))
        return error->message();
    if (const FileResult error =
            saveLines(manifestName(stem), first.header + '\n', qsizetype(entries.size()),
                      [&entries](qsizetype i, QByteArray &line) {
                          const Entry &entry = entries[std::size_t(i)];
                          line += entry.share->rows[qsizetype(entry.row)];
                          line += '\n';
                      }))
        return error->message();

    if (::rename(QFile::encodeName(stagingPath).constData(),
                 QFile::encodeName(target).constData()) != 0)
        return tr("cannot rename \"%1\" to \"%2\": %3")
            .arg(shown(stagingPath), shown(target), QString::fromLocal8Bit(std::strerror(errno)));
    renamed = true;
    return MergeResult{qsizetype(entries.size()), qsizetype(shares.size()),
                       batchListName(nameStem(target, first.prefix))};
}
