// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/asciigridreader.h"
#include "core/grid/gridtext.h"

#include "core/files/regularfile.h"
#include "core/grid/digitpairs.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace {

using gridtext::isBlank;
using gridtext::lower;
using gridtext::lowered;
using gridtext::realNumber;

// Long enough for any number a grid holds; a longer token is not one.
constexpr std::size_t longestToken = 64;

std::optional<qint64> wholeNumber(const std::string &token)
{
    const char *begin = token.data();
    const char *end = begin + token.size();
    if (begin != end && *begin == '+')
        ++begin;
    qint64 value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

class GridParser {
public:
    // `bytesLeft` is what the file holds after the bytes parsed so far; it
    // bounds the memory taken before the cells are read.
    GridParser(LandscapeGrid &grid, qint64 bytesLeft, MapFileInfo *info)
        : m_grid(grid)
        , m_bytesLeft(bytesLeft)
        , m_info(info)
    {}

    // Each returns a reason when the grid is malformed.
    std::optional<QString> token(const std::string &text);
    std::optional<QString> finish();

    // Reads the one-digit cells at the start of `bytes`, where a token
    // starts, up to the end of the current grid row, and returns how many
    // bytes it took; token() reads the rest. Rows are counted in cells, so
    // stopping at a row's end keeps each grid row a row of the map.
    std::size_t digitPairs(const char *bytes, std::size_t size);

private:
    std::optional<QString> headerEntry(const std::string &value);
    void startData();
    std::optional<QString> cell(const std::string &text);

    LandscapeGrid &m_grid;
    qint64 m_bytesLeft;
    MapFileInfo *m_info;
    std::string m_key;
    bool m_inData = false;
    qint64 m_columns = -1;
    qint64 m_rows = -1;
    qint64 m_cells = 0;
};

std::optional<QString> GridParser::token(const std::string &text)
{
    if (m_inData)
        return cell(text);
    if (!m_key.empty())
        return headerEntry(text);
    const char first = text.front();
    if ((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z')) {
        m_key = lowered(text);
        return std::nullopt;
    }
    if (m_columns < 0 || m_rows < 0)
        return QStringLiteral("the header does not give both ncols and nrows");
    if (const auto refusal = declaredSizeRefusal(m_rows, m_columns))
        return refusal;
    startData();
    return cell(text);
}

void GridParser::startData()
{
    m_inData = true;
    // Every cell but the last takes a digit and a separator at least, so the
    // file's size bounds the cells it can hold, whatever the header says.
    const qint64 declared = m_columns * m_rows;
    const qint64 fit = m_bytesLeft / 2 + 1;
    try {
        m_grid.reserve(std::size_t(std::min(declared, fit)), std::size_t(m_rows));
    } catch (const std::bad_alloc &) {
        // Reading goes on without the hint.
    }
}

std::size_t GridParser::digitPairs(const char *bytes, std::size_t size)
{
    const qint64 total = m_columns * m_rows;
    if (!m_inData || m_cells == total)
        return 0;
    const qint64 leftInRow = m_columns - m_cells % m_columns;
    const std::size_t chunks = std::min<std::size_t>(
        {size / DigitPairs::chunkBytes, std::size_t(leftInRow) / DigitPairs::chunkCells, 1024});
    qint32 first[DigitPairs::chunkCells];
    if (chunks == 0 || !DigitPairs::readChunk(bytes, first))
        return 0;
    if (m_cells % m_columns == 0)
        m_grid.beginRow();
    qint32 *out = m_grid.addCells(chunks * DigitPairs::chunkCells);
    std::copy(std::begin(first), std::end(first), out);
    const std::size_t read = 1 + DigitPairs::read(bytes + DigitPairs::chunkBytes,
                                                  out + DigitPairs::chunkCells, chunks - 1);
    m_grid.dropCells((chunks - read) * DigitPairs::chunkCells);
    m_cells += qint64(read * DigitPairs::chunkCells);
    return read * DigitPairs::chunkBytes;
}

std::optional<QString> GridParser::headerEntry(const std::string &value)
{
    const std::string key = m_key;
    m_key.clear();
    if (key == "ncols" || key == "nrows") {
        const auto number = wholeNumber(value);
        // A grid wider or taller than this cannot be held as a map.
        if (!number || *number < 1 || *number > 0x7fffffff)
            return QStringLiteral("%1 must be a positive whole number, not '%2'")
                .arg(QString::fromStdString(key), QString::fromStdString(value));
        (key == "ncols" ? m_columns : m_rows) = *number;
        return std::nullopt;
    }
    // The picture needs neither the cell size nor the NoData code, so a
    // value that is no number is passed over, as it always was; it is then
    // simply not reported.
    if (key == "cellsize" || key == "nodata_value") {
        const auto number = realNumber(value);
        if (number && m_info && key == "cellsize")
            m_info->cellWidth = m_info->cellHeight = *number;
        else if (number && m_info)
            m_info->noData = *number;
        return std::nullopt;
    }
    if (key == "xllcorner" || key == "xllcenter" || key == "yllcorner" || key == "yllcenter")
        return std::nullopt;
    return QStringLiteral("unknown header entry '%1'").arg(QString::fromStdString(key));
}

std::optional<QString> GridParser::cell(const std::string &text)
{
    if (m_cells == m_columns * m_rows)
        return QStringLiteral("more values than the header's %1 x %2").arg(m_rows).arg(m_columns);
    const auto value = wholeNumber(text);
    if (!value || *value < std::numeric_limits<qint32>::min() ||
        *value > std::numeric_limits<qint32>::max())
        return QStringLiteral("row %1, column %2 holds '%3', which is not a 32-bit whole number")
            .arg(m_cells / m_columns + 1)
            .arg(m_cells % m_columns + 1)
            .arg(QString::fromStdString(text));
    if (m_cells % m_columns == 0)
        m_grid.beginRow();
    m_grid.pushCell(qint32(*value));
    ++m_cells;
    return std::nullopt;
}

std::optional<QString> GridParser::finish()
{
    if (!m_inData && (m_columns < 0 || m_rows < 0))
        return QStringLiteral("the header does not give both ncols and nrows");
    if (!m_key.empty())
        return QStringLiteral("the header entry '%1' has no value")
            .arg(QString::fromStdString(m_key));
    if (m_cells < m_columns * m_rows)
        return QStringLiteral("the grid ends after %1 of its %2 values")
            .arg(m_cells)
            .arg(m_columns * m_rows);
    return std::nullopt;
}

} // namespace

bool AsciiGridReader::isAsciiGrid(const QByteArray &start)
{
    qsizetype i = 0;
    while (i < start.size() && isBlank(start[i]))
        ++i;
    for (const char *key : {"ncols", "nrows"}) {
        const qsizetype length = qsizetype(std::strlen(key));
        if (start.size() - i <= length)
            continue;
        bool same = true;
        for (qsizetype k = 0; k < length && same; ++k)
            same = lower(start[i + k]) == key[k];
        if (same && isBlank(start[i + length]))
            return true;
    }
    return false;
}

FileResult AsciiGridReader::read(const QString &path, LandscapeGrid &grid, MapFileInfo *info)
{
    grid.clear();
    QFile file;
    if (FileResult error = openRegularFile(path, file))
        return error;
    return read(file, QDir::toNativeSeparators(path), grid, info);
}

FileResult AsciiGridReader::read(QIODevice &file, const QString &shownPath, LandscapeGrid &grid,
                                 MapFileInfo *info)
{
    grid.clear();
    if (info)
        *info = {};

    GridParser parser(grid, file.size() - file.pos(), info);
    auto fail = [&grid, &shownPath, info](const QString &reason) {
        grid.clear();
        if (info)
            *info = {};
        return FileError{shownPath, reason};
    };
    constexpr qint64 blockSize = qint64(1) << 20;
    auto block = std::make_unique<char[]>(blockSize);
    std::string token;
    for (;;) {
        const qint64 got = file.read(block.get(), blockSize);
        if (got < 0)
            return fail(file.errorString());
        if (got == 0)
            break;
        for (qint64 i = 0; i < got; ++i) {
            if (token.empty())
                i += qint64(parser.digitPairs(block.get() + i, std::size_t(got - i)));
            if (i == got)
                break;
            const char c = block[std::size_t(i)];
            if (!isBlank(c)) {
                if (token.size() == longestToken)
                    return fail(
                        QStringLiteral("a value of more than %1 characters").arg(longestToken));
                token.push_back(c);
                continue;
            }
            if (token.empty())
                continue;
            if (const auto reason = parser.token(token))
                return fail(*reason);
            token.clear();
        }
    }
    if (!token.empty()) {
        if (const auto reason = parser.token(token))
            return fail(*reason);
    }
    if (const auto reason = parser.finish())
        return fail(*reason);
    return std::nullopt;
}
