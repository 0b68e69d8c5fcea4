// SPDX-License-Identifier: GPL-3.0-or-later
// Reads arbitrary bytes as "config.txt" and checks the result against the
// C++ text stream the file format was defined with: std::getline for the
// four texts and operator>> for the two numbers, on a failure that sticks.
// The reader's own additions are modelled on top: a carriage return before
// the line feed is dropped, a text keeps at most its first 64 KiB, a text
// that holds a NUL there is not taken, and a number that fails leaves its
// field alone.
#include "settings/appsettings.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

constexpr std::size_t maxTextLength = 1 << 16;

AppSettings referenceSettings(const std::string &bytes, AppSettings settings)
{
    std::istringstream stream(bytes);
    std::string line;
    QString *const texts[] = {&settings.randomPrefix, &settings.randomPostString,
                              &settings.fractalPrefix, &settings.fractalPostString};
    for (QString *text : texts) {
        const bool wasGood = stream.good();
        std::getline(stream, line);
        std::string kept = line;
        // getline leaves the buffer alone when the stream was not good; the
        // line feed was found when the stream is still good or the line
        // ended exactly at the last byte.
        if (wasGood && !stream.eof() && !kept.empty() && kept.back() == '\r')
            kept.pop_back();
        if (kept.size() > maxTextLength)
            kept.resize(maxTextLength);
        if (kept.find('\0') != std::string::npos)
            continue;
        *text = QString::fromLatin1(kept.data(), qsizetype(kept.size()));
    }
    for (qint32 *number : {&settings.coverValue, &settings.matrixValue}) {
        int value = 0;
        stream >> value;
        if (!stream.fail())
            *number = value;
    }
    return settings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);

    AppSettings start;
    start.randomPrefix = QStringLiteral("r");
    start.coverValue = 77;
    start.matrixValue = 88;
    AppSettings settings = start;
    readConfig(settings, buffer);

    const AppSettings expected =
        referenceSettings(std::string(reinterpret_cast<const char *>(data), size), start);
    if (!(settings == expected))
        std::abort();
    return 0;
}
