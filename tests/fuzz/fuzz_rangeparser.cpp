// SPDX-License-Identifier: GPL-3.0-or-later
// Parses arbitrary text as the command line's numbers and FIRST:LAST:STEP
// ranges and checks the results against the C library: a whole number is
// exactly an optional sign and decimal digits within the int range, a
// decimal number is whatever strtod reads in full, and a range is three of
// them separated by colons.
#include "core/batch/rangeparser.h"

#include <QList>
#include <QString>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

bool isAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() > 0x7F)
            return false;
    return true;
}

std::optional<int> referenceInt(QStringView text)
{
    if (!isAscii(text))
        return std::nullopt;
    const QByteArray bytes = text.toLatin1();
    qsizetype i = 0;
    if (i < bytes.size() && (bytes[i] == '+' || bytes[i] == '-'))
        ++i;
    if (i == bytes.size())
        return std::nullopt;
    for (qsizetype j = i; j < bytes.size(); ++j)
        if (bytes[j] < '0' || bytes[j] > '9')
            return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(bytes.constData(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return int(value);
}

void checkInt(QStringView text)
{
    const auto parsed = parseInt(text);
    const auto expected = referenceInt(text);
    if (parsed != expected)
        std::abort();
}

void checkDouble(QStringView text)
{
    const auto parsed = parseDouble(text);
    if (!parsed)
        return;
    // Whatever is accepted is a plain decimal the C library reads the same.
    if (!isAscii(text))
        std::abort();
    const QByteArray bytes = text.toLatin1();
    for (char c : bytes)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-'))
            std::abort();
    char *end = nullptr;
    const double value = std::strtod(bytes.constData(), &end);
    if (end != bytes.constData() + bytes.size() || value != *parsed)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    checkInt(text);
    checkDouble(text);

    const QList<QStringView> parts = QStringView(text).split(QLatin1Char(':'));
    const auto intRange = parseIntRange(text);
    const auto doubleRange = parseDoubleRange(text);
    if (parts.size() != 3) {
        if (intRange || doubleRange)
            std::abort();
        return 0;
    }
    for (QStringView part : parts) {
        checkInt(part);
        checkDouble(part);
    }
    const bool intsExpected = parseInt(parts[0]) && parseInt(parts[1]) && parseInt(parts[2]);
    if (intRange.has_value() != intsExpected)
        std::abort();
    if (intRange &&
        (intRange->first != *parseInt(parts[0]) || intRange->last != *parseInt(parts[1]) ||
         intRange->step != *parseInt(parts[2])))
        std::abort();
    const bool doublesExpected =
        parseDouble(parts[0]) && parseDouble(parts[1]) && parseDouble(parts[2]);
    if (doubleRange.has_value() != doublesExpected)
        std::abort();
    return 0;
}
