// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/shardmerge.h"

#include "core/batch/batchlist.h"
#include "core/batch/batchmanifest.h"
#include "core/batch/mapnames.h"
#include "core/batch/runrecord.h"
#include "core/files/filelock.h"
#include "core/files/fingerprint.h"
#include "core/files/fullwrite.h"
#include "core/files/outputpaths.h"
#include "core/files/regularfile.h"
#include "core/files/writefully.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
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
    // The long table of metrics, when the batch wrote one: its header and
    // each map's rows, line feeds included.
    QByteArray tableHeader;
    QList<QByteArray> tableRows;
};

// The first field of a CSV line, unquoted.
QByteArray firstCsvField(const QByteArray &line)
{
    if (!line.startsWith('"'))
        return line.left(line.indexOf(','));
    QByteArray field;
    for (qsizetype i = 1; i < line.size(); ++i) {
        if (line[i] != '"') {
            field += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            ++i;
        } else {
            break;
        }
    }
    return field;
}

// Reads a share's long table of metrics into the rows of each of its maps,
// in the order its record gives them; why not, when the table does not hold
// them so.
QString readMetricsTable(Share &share)
{
    const QString tablePath = metricsTableName(QDir(share.folder).filePath(share.prefix));
    QFile table;
    if (const FileResult error = openRegularFile(tablePath, table))
        return tr("cannot read the share's table of metrics: %1").arg(error->message());
    QList<QByteArray> lines = table.readAll().split('\n');
    if (lines.size() < 2 || !lines.last().isEmpty())
        return tr("the table of metrics \"%1\" does not end with a whole row")
            .arg(shown(tablePath));
    lines.removeLast();
    share.tableHeader = lines.takeFirst();
    qsizetype line = 0;
    for (const ShareRecord::Map &map : share.record.maps) {
        const QByteArray file = map.file.toUtf8();
        QByteArray rows;
        for (; line < lines.size() && firstCsvField(lines[line]) == file; ++line)
            rows += lines[line] + '\n';
        share.tableRows.append(rows);
    }
    if (line != lines.size())
        return tr("the table of metrics \"%1\" holds rows of \"%2\" where its share's record "
                  "has none: it was changed after the share ran")
            .arg(shown(tablePath), QString::fromUtf8(firstCsvField(lines[line])));
    return {};
}

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
    // Without what its files held, a share's files cannot be checked, and
    // merge takes nothing it cannot check. Resuming the share makes each map
    // again, keeps those that hold the same bytes, and records them anew.
    if (std::any_of(share.record.maps.begin(), share.record.maps.end(),
                    [](const ShareRecord::Map &map) {
                        return !map.content.isTaken() || map.row.hash.isEmpty() ||
                               (!map.surface.isEmpty() && !map.surfaceContent.isTaken());
                    }))
        return tr("\"%1\" was written by a release that did not record what a share's files "
                  "hold, so merge cannot check them: run the share again with the same options "
                  "and --resume, which checks each map and records it, then merge")
            .arg(shown(folder.filePath(records.first())));
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
    // A share of a batch with a table writes one, with no rows when it made
    // no map.
    const QFileInfo table(metricsTableName(folder.filePath(share.prefix)));
    if ((table.exists() || table.isSymLink() ||
         std::any_of(share.record.maps.begin(), share.record.maps.end(),
                     [](const ShareRecord::Map &map) { return !map.measures.hash.isEmpty(); })))
        if (QString error = readMetricsTable(share); !error.isEmpty())
            return error;
    return share;
}

// Why a file of a share is not the one its record says the share wrote, or
// nothing when it is.
QString changedSince(const QString &path, const Fingerprint &written)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return tr("\"%1\" is a symbolic link, not the file its share wrote").arg(shown(path));
    const auto taken = fingerprintOfFile(path);
    if (const auto *error = std::get_if<FileError>(&taken))
        return tr("cannot read a file its share wrote: %1").arg(error->message());
    const Fingerprint &now = std::get<Fingerprint>(taken);
    if (now.size != written.size)
        return tr("\"%1\" holds %2 bytes where its share wrote %3: it was changed or replaced "
                  "after the share ran")
            .arg(shown(path))
            .arg(now.size)
            .arg(written.size);
    if (now.hash != written.hash)
        return tr("\"%1\" holds other bytes than its share wrote (the same size, the "
                  "fingerprint %2 where it was %3): it was changed or replaced after the share "
                  "ran")
            .arg(shown(path), now.hash, written.hash);
    return {};
}

// Why a share's maps, surfaces or manifest rows are not those it recorded,
// or nothing when they all are.
QString shareChangedSince(const Share &share)
{
    const QDir folder(share.folder);
    QSet<QString> surfaces;
    const QString manifestPath = manifestName(folder.filePath(share.prefix));
    for (std::size_t i = 0; i < share.record.maps.size(); ++i) {
        const ShareRecord::Map &map = share.record.maps[i];
        if (QString changed = changedSince(folder.filePath(map.file), map.content);
            !changed.isEmpty())
            return changed;
        if (!map.surface.isEmpty() && !surfaces.contains(map.surface)) {
            surfaces.insert(map.surface);
            if (QString changed = changedSince(folder.filePath(map.surface), map.surfaceContent);
                !changed.isEmpty())
                return changed;
        }
        if (fingerprintOf(share.rows[qsizetype(i)]).hash != map.row.hash)
            return tr("\"%1\" gives the map \"%2\" another row than its share wrote (row %3): "
                      "it was changed after the share ran")
                .arg(shown(manifestPath), map.file)
                .arg(i + 1);
        if (!map.measures.hash.isEmpty() &&
            fingerprintOf(share.tableRows[qsizetype(i)]).hash != map.measures.hash)
            return tr("\"%1\" gives the map \"%2\" other metrics than its share wrote: it was "
                      "changed after the share ran")
                .arg(shown(metricsTableName(folder.filePath(share.prefix))), map.file);
    }
    return {};
}

// Puts a file of a share's folder into the merged folder: a hard link, or a
// copy across file systems.
QString linkInto(const QString &from, const QString &to)
{
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return {};
    const int error = errno;
    if (error != EXDEV && error != EPERM && error != EMLINK)
        return tr("cannot link \"%1\" to \"%2\": %3")
            .arg(shown(from), shown(to), QString::fromLocal8Bit(std::strerror(error)));
    // Copied a block at a time through writeFully, which gives the system's
    // reason for a full disk where QFile::copy and std::filesystem do not.
    QFile source;
    if (const FileResult error = openRegularFile(from, source))
        return tr("cannot copy \"%1\": %2").arg(shown(from), error->reason);
    QFile copy(to);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return tr("cannot copy \"%1\" to \"%2\": %3")
            .arg(shown(from), shown(to), copy.errorString());
    constexpr qint64 blockBytes = qint64(1) << 20;
    for (;;) {
        const QByteArray block = source.read(blockBytes);
        if (source.error() != QFileDevice::NoError)
            return tr("cannot copy \"%1\": %2").arg(shown(from), source.errorString());
        if (block.isEmpty())
            return {};
        if (const auto reason = writeFully(copy, block))
            return tr("cannot copy \"%1\" to \"%2\": %3").arg(shown(from), shown(to), *reason);
    }
}

// "1-4, 7, 9-99999": the numbers, in order, with each run of consecutive
// ones given by its ends.
QString rangesText(const QList<int> &numbers)
{
    QStringList ranges;
    for (qsizetype i = 0; i < numbers.size();) {
        qsizetype last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1)
            ++last;
        ranges.append(last == i ? QString::number(numbers[i])
                                : QStringLiteral("%1-%2").arg(numbers[i]).arg(numbers[last]));
        i = last + 1;
    }
    return ranges.join(QStringLiteral(", "));
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
            share.count != first.count || share.header != first.header ||
            share.tableHeader != first.tableHeader)
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
    QList<int> missing;
    for (int k = 1; k <= first.count; ++k)
        if (!byIndex.count(k))
            missing.append(k);
    if (!missing.isEmpty())
        return (missing.size() == 1 ? tr("share %1 of %2 is missing; merge needs every share of "
                                         "the batch")
                                    : tr("shares %1 of %2 are missing; merge needs every share "
                                         "of the batch"))
            .arg(rangesText(missing))
            .arg(first.count);
    return {};
}

} // namespace

std::variant<MergeResult, MergeFailure> mergeShards(const QString &out,
                                                    const QStringList &shareFolders)
{
    const auto refused = [](const QString &message) { return MergeFailure{true, message}; };
    const auto failed = [](const QString &message) { return MergeFailure{false, message}; };
    if (shareFolders.isEmpty())
        return refused(tr("no share folder given"));
    std::vector<Share> shares;
    for (const QString &folder : shareFolders) {
        auto read = readShare(folder);
        if (const auto *error = std::get_if<QString>(&read))
            return refused(*error);
        shares.push_back(std::move(std::get<Share>(read)));
    }
    if (QString refusal = sharesRefusal(shares); !refusal.isEmpty())
        return refused(refusal);
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
                return refused(tr("the record of \"%1\" names a map outside its folder")
                                   .arg(shown(share.folder)));
            if (names.contains(map.file))
                return refused(tr("two shares hold \"%1\": the shares overlap").arg(map.file));
            names.insert(map.file);
            entries.push_back({map.position, &share, i});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.position < b.position; });
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (entries[i].position == entries[i - 1].position)
            return refused(
                tr("two shares place a map at one place of the batch: the shares overlap"));
    for (const Share &share : shares)
        if (QString changed = shareChangedSince(share); !changed.isEmpty())
            return refused(changed);

    const QString target = QDir(out).absolutePath();
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() || targetInfo.isSymLink()) {
        if (!targetInfo.isDir() || targetInfo.isSymLink() ||
            !QDir(target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot))
            return refused(tr("\"%1\" already exists and is not an empty folder; merge into a "
                              "new folder")
                               .arg(shown(target)));
    }
    const QString parent = targetInfo.absolutePath();
    if (const auto refusal = prepareOutputFolder(parent))
        return refused(*refusal);
    // One merge into `out` at a time. Its lock goes with it however it
    // ends, so that whatever a merge into `out` left can only be a stopped
    // one's, and goes.
    const QString lockPath =
        QStringLiteral("%1/.%2.merging.lock").arg(parent, targetInfo.fileName());
    auto taken = FileLock::take(lockPath);
    if (const auto *refusal = std::get_if<FileLock::Refusal>(&taken)) {
        switch (refusal->kind) {
        case FileLock::Refusal::Kind::Held:
            return refused(
                tr("another merge (process %1 on %2) is making \"%3\"; wait for it to end")
                    .arg(refusal->holder.pid > 0 ? QString::number(refusal->holder.pid)
                                                 : tr("unknown"),
                         refusal->holder.host.isEmpty() ? tr("this computer")
                                                        : refusal->holder.host,
                         shown(target)));
        case FileLock::Refusal::Kind::NotALock:
            return refused(tr("\"%1\" is %2, not the lock of a merge: remove it")
                               .arg(shown(lockPath), refusal->reason));
        case FileLock::Refusal::Kind::Failed:
            break;
        }
        return failed(tr("cannot create \"%1\", which keeps other merges out of \"%2\": %3")
                          .arg(shown(lockPath), shown(target), refusal->reason));
    }
    const FileLock lock = std::move(std::get<FileLock>(taken));
    const QString leftoverPrefix = QStringLiteral(".%1.merging-").arg(targetInfo.fileName());
    for (const QFileInfo &entry : QDir(parent).entryInfoList(QDir::Dirs | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot)) {
        if (!entry.fileName().startsWith(leftoverPrefix) || entry.isSymLink())
            continue;
        std::error_code removeError;
        std::filesystem::remove_all(QFile::encodeName(entry.filePath()).toStdString(), removeError);
        if (removeError)
            return failed(tr("cannot remove \"%1\", which a merge into \"%2\" that was stopped "
                             "left: %3")
                              .arg(shown(entry.filePath()), shown(target),
                                   QString::fromLocal8Bit(removeError.message())));
    }
    // Made as any new folder is, with the permissions the user's mask
    // gives; gone again unless it becomes `out`.
    const QString stagingPath = QStringLiteral("%1/.%2.merging-%3")
                                    .arg(parent, targetInfo.fileName())
                                    .arg(QCoreApplication::applicationPid());
    if (::mkdir(QFile::encodeName(stagingPath).constData(), 0777) != 0)
        return failed(tr("cannot create the folder \"%1\" to merge in: %2")
                          .arg(shown(stagingPath), QString::fromLocal8Bit(std::strerror(errno))));
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
                return failed(error);
        }
        if (QString error = linkInto(from.filePath(map.file), stage.filePath(map.file));
            !error.isEmpty())
            return failed(error);
        listed.append(nameStem(target, QString()) + map.file);
    }
    const QString stem = stage.filePath(first.prefix);
    if (const FileResult error = writeBatchList(listed, stem, postString))
        return failed(error->message());
    if (const FileResult error =
            saveLines(manifestName(stem), first.header + '\n', qsizetype(entries.size()),
                      [&entries](qsizetype i, QByteArray &line) {
                          const Entry &entry = entries[std::size_t(i)];
                          line += entry.share->rows[qsizetype(entry.row)];
                          line += '\n';
                      }))
        return failed(error->message());
    if (!first.tableHeader.isEmpty())
        if (const FileResult error =
                saveLines(metricsTableName(stem), first.tableHeader + '\n',
                          qsizetype(entries.size()), [&entries](qsizetype i, QByteArray &rows) {
                              const Entry &entry = entries[std::size_t(i)];
                              rows += entry.share->tableRows[qsizetype(entry.row)];
                          }))
            return failed(error->message());

    if (::rename(QFile::encodeName(stagingPath).constData(),
                 QFile::encodeName(target).constData()) != 0)
        return failed(tr("cannot rename \"%1\" to \"%2\": %3")
                          .arg(shown(stagingPath), shown(target),
                               QString::fromLocal8Bit(std::strerror(errno))));
    renamed = true;
    return MergeResult{qsizetype(entries.size()), qsizetype(shares.size()),
                       batchListName(nameStem(target, first.prefix))};
}
