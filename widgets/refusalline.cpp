#include "widgets/refusalline.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

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

void RefusalLine::show(const std::optional<QString> &phrase)
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!phrase);
    if (phrase)
        m_label->setText(asSentence(*phrase));
    m_label->setVisible(phrase.has_value());
}
