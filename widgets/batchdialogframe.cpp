#include "widgets/batchdialogframe.h"

#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>

#include <algorithm>

BatchDialogFrame::BatchDialogFrame(const Form &form, const QString &group)
    : QObject(form.dialog)
    , m_form(form)
    , m_group(group)
    , m_refusal(form.layout, form.buttons)
{
    m_form.folder->setText(QSettings().value(key("folder")).toString());
    connect(m_form.folder, &QLineEdit::textChanged, this, &BatchDialogFrame::edited);
    connect(m_form.dialog, &QDialog::accepted, this,
            [this] { QSettings().setValue(key("folder"), folder()); });
}

QString BatchDialogFrame::key(const char *name) const
{
    return m_group + QLatin1Char('/') + QLatin1String(name);
}

QString BatchDialogFrame::folder() const
{
    return m_form.folder->text();
}

void BatchDialogFrame::chooseFolder(const QString &caption)
{
    m_form.folder->setText(QFileDialog::getExistingDirectory(m_form.dialog, caption, folder(),
                                                             QFileDialog::ShowDirsOnly));
}

void BatchDialogFrame::show(qint64 total, std::optional<QString> refusal)
{
    QSpinBox *box = m_form.total;
    box->setValue(static_cast<int>(std::clamp<qint64>(total, box->minimum(), box->maximum())));
    // The batch job refuses a run without a folder too, but only once OK
    // has closed the dialog.
    if (!refusal && folder().trimmed().isEmpty())
        refusal = tr("choose a folder for the maps");
    m_refusal.show(refusal);
}
