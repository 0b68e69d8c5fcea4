// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/files.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A batch's manifest as read back: rows of fields by column name. Fields
// holding quotes or commas are not split correctly; the batches these
// suites run write none.
class Manifest {
public:
    explicit Manifest(const QString &path)
    {
        const QByteArray content = readAll(path);
        if (!content.endsWith('\n'))
            return;
        const QList<QByteArray> lines = content.chopped(1).split('\n');
        m_header = lines.first().split(',');
        for (qsizetype i = 1; i < lines.size(); ++i)
            m_rows.append(lines.at(i).split(','));
    }

    const QList<QByteArray> &header() const { return m_header; }
    qsizetype rowCount() const { return m_rows.size(); }
    const QList<QByteArray> &row(qsizetype i) const { return m_rows.at(i); }
    bool has(const char *column) const { return m_header.contains(column); }
    QByteArray field(qsizetype row, const char *column) const
    {
        return m_rows.at(row).value(m_header.indexOf(column));
    }

private:
    QList<QByteArray> m_header;
    QList<QList<QByteArray>> m_rows;
};
