// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/metricscsv.h"

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

QByteArray metricValueText(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("NA");
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("Inf") : QByteArrayLiteral("-Inf");
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return QByteArray(digits, result.ptr - digits);
}

void appendMetricsCsv(QByteArray &out, const QString &file, std::span<const MetricRow> rows,
                      const QStringList &extraValues)
{
    const QByteArray name = csvField(file);
    QByteArray extra;
    for (const QString &value : extraValues)
        extra += ',' + csvField(value);
    for (const MetricRow &row : rows) {
        out += name;
        out += ',';
        out += levelName(row.level);
        out += ',';
        if (row.level == MetricLevel::Class)
            out += QByteArray::number(row.classCode);
        else
            out += "NA";
        out += ',';
        out += row.metric;
        out += ',';
        out += metricValueText(row.value);
        out += extra;
        out += '\n';
    }
}
