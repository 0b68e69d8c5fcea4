// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fractal/fbmblock.h"

#include <QByteArray>
#include <QTest>

#include <bit>
#include <cstring>

// Exact comparison of two blocks: the fast surface must reproduce the plain
// one bit for bit, so "close" is not enough. On a difference, `where` names
// the first differing point.
inline bool sameBits(const FbmBlock &a, const FbmBlock &b, QByteArray &where)
{
    if (a.rows != b.rows || a.columns != b.columns || a.values.size() != b.values.size()) {
        where = QByteArray("sizes ") + QByteArray::number(a.rows) + "x" +
                QByteArray::number(a.columns) + " and " + QByteArray::number(b.rows) + "x" +
                QByteArray::number(b.columns);
        return false;
    }
    if (std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(double)) == 0)
        return true;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        if (std::bit_cast<quint64>(a.values[i]) != std::bit_cast<quint64>(b.values[i])) {
            const int width = a.columns + 1;
            where = QByteArray("row ") + QByteArray::number(qsizetype(i) / width) + " column " +
                    QByteArray::number(qsizetype(i) % width) + ": " +
                    QByteArray::number(a.values[i], 'g', 17) + " vs " +
                    QByteArray::number(b.values[i], 'g', 17);
            return false;
        }
    }
    return true;
}

#define COMPARE_BLOCKS(a, b)                                                                       \
    do {                                                                                           \
        QByteArray where;                                                                          \
        QVERIFY2(sameBits((a), (b), where), where.constData());                                    \
    } while (false)
