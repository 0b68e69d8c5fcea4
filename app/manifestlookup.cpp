// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/manifestlookup.h"

#include "core/batch/mapfamily.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace {

const QString manifestSuffix = QStringLiteral("manifest.csv");

// One line of the manifest: fields between commas, a field in double quotes
// when it holds a comma or a quote, a quote inside written twice.
QStringList csvFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c != QLatin1Char('"'))
                field += c;
            else if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"'))
                field += line.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

} // namespace

std::optional<ManifestEntry> ManifestLookup::find(const QString &mapPath)
{
    const QFileInfo map(mapPath);
    const QString name = map.fileName();
    QStringList candidates;
    for (const QString &manifest :
         map.dir().entryList({QLatin1Char('*') + manifestSuffix}, QDir::Files)) {
        if (name.startsWith(manifest.chopped(manifestSuffix.size())))
            candidates << manifest;
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &manifest : candidates) {
        if (!load(map.dir().filePath(manifest)))
            continue;
        const auto row = m_rows.constFind(name);
        if (row != m_rows.constEnd())
            return *row;
    }
    return std::nullopt;
}

bool ManifestLookup::load(const QString &path)
{
    const QFileInfo info(path);
    if (path == m_path && info.size() == m_size && info.lastModified() == m_modified)
        return true;
    m_path.clear();
    m_rows.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Columns are found by their names in the header, so that a manifest
    // with more columns than these still serves.
    const QStringList header = csvFields(QString::fromUtf8(file.readLine()).trimmed());
    const qsizetype fileColumn = header.indexOf(QStringLiteral("file"));
    const qsizetype kind = header.indexOf(QStringLiteral("kind"));
    const qsizetype cover = header.indexOf(QStringLiteral("requested_cover"));
    const qsizetype h = header.indexOf(QStringLiteral("H"));
    const qsizetype seed = header.indexOf(QStringLiteral("seed"));
    const qsizetype replicate = header.indexOf(QStringLiteral("replicate"));
    if (std::min({fileColumn, kind, cover, h, seed, replicate}) < 0)
        return false;
    while (!file.atEnd()) {
        const QStringList fields = csvFields(QString::fromUtf8(file.readLine()).trimmed());
        if (fields.size() != header.size())
            continue;
        ManifestEntry entry{fields.at(kind), fields.at(cover),     fields.at(h),
                            fields.at(seed), fields.at(replicate), {},
                            std::nullopt};
        if (const MapFamily *family = familyNamed(entry.kind))
            for (const QString &column : family->statusColumns())
                if (const qsizetype at = header.indexOf(column);
                    at >= 0 && !fields.at(at).isEmpty())
                    entry.details.append({column, fields.at(at)});
        if (const qsizetype at = header.indexOf(QStringLiteral("nodata")); at >= 0) {
            bool whole = false;
            const int value = fields.at(at).toInt(&whole);
            if (whole)
                entry.noData = value;
        }
        m_rows.insert(fields.at(fileColumn), entry);
    }
    m_path = path;
    m_size = info.size();
    m_modified = info.lastModified();
    return true;
}
