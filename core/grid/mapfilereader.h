// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/grid/landscapegrid.h"

#include <QIODevice>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

// Reads the plain map format, and anything else a user may point it at,
// with the lenient rules the viewer has always had: a line is split at every
// space, the last token of a line is never used, a line without a space adds
// no row, and a token that is not an integer reads as 0. A whole number
// beyond the 32-bit codes a map holds is no code: reading it as any code
// would merge two classes without a word, so the file is refused at it,
// naming its line and column.
//
// The reader is a byte-at-a-time state machine fed in blocks: a cell is known
// to be "not the last token" as soon as the space after it arrives, so no line
// or token is ever buffered. Time is linear in the file size and the only
// memory that grows is the grid itself, whatever the file holds (a gigabyte
// of digits without a space, a line of nothing but spaces, a binary file).
class MapFileReader final {
public:
    explicit MapFileReader(LandscapeGrid &grid);

    // Takes nothing more once a number beyond the codes was met.
    void feed(std::string_view bytes);
    // Ends the last line when the file does not end in a line feed.
    void finish();
    // Where a number beyond the codes stands, in words, or nothing.
    std::optional<QString> failure() const;

    // The first cell the lenient rules made up: a used token that is not a
    // whole number in the 32-bit range (an empty one between two spaces, a
    // fraction, a word), which reads as 0. Its row and cell are counted from
    // 1. The viewer draws such files as it always has; whoever measures a
    // map must know that a cell of it is not in the file.
    struct CellPosition {
        qint64 row;
        qint64 cell;
    };
    std::optional<CellPosition> firstMadeUpCell() const { return m_firstMadeUpCell; }

    // Replaces `grid` with the map in the file. On failure the grid holds
    // what was read before the failure (nothing when the file cannot be
    // opened, or when its map does not fit in memory) and the error says why.
    // Only a regular file is read.
    static FileResult read(const QString &path, LandscapeGrid &grid);
    // The same from a device already open for reading, named `shownPath` in
    // errors; everything from its current position to its end is read.
    static FileResult read(QIODevice &device, const QString &shownPath, LandscapeGrid &grid,
                           std::optional<CellPosition> *firstMadeUpCell = nullptr);

private:
    void endToken();
    void endLine();

    // Token evaluation follows QString::toInt for base 10 over Latin-1 text:
    // optional ASCII white space (other than the space, which splits tokens)
    // around an optional sign and at least one digit; anything else is 0,
    // and a value outside the 32-bit range stops the reading. The conversion
    // reads a token as a C string, so a NUL byte ends the number and
    // whatever follows it up to the next space is ignored (Ended).
    enum class Phase : std::uint8_t { Leading, Signed, Digits, Trailing, Ended, Invalid };

    LandscapeGrid &m_grid;
    bool m_rowOpen = false;
    bool m_lineHasBytes = false;
    Phase m_phase = Phase::Leading;
    bool m_negative = false;
    std::int64_t m_magnitude = 0;
    // Lines begun so far, counting the one being read.
    std::int64_t m_line = 1;
    // The line and column of the first number beyond the codes.
    std::optional<std::pair<std::int64_t, std::int64_t>> m_beyondRange;
    std::optional<CellPosition> m_firstMadeUpCell;
};
