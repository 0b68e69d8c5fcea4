// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/files/fileerror.h"
#include "core/files/pendingfile.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"

#include <QtGlobal>

#include <array>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// Writes one map file in the plain map format: every cell as its decimal
// code followed by one space, every row ended by a line feed. The two codes
// are formatted once per file and copied per cell into a large buffer, which
// is what makes writing thousands of maps disk-bound rather than CPU-bound.
//
// The same cells can instead be written as an ESRI ASCII grid, which GIS
// tools read directly: a header with the extent, then the rows with the codes
// separated by single spaces. Such readers split on any white space, but a
// clean row without a trailing blank is what they write themselves.
//
// The file is written under a temporary name (see PendingFile): until it is
// published nothing exists under the final name, so a full disk, a crash or
// a cancelled run never leaves a half-written map where a user would take it
// for a complete one.
class MapFileWriter final {
public:
    using Format = MapFormat;

    MapFileWriter(qint32 matrixValue, qint32 coverValue, Format format = Format::Plain);

    // What an ESRI grid's header states besides its extent; the plain
    // format has no header. Without a call, unit cells from the origin and
    // no NODATA line, as grids were first written.
    void setGridHeader(const Georeference &georeference, std::optional<qint64> noData);

    // The codes of a map of classes, for putClasses(): the code of class i
    // is codes[i], and a cell outside the study area (class outsideClass)
    // takes `outside`, the NODATA value.
    static constexpr std::uint8_t outsideClass = 255;
    void setClassCodes(std::span<const qint32> codes, qint64 outside);
    // A whole row of class indices, outsideClass for a cell outside.
    void putClasses(const std::uint8_t *classes, int columnCount);
    // Cells put since open() of class i (outsideClass for those outside).
    qint64 classCellCount(std::uint8_t index) const { return m_classCells[index]; }
    ~MapFileWriter();

    MapFileWriter(const MapFileWriter &) = delete;
    MapFileWriter &operator=(const MapFileWriter &) = delete;

    static QString extension(Format format) { return mapFormatExtension(format); }

    // The grid's header states its extent, so an ASCII grid cannot be
    // opened without it; the plain format has no header and ignores it.
    FileResult open(const QString &path, int rowCount = -1, int columnCount = -1);

    void putCell(bool habitat)
    {
        if (m_used > bufferSize) [[unlikely]]
            flushBuffer();
        const Code &code = habitat ? m_cover : m_matrix;
        std::memcpy(m_buffer.get() + m_used, code.text, sizeof code.text);
        m_used += code.length;
        m_habitatCells += habitat;
        ++m_cells;
    }

    // A whole row: isHabitat(column) for every column in order, then the
    // row's end. The fill level and the counts stay in registers for the
    // row, which a cell at a time cannot do: the compiler must assume that
    // copying into the buffer may change any member.
    template <typename IsHabitat> void putRow(int columnCount, IsHabitat isHabitat)
    {
        char *const buffer = m_buffer.get();
        qsizetype used = m_used;
        qint64 habitatCells = 0;
        for (int column = 0; column < columnCount; ++column) {
            if (used > bufferSize) [[unlikely]] {
                m_used = used;
                flushBuffer();
                used = m_used;
            }
            const bool habitat = isHabitat(column);
            const Code &code = habitat ? m_cover : m_matrix;
            std::memcpy(buffer + used, code.text, sizeof code.text);
            used += code.length;
            habitatCells += habitat;
        }
        m_used = used;
        m_habitatCells += habitatCells;
        m_cells += columnCount;
        endRow();
    }

    // A whole row already settled into bytes, nonzero for habitat: the form
    // every generator can give a row in. When both codes are one character,
    // as the default 0 and 1 are, sixteen bytes of text are made at a time
    // instead of one code per cell.
    void putCells(const std::uint8_t *cells, int columnCount);

    void endRow()
    {
        // The blank after a grid row's last code is still in the buffer,
        // because a flush happens only before a code is added, so it can
        // become the line feed.
        if (m_format == Format::AsciiGrid && m_used > 0 && m_buffer[m_used - 1] == ' ') {
            m_buffer[m_used - 1] = '\n';
            return;
        }
        if (m_used > bufferSize) [[unlikely]]
            flushBuffer();
        m_buffer[m_used++] = '\n';
    }

    // Cells put since open(), and how many of them were habitat: what the
    // file holds once committed, counted without reading it back.
    qint64 cellCount() const { return m_cells; }
    qint64 habitatCellCount() const { return m_habitatCells; }

    // Publishes the file under its name, once it is on disk. On failure the
    // partial data is discarded and the error names the file and the
    // system's reason.
    FileResult commit();

    // Completes the file under its temporary name and hands it over, to be
    // synced and published with others; nothing is left open here.
    FileResult finish(PendingFile &file);

    // Drops the file being written; nothing appears under its name.
    void discard();

private:
    struct Code {
        char text[16] = {};
        int length = 0;
    };
    static Code format(qint32 value);
    static QByteArray shortest(double value);
    void flushBuffer();

    // Room for a whole cell or line feed past bufferSize, so the hot path
    // checks the fill level once per cell.
    static constexpr qsizetype bufferSize = qsizetype(1) << 20;
    static constexpr qsizetype slack = 64;

    Code m_matrix;
    Code m_cover;
    std::vector<Code> m_classes;
    std::array<qint64, 256> m_classCells{};
    Format m_format;
    Georeference m_georeference;
    std::optional<qint64> m_noData;
    qint64 m_cells = 0;
    qint64 m_habitatCells = 0;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    PendingFile m_file;
    QString m_path;
    bool m_failed = false;
    QString m_failure;
};
