// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/metricscsv.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// A field as RFC 4180 writes it: quoted, with its quotes doubled, when it
// holds a separator, a quote or a line break.
QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

} // namespace

QByteArray metricsCsvHeader(const QStringList &extraColumns)
{
    QByteArray header = "file,level,class,metric,value";
    for (const QString &column : extraColumns)
        header += ',' + csvField(column);
    return header + '\n';
}

namespace {

// The text of a value into `digits`, which holds 32 characters; returns its
// length. Written in place rather than as a QByteArray: a batch's table has
// a value for every metric, class and map.
qsizetype valueText(double value, char *digits)
{
    const auto copy = [digits](const char *text, qsizetype length) {
        std::copy(text, text + length, digits);
        return length;
    };
    if (std::isnan(value))
        return copy("NA", 2);
    if (std::isinf(value))
        return value > 0 ? copy("Inf", 3) : copy("-Inf", 4);
    return std::to_chars(digits, digits + 32, value).ptr - digits;
}

} // namespace

QByteArray metricValueText(double value)
{
    char digits[32];
    return QByteArray(digits, valueText(value, digits));
}

void appendMetricsCsv(QByteArray &out, const QString &file, std::span<const MetricRow> rows,
                      const QStringList &extraValues)
{
    // Each row is composed in place at the end of `out`: a batch's table has
    // tens of rows a map and thousands of maps, and is written after its
    // last map.
    const QByteArray head = csvField(file) + ',';
    QByteArray tail;
    for (const QString &value : extraValues)
        tail += ',' + csvField(value);
    tail += '\n';
    // Beside the name, level, metric and extra columns: three commas, a
    // class code with its sign, a value.
    constexpr qsizetype mostFixed = 3 + 11 + 32;
    const auto copy = [](const char *from, qsizetype length, char *to) {
        return std::copy(from, from + length, to);
    };
    for (const MetricRow &row : rows) {
        const char *level = levelName(row.level);
        const auto levelLength = qsizetype(std::strlen(level));
        const auto metricLength = qsizetype(std::strlen(row.metric));
        const qsizetype at = out.size();
        out.resize(at + head.size() + levelLength + metricLength + mostFixed + tail.size());
        char *p = copy(head.constData(), head.size(), out.data() + at);
        p = copy(level, levelLength, p);
        *p++ = ',';
        if (row.level == MetricLevel::Class)
            p = std::to_chars(p, p + 12, row.classCode).ptr;
        else
            p = copy("NA", 2, p);
        *p++ = ',';
        p = copy(row.metric, metricLength, p);
        *p++ = ',';
        p += valueText(row.value, p);
        p = copy(tail.constData(), tail.size(), p);
        out.resize(p - out.constData());
    }
}
