#pragma once

#include "app/fileerror.h"

#include <QSaveFile>
#include <QtGlobal>

#include <cstring>
#include <memory>

// Writes one map file in the plain map format: every cell as its decimal
// code followed by one space, every row ended by a line feed. The two codes
// are formatted once per file and copied per cell into a large buffer, which
// is what makes writing thousands of maps disk-bound rather than CPU-bound.
//
// The file goes through QSaveFile: until commit() succeeds nothing exists
// under the final name, so a full disk, a crash or a cancelled run never
// leaves a half-written map where a user would take it for a complete one.
class MapFileWriter final {
public:
    MapFileWriter(qint32 matrixValue, qint32 coverValue);
    ~MapFileWriter();

    MapFileWriter(const MapFileWriter &) = delete;
    MapFileWriter &operator=(const MapFileWriter &) = delete;

    FileResult open(const QString &path);

    void putCell(bool habitat)
    {
        if (m_used > bufferSize) [[unlikely]]
            flushBuffer();
        const Code &code = habitat ? m_cover : m_matrix;
        std::memcpy(m_buffer.get() + m_used, code.text, sizeof code.text);
        m_used += code.length;
    }

    void endRow()
    {
        if (m_used > bufferSize) [[unlikely]]
            flushBuffer();
        m_buffer[m_used++] = '\n';
    }

    // Publishes the file under its name. On failure the partial data is
    // discarded and the error names the file and the system's reason.
    FileResult commit();

    // Drops the file being written; nothing appears under its name.
    void discard();

private:
    struct Code {
        char text[16] = {};
        int length = 0;
    };
    static Code format(qint32 value);
    void flushBuffer();

    // Room for a whole cell or line feed past bufferSize, so the hot path
    // checks the fill level once per cell.
    static constexpr qsizetype bufferSize = qsizetype(1) << 20;
    static constexpr qsizetype slack = 64;

    Code m_matrix;
    Code m_cover;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    std::unique_ptr<QSaveFile> m_file;
    QString m_path;
    bool m_failed = false;
    QString m_failure;
};
