// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/refusalline.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

QString asSentence(const Phrase &phrase)
{
    return asSentence(phrase.spelled([](const QString &key, const QString &value) {
        QString words = key;
        words.replace(QLatin1Char('_'), QLatin1Char(' '));
        return value.isEmpty() ? words : words + QLatin1Char(' ') + value;
    }));
}

QString asSentence(QString phrase)
{
    if (!phrase.isEmpty())
        phrase[0] = phrase[0].toUpper();
    if (!phrase.endsWith(QLatin1Char('.')))
        phrase += QLatin1Char('.');
    return phrase;
}

RefusalLine::RefusalLine(QBoxLayout *layout, QDialogButtonBox *buttons)
    : m_label(new QLabel(layout->parentWidget()))
    , m_buttons(buttons)
{
    m_label->setObjectName(QStringLiteral("reason"));
    m_label->setWordWrap(true);
    m_label->hide();
    layout->insertWidget(layout->indexOf(buttons), m_label);
}

void RefusalLine::show(const std::optional<Phrase> &phrase)
{
    show(phrase ? std::optional(asSentence(*phrase)) : std::nullopt);
}

void RefusalLine::show(const std::optional<QString> &phrase)
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!phrase);
    if (phrase)
        m_label->setText(asSentence(*phrase));
    m_label->setVisible(phrase.has_value());
    // A reason of two lines must not squeeze the rows above it: the layout's
    // minimum leaves out the wrapped label's height, so the window grows to
    // it here.
    QWidget *window = m_label->window();
    if (phrase && window->isVisible() && window->layout() &&
        window->layout()->hasHeightForWidth()) {
        window->layout()->activate();
        const int needed = window->layout()->totalHeightForWidth(window->width());
        if (window->height() < needed)
            window->resize(window->width(), needed);
    }
}
