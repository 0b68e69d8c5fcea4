// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/rangeparser.h"

#include <QList>

#include <charconv>
#include <cmath>

namespace {

// Numbers on a command line are ASCII; anything else cannot be one.
std::optional<QByteArray> asciiOf(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        bytes.append(char(c.unicode()));
    }
    return bytes;
}

template <typename Range, typename Parse>
std::optional<Range> parseRange(QStringView text, Parse parse)
{
    const QList<QStringView> parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return std::nullopt;
    const auto first = parse(parts[0]);
    const auto last = parse(parts[1]);
    const auto step = parse(parts[2]);
    if (!first || !last || !step)
        return std::nullopt;
    return Range{*first, *last, *step};
}

} // namespace

std::optional<int> parseInt(QStringView text)
{
    const auto bytes = asciiOf(text);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    const char *begin = bytes->constData();
    const char *end = begin + bytes->size();
    // from_chars refuses a leading '+', which people do type.
    if (*begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    int value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::optional<double> parseDouble(QStringView text)
{
    const auto bytes = asciiOf(text);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    const char *begin = bytes->constData();
    const char *end = begin + bytes->size();
    if (*begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<IntRange> parseIntRange(QStringView text)
{
    return parseRange<IntRange>(text, parseInt);
}

std::optional<DoubleRange> parseDoubleRange(QStringView text)
{
    return parseRange<DoubleRange>(text, parseDouble);
}
