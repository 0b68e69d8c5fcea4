// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapfilereader.h"

#include "core/files/regularfile.h"
#include "core/grid/digitpairs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <new>

namespace {

// QString::toInt trims exactly these around the number; the space never
// reaches a token because it is the separator.
constexpr bool isTrimmedSpace(char c)
{
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr std::int64_t magnitudeLimit = std::int64_t(1) << 31;

// Growing a 64 MB grid by doubling costs more in page faults than parsing
// it, so the first block's density of spaces and line feeds sets the
// capacity for the whole file. The estimate is only a hint, about one cell
// per byte of the file at most, and the pages of a capacity never filled are
// never touched. A file whose first block is unlike the rest (a megabyte of
// spaces, then gigabytes of digits) can ask for more than the allocator
// grants; such a hint is dropped rather than taken for a map too large.
void reserveFor(LandscapeGrid &grid, std::string_view firstBlock, qint64 fileSize)
{
    const auto got = qint64(firstBlock.size());
    if (fileSize <= got)
        return;
    const double scale = double(fileSize) / double(got) * 1.02;
    const auto spaces = std::count(firstBlock.begin(), firstBlock.end(), ' ');
    const auto lines = std::count(firstBlock.begin(), firstBlock.end(), '\n');
    try {
        grid.reserve(std::size_t(double(spaces) * scale) + 16,
                     std::size_t(double(lines) * scale) + 16);
    } catch (const std::bad_alloc &) {
        // Reading goes on without the hint.
    }
}

} // namespace

MapFileReader::MapFileReader(LandscapeGrid &grid)
    : m_grid(grid)
{}

void MapFileReader::endToken()
{
    // Called only for tokens followed by a space: those are the used ones.
    if (!m_rowOpen) {
        m_grid.beginRow();
        m_rowOpen = true;
    }
    qint32 value = 0;
    bool whole = false;
    if (m_phase == Phase::Digits || m_phase == Phase::Trailing || m_phase == Phase::Ended) {
        if (m_negative && m_magnitude <= magnitudeLimit) {
            value = qint32(-m_magnitude);
            whole = true;
        } else if (!m_negative && m_magnitude < magnitudeLimit) {
            value = qint32(m_magnitude);
            whole = true;
        } else {
            // Refused once the token ends, not read as a cell made up.
            const auto row = m_grid.row(m_grid.rowCount() - 1);
            m_beyondRange.emplace(m_line, std::int64_t(row.size()) + 1);
            whole = true;
        }
    }
    if (!whole && !m_firstMadeUpCell)
        m_firstMadeUpCell = CellPosition{qint64(m_grid.rowCount()),
                                         qint64(m_grid.row(m_grid.rowCount() - 1).size()) + 1};
    m_grid.pushCell(value);
    m_phase = Phase::Leading;
    m_negative = false;
    m_magnitude = 0;
}

void MapFileReader::endLine()
{
    // The token in progress is the line's last one and is never used.
    ++m_line;
    m_rowOpen = false;
    m_lineHasBytes = false;
    m_phase = Phase::Leading;
    m_negative = false;
    m_magnitude = 0;
}

void MapFileReader::feed(std::string_view bytes)
{
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while (p < end && !m_beyondRange) {
        // Stretches of one-digit cells inside an open row, the bulk of a
        // written map, sixteen bytes at a time. A few thousand cells at most
        // are asked for at once, so that the grid grows with what the file
        // holds and not past the capacity its first block suggested.
        if (m_phase == Phase::Leading && m_rowOpen) {
            const auto chunks =
                std::min<std::size_t>(std::size_t(end - p) / DigitPairs::chunkBytes, 1024);
            qint32 cells[DigitPairs::chunkCells];
            if (chunks > 0 && DigitPairs::readChunk(p, cells)) {
                qint32 *out = m_grid.addCells(chunks * DigitPairs::chunkCells);
                std::copy(std::begin(cells), std::end(cells), out);
                const std::size_t read =
                    1 + DigitPairs::read(p + DigitPairs::chunkBytes, out + DigitPairs::chunkCells,
                                         chunks - 1);
                m_grid.dropCells((chunks - read) * DigitPairs::chunkCells);
                p += read * DigitPairs::chunkBytes;
                m_lineHasBytes = true;
                continue;
            }
        }
        // Fast path for the written format: a whole short number and its
        // space inside this block, at the start of a token. Nine digits
        // cannot overflow, so no range check is needed here.
        if (m_phase == Phase::Leading) {
            const char *q = p;
            const bool negative = *q == '-';
            if (negative)
                ++q;
            const char *const digitsBegin = q;
            std::int32_t value = 0;
            while (q < end && q - digitsBegin < 9 && *q >= '0' && *q <= '9')
                value = value * 10 + (*q++ - '0');
            if (q > digitsBegin && q < end && *q == ' ') {
                if (!m_rowOpen) {
                    m_grid.beginRow();
                    m_rowOpen = true;
                }
                m_grid.pushCell(negative ? -value : value);
                m_lineHasBytes = true;
                p = q + 1;
                continue;
            }
        }
        const char c = *p++;
        if (c == ' ') {
            endToken();
            m_lineHasBytes = true;
            continue;
        }
        if (c == '\n') {
            endLine();
            continue;
        }
        m_lineHasBytes = true;
        if (c == '\0') {
            if (m_phase == Phase::Digits || m_phase == Phase::Trailing)
                m_phase = Phase::Ended;
            else if (m_phase != Phase::Ended)
                m_phase = Phase::Invalid;
            continue;
        }
        const bool digit = c >= '0' && c <= '9';
        switch (m_phase) {
        case Phase::Leading:
            if (digit) {
                m_magnitude = c - '0';
                m_phase = Phase::Digits;
            } else if (c == '-' || c == '+') {
                m_negative = c == '-';
                m_phase = Phase::Signed;
            } else if (!isTrimmedSpace(c)) {
                m_phase = Phase::Invalid;
            }
            break;
        case Phase::Signed:
            if (digit) {
                m_magnitude = c - '0';
                m_phase = Phase::Digits;
            } else {
                m_phase = Phase::Invalid;
            }
            break;
        case Phase::Digits:
            if (digit) {
                // Saturate above the 32-bit range so that arbitrarily long
                // runs of digits cost nothing and still read as out of range.
                if (m_magnitude <= magnitudeLimit)
                    m_magnitude = m_magnitude * 10 + (c - '0');
            } else if (isTrimmedSpace(c)) {
                m_phase = Phase::Trailing;
            } else {
                m_phase = Phase::Invalid;
            }
            break;
        case Phase::Trailing:
            if (!isTrimmedSpace(c))
                m_phase = Phase::Invalid;
            break;
        case Phase::Ended:
        case Phase::Invalid:
            break;
        }
    }
}

void MapFileReader::finish()
{
    if (!m_beyondRange && (m_lineHasBytes || m_rowOpen))
        endLine();
}

std::optional<QString> MapFileReader::failure() const
{
    if (!m_beyondRange)
        return std::nullopt;
    return QCoreApplication::translate("MapFileReader",
                                       "line %1, column %2 holds a number beyond the codes a map "
                                       "can hold (%3 to %4)")
        .arg(m_beyondRange->first)
        .arg(m_beyondRange->second)
        .arg(std::numeric_limits<qint32>::min())
        .arg(std::numeric_limits<qint32>::max());
}

FileResult MapFileReader::read(const QString &path, LandscapeGrid &grid)
{
    grid.clear();
    QFile file;
    if (FileResult error = openRegularFile(path, file))
        return error;
    return read(file, QDir::toNativeSeparators(path), grid);
}

FileResult MapFileReader::read(QIODevice &file, const QString &shownPath, LandscapeGrid &grid,
                               std::optional<CellPosition> *firstMadeUpCell)
{
    grid.clear();

    // Every byte of a file can be a cell, so a large enough file of spaces
    // asks for more memory than the machine has. That is the user's file, not
    // a fault of the program: it is refused like a file that cannot be read.
    try {
        MapFileReader reader(grid);
        constexpr qint64 blockSize = qint64(1) << 20;
        auto block = std::make_unique<char[]>(blockSize);
        bool first = true;
        for (;;) {
            const qint64 got = file.read(block.get(), blockSize);
            if (got < 0) {
                reader.finish();
                return FileError{shownPath, file.errorString()};
            }
            if (got == 0)
                break;
            const std::string_view bytes(block.get(), std::size_t(got));
            if (first) {
                first = false;
                reserveFor(grid, bytes, file.size());
            }
            reader.feed(bytes);
            if (const std::optional<QString> failure = reader.failure())
                return FileError{shownPath, *failure};
        }
        reader.finish();
        if (firstMadeUpCell)
            *firstMadeUpCell = reader.firstMadeUpCell();
    } catch (const std::bad_alloc &) {
        grid.clear();
        return FileError{shownPath, QCoreApplication::translate(
                                        "MapFileReader", "not enough memory for a map this large")};
    }
    return std::nullopt;
}
