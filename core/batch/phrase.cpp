// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/phrase.h"

namespace {

// The N of a %N at `at` of a template text (QString::arg's 1 to 99) and its
// length, or 0 when there is none.
int placeholderAt(const QString &text, qsizetype at, qsizetype *length)
{
    if (text.at(at) != QLatin1Char('%') || at + 1 >= text.size() || !text.at(at + 1).isDigit())
        return 0;
    int number = text.at(at + 1).digitValue();
    *length = 2;
    if (at + 2 < text.size() && text.at(at + 2).isDigit()) {
        number = number * 10 + text.at(at + 2).digitValue();
        *length = 3;
    }
    return number;
}

} // namespace

Phrase::Phrase(const QString &text)
{
    if (!text.isEmpty())
        m_pieces.append({Kind::Plain, text, {}});
}

Phrase Phrase::marked(const QString &text)
{
    Phrase phrase;
    qsizetype done = 0;
    for (qsizetype open = text.indexOf(QLatin1Char('{')); open >= 0;
         open = text.indexOf(QLatin1Char('{'), done)) {
        const qsizetype close = text.indexOf(QLatin1Char('}'), open);
        if (close < 0)
            break;
        if (open > done)
            phrase.m_pieces.append({Kind::Template, text.mid(done, open - done), {}});
        const QString inside = text.mid(open + 1, close - open - 1);
        const qsizetype space = inside.indexOf(QLatin1Char(' '));
        phrase.m_pieces.append({Kind::Mention, space < 0 ? inside : inside.left(space),
                                space < 0 ? QString() : inside.mid(space + 1)});
        done = close + 1;
    }
    if (done < text.size())
        phrase.m_pieces.append({Kind::Template, text.mid(done), {}});
    return phrase;
}

Phrase Phrase::mention(const QString &key, const QString &value)
{
    Phrase phrase;
    phrase.m_pieces.append({Kind::Mention, key, value});
    return phrase;
}

Phrase Phrase::replaced(const QList<Piece> &value) const
{
    int lowest = 0;
    for (const Piece &piece : m_pieces) {
        if (piece.kind != Kind::Template)
            continue;
        for (qsizetype i = 0; i < piece.text.size(); ++i) {
            qsizetype length = 0;
            const int number = placeholderAt(piece.text, i, &length);
            if (number > 0 && (lowest == 0 || number < lowest))
                lowest = number;
        }
    }
    Phrase result;
    if (lowest == 0) {
        // QString::arg warns of an argument without a place; a phrase keeps
        // it at its end rather than lose what it says.
        result = *this + Phrase(QStringLiteral(" "));
        result.m_pieces.append(value);
        return result;
    }
    for (const Piece &piece : m_pieces) {
        if (piece.kind != Kind::Template) {
            result.m_pieces.append(piece);
            continue;
        }
        qsizetype done = 0;
        for (qsizetype i = 0; i < piece.text.size(); ++i) {
            qsizetype length = 0;
            if (placeholderAt(piece.text, i, &length) != lowest)
                continue;
            if (i > done)
                result.m_pieces.append({Kind::Template, piece.text.mid(done, i - done), {}});
            result.m_pieces.append(value);
            done = i + length;
            i = done - 1;
        }
        if (done < piece.text.size())
            result.m_pieces.append({Kind::Template, piece.text.mid(done), {}});
    }
    return result;
}

Phrase Phrase::arg(const QString &value) const
{
    return replaced({{Kind::Plain, value, {}}});
}

Phrase Phrase::arg(const Phrase &value) const
{
    // A phrase given as an argument is whole already: its own %N are not
    // places for later arguments.
    QList<Piece> pieces = value.m_pieces;
    for (Piece &piece : pieces)
        if (piece.kind == Kind::Template)
            piece.kind = Kind::Plain;
    return replaced(pieces);
}

Phrase Phrase::arg(qint64 value) const
{
    return arg(QString::number(value));
}

Phrase &Phrase::operator+=(const Phrase &other)
{
    m_pieces.append(other.m_pieces);
    return *this;
}

bool Phrase::isEmpty() const
{
    for (const Piece &piece : m_pieces)
        if (piece.kind == Kind::Mention || !piece.text.isEmpty())
            return false;
    return true;
}

QList<Phrase::Mention> Phrase::mentions() const
{
    QList<Mention> found;
    for (const Piece &piece : m_pieces)
        if (piece.kind == Kind::Mention)
            found.append({piece.text, piece.value});
    return found;
}

QString Phrase::spelled(const Spelling &spelling) const
{
    QString text;
    for (const Piece &piece : m_pieces)
        text += piece.kind == Kind::Mention ? spelling(piece.text, piece.value) : piece.text;
    return text;
}

QString Phrase::text() const
{
    return spelled(&Phrase::cliSpelling);
}

QString Phrase::cliSpelling(const QString &key, const QString &value)
{
    QString name = QStringLiteral("--") + key;
    name.replace(QLatin1Char('_'), QLatin1Char('-'));
    return value.isEmpty() ? name : name + QLatin1Char(' ') + value;
}
