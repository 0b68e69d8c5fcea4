// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/appsettings.h"

#include "core/files/regularfile.h"
#include "core/files/writefully.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// The file has always been read with the semantics of a C++ text stream:
// getline for the four texts into one shared buffer, formatted extraction
// for the two numbers, and a failure that sticks. This class reproduces
// exactly those rules over a QIODevice, block by block.
class ConfigStream {
public:
    explicit ConfigStream(QIODevice &device)
        : m_device(device)
    {
        if (!m_device.isOpen() || !m_device.isReadable())
            m_fail = true;
    }

    bool good() const { return !m_fail && !m_eof; }
    bool failed() const { return m_fail; }

    // getline into `buffer`; the buffer is left alone when the stream is no
    // longer good, which is why a file ending inside a text line repeats that
    // line for every later text.
    void readLine(QByteArray &buffer)
    {
        if (!good()) {
            m_fail = true;
            return;
        }
        buffer.clear();
        bool extracted = false;
        bool newline = false;
        // The whole length of the line, also the part beyond what is kept.
        qsizetype length = 0;
        while (fillBlock()) {
            extracted = true;
            const char *const begin = m_block.data() + m_pos;
            const qsizetype available = m_filled - m_pos;
            const auto *const lineFeed =
                static_cast<const char *>(std::memchr(begin, '\n', std::size_t(available)));
            const qsizetype taken = lineFeed ? lineFeed - begin : available;
            // A text setting longer than this is not a setting; keeping it
            // would let a damaged file take all memory. The rest of the line
            // is skipped a block at a time.
            buffer.append(begin, std::min(taken, maxLineLength - buffer.size()));
            length += taken;
            m_pos += taken;
            if (lineFeed) {
                ++m_pos;
                newline = true;
                break;
            }
        }
        if (!newline)
            m_eof = true;
        if (!extracted)
            m_fail = true;
        // Files saved on Windows end their lines in CR LF. Only a carriage
        // return that really ends the line goes; one that merely sits at the
        // cut of an over-long line is text.
        if (newline && length == buffer.size() && buffer.endsWith('\r'))
            buffer.chop(1);
    }

    // operator>>(int&): skip white space, optional sign, decimal digits; the
    // target is written only on success.
    void readInt(qint32 &target)
    {
        if (!good()) {
            m_fail = true;
            return;
        }
        int c = get();
        while (c >= 0 && isSpace(c))
            c = get();
        if (c < 0) {
            m_eof = true;
            m_fail = true;
            return;
        }
        bool negative = false;
        if (c == '+' || c == '-') {
            negative = c == '-';
            c = get();
        }
        std::int64_t magnitude = 0;
        bool anyDigit = false;
        while (c >= '0' && c <= '9') {
            anyDigit = true;
            if (magnitude <= std::int64_t(INT_MAX) + 1)
                magnitude = magnitude * 10 + (c - '0');
            c = get();
        }
        if (c < 0)
            m_eof = true;
        else
            unget();
        const std::int64_t value = negative ? -magnitude : magnitude;
        if (!anyDigit || value < INT_MIN || value > INT_MAX) {
            m_fail = true;
            return;
        }
        target = qint32(value);
    }

private:
    static constexpr qsizetype maxLineLength = 1 << 16;

    static bool isSpace(int c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }

    // Makes sure at least one unread byte is in the block; false at the end
    // of the data or at the first read that fails.
    bool fillBlock()
    {
        if (m_pos < m_filled)
            return true;
        if (m_atEnd)
            return false;
        m_pos = 0;
        m_filled = std::max<qint64>(m_device.read(m_block.data(), qint64(m_block.size())), 0);
        if (m_filled == 0) {
            m_atEnd = true;
            return false;
        }
        return true;
    }

    int get() { return fillBlock() ? static_cast<unsigned char>(m_block[m_pos++]) : -1; }

    void unget() { --m_pos; }

    QIODevice &m_device;
    std::array<char, 1 << 14> m_block;
    qsizetype m_filled = 0;
    qsizetype m_pos = 0;
    bool m_atEnd = false;
    bool m_eof = false;
    bool m_fail = false;
};

} // namespace

std::optional<QString> loadConfig(AppSettings &settings, const QString &fileName,
                                  ConfigSupply *supply)
{
    QFile file;
    std::optional<QString> problem;
    const QFileInfo info(fileName);
    if (info.exists()) {
        if (const FileResult error = openRegularFile(fileName, file))
            problem = error->message();
    } else if (info.isSymLink()) {
        problem = FileError{QDir::toNativeSeparators(fileName),
                            QCoreApplication::translate("AppSettings",
                                                        "a symbolic link to \"%1\", which does "
                                                        "not exist")
                                .arg(info.symLinkTarget())}
                      .message();
    }
    const ConfigSupply supplied = readConfig(settings, file);
    if (supply)
        *supply = supplied;
    return problem;
}

ConfigSupply readConfig(AppSettings &settings, QIODevice &device)
{
    ConfigStream stream(device);
    ConfigSupply supply;

    QByteArray line;
    QString *const texts[] = {&settings.randomPrefix, &settings.randomPostString,
                              &settings.fractalPrefix, &settings.fractalPostString};
    std::size_t index = 0;
    for (QString *text : texts) {
        // A line read after the stream failed repeats the last one read.
        const bool wasGood = stream.good();
        stream.readLine(line);
        // A line that holds a NUL is not taken, also where it is repeated.
        if (line.contains('\0')) {
            if (wasGood)
                supply.lineWithNul[index] = int(index) + 1;
            ++index;
            continue;
        }
        *text = QString::fromLatin1(line);
        supply.supplied[index++] = wasGood && !stream.failed();
    }
    for (qint32 *code : {&settings.coverValue, &settings.matrixValue}) {
        stream.readInt(*code);
        supply.supplied[index++] = !stream.failed();
    }
    return supply;
}

QString configText(const AppSettings &settings, ConfigValue value)
{
    switch (value) {
    case ConfigValue::RandomPrefix:
        return settings.randomPrefix;
    case ConfigValue::RandomPostString:
        return settings.randomPostString;
    case ConfigValue::FractalPrefix:
        return settings.fractalPrefix;
    case ConfigValue::FractalPostString:
        return settings.fractalPostString;
    case ConfigValue::CoverValue:
        return QString::number(settings.coverValue);
    case ConfigValue::MatrixValue:
        break;
    }
    return QString::number(settings.matrixValue);
}

void setConfigText(AppSettings &settings, ConfigValue value, const QString &text)
{
    switch (value) {
    case ConfigValue::RandomPrefix:
        settings.randomPrefix = text;
        return;
    case ConfigValue::RandomPostString:
        settings.randomPostString = text;
        return;
    case ConfigValue::FractalPrefix:
        settings.fractalPrefix = text;
        return;
    case ConfigValue::FractalPostString:
        settings.fractalPostString = text;
        return;
    case ConfigValue::CoverValue:
        settings.coverValue = text.toInt();
        return;
    case ConfigValue::MatrixValue:
        settings.matrixValue = text.toInt();
        return;
    }
}

QString configValueName(ConfigValue value)
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("AppSettings", text);
    };
    switch (value) {
    case ConfigValue::RandomPrefix:
        return tr("the random prefix");
    case ConfigValue::RandomPostString:
        return tr("the random post-string");
    case ConfigValue::FractalPrefix:
        return tr("the fractal prefix");
    case ConfigValue::FractalPostString:
        return tr("the fractal post-string");
    case ConfigValue::CoverValue:
        return tr("the habitat code");
    case ConfigValue::MatrixValue:
        break;
    }
    return tr("the matrix code");
}

std::optional<QString> configGaps(const ConfigSupply &supply, const AppSettings &settings,
                                  const QList<ConfigValue> &wanted, const QString &fileName)
{
    QStringList gaps;
    for (const ConfigValue value : wanted) {
        if (supply.has(value))
            continue;
        // Texts are quoted, codes are not.
        const bool code = value == ConfigValue::CoverValue || value == ConfigValue::MatrixValue;
        const QString shown =
            code ? configText(settings, value)
                 : QLatin1Char('"') + configText(settings, value) + QLatin1Char('"');
        gaps << QCoreApplication::translate("AppSettings", "%1 (%2 is used)")
                    .arg(configValueName(value), shown);
        if (const int line = supply.lineWithNul[std::size_t(value)]; line > 0)
            gaps.last() +=
                QCoreApplication::translate("AppSettings", ": line %1 holds a NUL byte").arg(line);
    }
    if (gaps.isEmpty())
        return std::nullopt;
    return QCoreApplication::translate("AppSettings", "%1 does not supply %2")
        .arg(fileName, gaps.join(QStringLiteral(", ")));
}

FileResult saveConfig(const AppSettings &settings, const QString &fileName)
{
    QByteArray content;
    for (const QString *text : {&settings.randomPrefix, &settings.randomPostString,
                                &settings.fractalPrefix, &settings.fractalPostString}) {
        content += text->toLatin1();
        content += '\n';
    }
    content += QByteArray::number(settings.coverValue) + '\n';
    content += QByteArray::number(settings.matrixValue) + '\n';
    return saveBytes(QFileInfo(fileName).absoluteFilePath(), content);
}
