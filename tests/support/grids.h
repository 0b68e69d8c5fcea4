// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/grid/landscapegrid.h"
#include "core/grid/mapfilereader.h"

#include <QByteArray>
#include <QIODevice>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// A grid's rows as plain vectors, which QCOMPARE can show when they differ.
using Rows = std::vector<std::vector<qint32>>;

inline Rows rowsOf(const LandscapeGrid &grid)
{
    Rows rows;
    for (std::size_t r = 0; r < grid.rowCount(); ++r) {
        const auto row = grid.row(r);
        rows.emplace_back(row.begin(), row.end());
    }
    return rows;
}

inline LandscapeGrid gridOf(const Rows &rows)
{
    LandscapeGrid grid;
    for (const auto &row : rows)
        grid.appendRow(row);
    return grid;
}

// What the plain-format reader makes of these bytes.
inline Rows parsePlain(const QByteArray &bytes)
{
    LandscapeGrid grid;
    MapFileReader reader(grid);
    reader.feed(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    reader.finish();
    return rowsOf(grid);
}

// The rows of a plain map, or the line and column (from 1) of the first
// number in it beyond the codes a map holds.
struct PlainMap {
    Rows rows;
    std::optional<std::pair<qint64, qint64>> beyondRange;
};

// The plain format's rules transcribed as plainly as they are stated: split
// the bytes into lines, each line into tokens at every space, and convert
// all tokens but the last with the toolkit's own integer conversion. A token
// that conversion refuses although it is a whole number (a sign and digits
// between the white space it trims, read up to a NUL as a C string) is
// beyond the codes, and the map is refused there.
inline PlainMap plainReference(std::string_view bytes)
{
    const auto beyondRange = [](std::string_view token) {
        QByteArray text(token.data(), qsizetype(token.size()));
        if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
            text.truncate(nul);
        static const QRegularExpression wholeNumber(
            QStringLiteral("^[\t\n\v\f\r]*[+-]?[0-9]+[\t\n\v\f\r]*$"));
        bool converted = false;
        QString::fromLatin1(text).toInt(&converted, 10);
        return !converted && wholeNumber.match(QString::fromLatin1(text)).hasMatch();
    };
    PlainMap map;
    std::size_t start = 0;
    qint64 lineNumber = 1;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        const std::string_view line = bytes.substr(start, end - start);
        std::vector<std::string_view> tokens;
        std::size_t from = 0;
        for (;;) {
            const std::size_t space = line.find(' ', from);
            if (space == std::string_view::npos) {
                tokens.push_back(line.substr(from));
                break;
            }
            tokens.push_back(line.substr(from, space - from));
            from = space + 1;
        }
        if (tokens.size() >= 2) {
            std::vector<qint32> row;
            for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
                if (beyondRange(tokens[i])) {
                    map.beyondRange.emplace(lineNumber, qint64(i) + 1);
                    return map;
                }
                row.push_back(QString::fromLatin1(tokens[i].data(), qsizetype(tokens[i].size()))
                                  .toInt(nullptr, 10));
            }
            map.rows.push_back(std::move(row));
        }
        start = end + 1;
        ++lineNumber;
    }
    return map;
}

// Whether the reader's refusal names the place the transcription found.
inline bool namesPlace(const QString &reason, const std::pair<qint64, qint64> &place)
{
    return reason.contains(
        QStringLiteral("line %1, column %2 ").arg(place.first).arg(place.second));
}

// Hands out its bytes a few at a time, so that a reader fed from it never
// holds a stretch long enough for its bulk paths and takes every byte
// through its plain rules.
class TrickleDevice final : public QIODevice {
public:
    TrickleDevice(const QByteArray &bytes, qint64 most)
        : m_bytes(bytes)
        , m_most(most)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 take = std::min({maxSize, m_most, qint64(m_bytes.size()) - m_at});
        std::copy_n(m_bytes.constData() + m_at, take, data);
        m_at += take;
        return take;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_most;
    qint64 m_at = 0;
};
