// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/metricscsv.h"

#include <algorithm>
#include <charconv>
#include <cmath>

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
    const QByteArray name = csvField(file);
    QByteArray extra;
    for (const QString &value : extraValues)
        extra += ',' + csvField(value);
    char digits[32];
    for (const MetricRow &row : rows) {
        out += name;
        out += ',';
        out += levelName(row.level);
        out += ',';
        if (row.level == MetricLevel::Class)
            out.append(digits, std::to_chars(digits, digits + 32, row.classCode).ptr - digits);
        else
            out += "NA";
        out += ',';
        out += row.metric;
        out += ',';
        out.append(digits, valueText(row.value, digits));
        out += extra;
        out += '\n';
    }
}
