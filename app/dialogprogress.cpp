#include "app/dialogprogress.h"

DialogProgress::DialogProgress(QWidget *parent)
    : m_dialog(new QProgressDialog(QStringLiteral("Calculando..."), QProgressDialog::tr("Cancel"),
                                   0, 0, parent))
{
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->show();
    m_dialog->setValue(0);
}

DialogProgress::~DialogProgress()
{
    if (m_dialog) {
        m_dialog->close();
        delete m_dialog;
    }
}

void DialogProgress::setMaximum(int maximum)
{
    m_dialog->setMaximum(qMax(0, maximum));
}

void DialogProgress::setLabelText(const QString &text)
{
    m_dialog->setLabelText(text);
}

void DialogProgress::setValue(int value)
{
    m_dialog->setValue(value);
}

bool DialogProgress::wasCanceled() const
{
    return m_dialog->wasCanceled();
}
