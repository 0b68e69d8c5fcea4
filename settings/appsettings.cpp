#include "settings/appsettings.h"

#include "app/writefully.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <climits>
#include <cstdint>

namespace {

// The file has always been read with the semantics of a C++ text stream:
// getline for the four texts into one shared buffer, formatted extraction
// for the two numbers, and a failure that sticks. This class reproduces
// exactly those rules over a QFile, block by block.
class ConfigStream {
public:
    explicit ConfigStream(QFile &file)
        : m_file(file)
    {
        if (!m_file.isOpen())
            m_fail = true;
    }

    bool good() const { return !m_fail && !m_eof; }

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
        for (;;) {
            const int c = get();
            if (c < 0) {
                m_eof = true;
                break;
            }
            extracted = true;
            if (c == '\n') {
                newline = true;
                break;
            }
            // A text setting longer than this is not a setting; keeping it
            // would let a damaged file take all memory.
            if (buffer.size() < maxLineLength)
                buffer.append(char(c));
        }
        if (!extracted)
            m_fail = true;
        // Files saved on Windows end their lines in CR LF.
        if (newline && buffer.endsWith('\r'))
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

    int get()
    {
        if (m_pos == m_block.size()) {
            if (m_atEnd)
                return -1;
            m_block = m_file.read(1 << 16);
            m_pos = 0;
            if (m_block.isEmpty()) {
                m_atEnd = true;
                return -1;
            }
        }
        return static_cast<unsigned char>(m_block[m_pos++]);
    }

    void unget() { --m_pos; }

    QFile &m_file;
    QByteArray m_block;
    qsizetype m_pos = 0;
    bool m_atEnd = false;
    bool m_eof = false;
    bool m_fail = false;
};

QString textFromLatin1(const QByteArray &bytes)
{
    // The setting ends at the first NUL, as a C string would.
    const qsizetype nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

} // namespace

void loadConfig(AppSettings &settings, const QString &fileName)
{
    QFile file(fileName);
    // A directory opens on some systems but reads nothing; treat it as absent.
    if (!QFileInfo(fileName).isDir())
        file.open(QIODevice::ReadOnly);
    ConfigStream stream(file);

    QByteArray line;
    QString *const texts[] = {&settings.randomPrefix, &settings.randomPostString,
                              &settings.fractalPrefix, &settings.fractalPostString};
    for (QString *text : texts) {
        stream.readLine(line);
        *text = textFromLatin1(line);
    }
    stream.readInt(settings.coverValue);
    stream.readInt(settings.matrixValue);
}

FileResult saveConfig(const AppSettings &settings, const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return FileError{QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath()),
                         file.errorString()};

    QByteArray content;
    for (const QString *text : {&settings.randomPrefix, &settings.randomPostString,
                                &settings.fractalPrefix, &settings.fractalPostString}) {
        content += text->toLatin1();
        content += '\n';
    }
    content += QByteArray::number(settings.coverValue) + '\n';
    content += QByteArray::number(settings.matrixValue) + '\n';

    const QString shownPath = QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
    if (auto reason = writeFully(file, content)) {
        file.cancelWriting();
        return FileError{shownPath, *reason};
    }
    if (!file.commit())
        return FileError{shownPath, file.errorString()};
    return std::nullopt;
}
