// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <functional>

// A message or a help text that may name options of the batch description.
// The core says which option it means, and with which value; each front end
// writes the mention its own way (--max-draws 5, max_draws=5, max_draws =
// 5), so that no front end has to find option names in prose.
//
// Text written by the developers marks a mention as {key} or {key value}
// (Phrase::marked). Everything else, and every value a user gave, is plain
// text, never read for marks: a prefix or a path may hold any braces.
class Phrase final {
public:
    // How a front end writes a mention: the option's keyword and the value
    // the phrase gives it, empty for a switch or a mention of the option
    // alone.
    using Spelling = std::function<QString(const QString &key, const QString &value)>;

    struct Mention {
        QString key;
        QString value;
    };

    Phrase() = default;
    // Plain text.
    Phrase(const QString &text);
    Phrase(const char *text) = delete;
    // Developer text with {key} and {key value} marks; %1, %2 ... stay
    // for arg().
    static Phrase marked(const QString &text);
    static Phrase mention(const QString &key, const QString &value = QString());

    // As QString::arg: the lowest %N of the developer text becomes `value`,
    // which is plain text or a phrase of its own.
    Phrase arg(const QString &value) const;
    Phrase arg(const Phrase &value) const;
    Phrase arg(qint64 value) const;
    Phrase arg(int value) const { return arg(qint64(value)); }
    Phrase &operator+=(const Phrase &other);
    friend Phrase operator+(Phrase a, const Phrase &b) { return a += b; }

    bool isEmpty() const;
    // The options it names, in order.
    QList<Mention> mentions() const;
    QString spelled(const Spelling &spelling) const;
    // As the command line writes it.
    QString text() const;
    // What a front end of that language takes as the keyword of an option:
    // the command line's --max-draws and the keywords' max_draws.
    static QString cliSpelling(const QString &key, const QString &value);

private:
    enum class Kind { Template, Plain, Mention };
    struct Piece {
        Kind kind;
        QString text;
        // For a mention.
        QString value;
    };
    Phrase replaced(const QList<Piece> &value) const;

    QList<Piece> m_pieces;
};
