// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/runrecord.h"

#include "core/files/regularfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RunRecord", text);
}

QJsonObject runObject(const RunRecord &record)
{
    return QJsonObject{{QStringLiteral("kind"), record.kind},
                       {QStringLiteral("shard"), record.shard},
                       {QStringLiteral("version"), record.version},
                       {QStringLiteral("request"), QJsonArray::fromStringList(record.request)}};
}

std::optional<RunRecord> runOf(const QJsonObject &object)
{
    const QJsonValue kind = object.value(QStringLiteral("kind"));
    const QJsonValue request = object.value(QStringLiteral("request"));
    if (!kind.isString() || !request.isArray())
        return std::nullopt;
    RunRecord record;
    record.kind = kind.toString();
    record.shard = object.value(QStringLiteral("shard")).toString();
    record.version = object.value(QStringLiteral("version")).toString();
    for (const QJsonValue &line : request.toArray()) {
        if (!line.isString())
            return std::nullopt;
        record.request.append(line.toString());
    }
    return record;
}

// The option a request line sets, and its text.
std::pair<QString, QString> optionOf(const QString &line)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    return equals < 0 ? std::pair(line, QString())
                      : std::pair(line.left(equals), line.mid(equals + 1));
}

// A share's record names a few dozen bytes a map; one larger than this is
// no record a run wrote.
constexpr qint64 largestShareRecord = qint64(1) << 30;

} // namespace

QByteArray RunRecord::toJsonLine() const
{
    return QJsonDocument(runObject(*this)).toJson(QJsonDocument::Compact);
}

std::optional<RunRecord> RunRecord::fromJsonLine(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return runOf(document.object());
}

QStringList RunRecord::differencesFrom(const RunRecord &other) const
{
    QStringList differences;
    if (other.kind != kind)
        differences.append(tr("a %1 batch").arg(other.kind));
    if (other.shard != shard)
        differences.append(other.shard.isEmpty() ? tr("the whole batch")
                                                 : tr("share %1").arg(other.shard));
    for (const QString &line : other.request) {
        if (request.contains(line))
            continue;
        const auto [key, text] = optionOf(line);
        differences.append(
            QStringLiteral("--%1 %2").arg(QString(key).replace(QLatin1Char('_'), QLatin1Char('-')),
                                          text.isEmpty() ? tr("(not given)") : text));
    }
    return differences;
}

FileResult writeShareRecord(const QString &path, const ShareRecord &record, OnDisk onDisk)
{
    QJsonObject head = runObject(record.run);
    head.insert(QStringLiteral("state"),
                record.complete ? QStringLiteral("complete") : QStringLiteral("stopped"));
    // The maps go one a line after the rest, so that a share of a million
    // maps is written as it is read, not built as one document first.
    QByteArray text = QJsonDocument(head).toJson(QJsonDocument::Compact);
    text.chop(1);
    text += ",\"maps\":[";
    const auto count = qsizetype(record.maps.size());
    return saveLines(
        path, text, count + 1,
        [&record, count](qsizetype i, QByteArray &out) {
            if (i == count) {
                out += "\n]}\n";
                return;
            }
            const ShareRecord::Map &map = record.maps[std::size_t(i)];
            out += i == 0 ? "\n" : ",\n";
            QJsonArray fields{
                double(map.position),     map.file,         map.surface,
                double(map.content.size), map.content.hash, double(map.surfaceContent.size),
                map.surfaceContent.hash,  map.row.hash};
            // A batch with a long table of metrics records its rows too.
            if (!map.measures.hash.isEmpty())
                fields.append(map.measures.hash);
            out += QJsonDocument(fields).toJson(QJsonDocument::Compact);
        },
        AtLink::Refuse, onDisk);
}

std::variant<ShareRecord, QString> readShareRecord(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    QFile file;
    if (const FileResult error = openRegularFile(path, file))
        return tr("cannot read the record of a share: %1").arg(error->message());
    if (file.size() > largestShareRecord)
        return tr("\"%1\" is %2 bytes long, more than a share's record can be")
            .arg(shown)
            .arg(file.size());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return tr("\"%1\" is not a whole record of a share (%2): it was cut short or changed")
            .arg(shown,
                 error.error != QJsonParseError::NoError ? error.errorString() : tr("no object"));
    const QJsonObject object = document.object();
    const std::optional<RunRecord> run = runOf(object);
    const QJsonValue state = object.value(QStringLiteral("state"));
    const QJsonValue maps = object.value(QStringLiteral("maps"));
    if (!run || !state.isString() || !maps.isArray())
        return tr("\"%1\" is not the record of a share: it lacks its request, state or maps")
            .arg(shown);
    ShareRecord record;
    record.run = *run;
    record.complete = state.toString() == QLatin1String("complete");
    // An earlier release wrote a map's place, name and surface alone.
    constexpr qsizetype placeOnly = 3;
    constexpr qsizetype withFingerprints = 8;
    constexpr qsizetype withMeasures = 9;
    const auto fingerprint = [](const QJsonValue &size, const QJsonValue &hash) {
        return Fingerprint{qint64(size.toDouble(-1)), hash.toString()};
    };
    for (const QJsonValue &value : maps.toArray()) {
        const QJsonArray map = value.toArray();
        const double position = map.at(0).toDouble(-1);
        if ((map.size() != placeOnly && map.size() != withFingerprints &&
             map.size() != withMeasures) ||
            position < 0 || position > double(std::numeric_limits<qint64>::max() / 2) ||
            !map.at(1).isString() || !map.at(2).isString())
            return tr("\"%1\" names a map it does not place: it was changed").arg(shown);
        ShareRecord::Map entry{
            qint64(position), map.at(1).toString(), map.at(2).toString(), {}, {}, {}, {}};
        if (map.size() >= withFingerprints) {
            entry.content = fingerprint(map.at(3), map.at(4));
            entry.surfaceContent = fingerprint(map.at(5), map.at(6));
            entry.row = Fingerprint{0, map.at(7).toString()};
        }
        if (map.size() == withMeasures)
            entry.measures = Fingerprint{0, map.at(8).toString()};
        record.maps.push_back(std::move(entry));
    }
    return record;
}
