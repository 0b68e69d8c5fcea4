// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/batchdialogframe.h"

#include "core/batch/mapfamily.h"

#include "core/batch/batchrequest.h"
#include "widgets/outputgroup.h"

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

BatchDialogFrame::BatchDialogFrame(const Form &form, const QString &group)
    : QObject(form.dialog)
    , m_form(form)
    , m_group(group)
    , m_output(addOutputGroup(form))
    , m_refusal(form.layout, form.buttons)
    , m_closedMaximumHeight(form.dialog->maximumHeight())
{
    m_form.folder->setText(QSettings().value(key(QStringLiteral("folder"))).toString());
    connect(m_form.folder, &QLineEdit::textChanged, this, &BatchDialogFrame::edited);
    // One QSettings for all, since each writes its file when it goes.
    connect(m_form.dialog, &QDialog::accepted, this, [this] {
        QSettings settings;
        settings.setValue(key(QStringLiteral("folder")), folder());
        for (const QAbstractSpinBox *box : std::as_const(m_remembered)) {
            const auto *whole = qobject_cast<const QSpinBox *>(box);
            const auto *decimal = qobject_cast<const QDoubleSpinBox *>(box);
            settings.setValue(key(box->objectName()),
                              whole ? QVariant(whole->value()) : QVariant(decimal->value()));
        }
    });
    connect(m_output, &OutputGroup::edited, this, &BatchDialogFrame::edited);
    connect(m_output, &OutputGroup::aboutToOpen, this,
            [this] { m_closedSize = m_form.dialog->size(); });
    connect(m_output, &OutputGroup::openChanged, this, &BatchDialogFrame::fitOutputGroup);
}

OutputGroup *BatchDialogFrame::addOutputGroup(const Form &form)
{
    auto *output = new OutputGroup(form.dialog);
    form.layout->insertWidget(form.layout->indexOf(form.buttons), output);
    return output;
}

QString BatchDialogFrame::key(const QString &name) const
{
    return m_group + QLatin1Char('/') + name;
}

void BatchDialogFrame::fitOutputGroup(bool open)
{
    QDialog *dialog = m_form.dialog;
    // The minimum follows the group's body only once both layouts are redone.
    m_output->layout()->activate();
    dialog->layout()->activate();
    if (open) {
        dialog->setMaximumHeight(QWIDGETSIZE_MAX);
        dialog->resize(dialog->width(), std::max(dialog->height(), dialog->sizeHint().height()));
    } else {
        dialog->setMaximumHeight(m_closedMaximumHeight);
        dialog->resize(m_closedSize);
    }
}

void BatchDialogFrame::applyTo(FamilyRequest &request) const
{
    request.output.folder = folder();
    m_outputMistake = m_output->applyTo(request);
}

void BatchDialogFrame::remember(const QList<QAbstractSpinBox *> &boxes)
{
    const QSettings settings;
    for (QAbstractSpinBox *box : boxes) {
        bool ok = false;
        const double stored = settings.value(key(box->objectName())).toDouble(&ok);
        if (!ok || !std::isfinite(stored))
            continue;
        const QSignalBlocker blocker(box);
        if (auto *whole = qobject_cast<QSpinBox *>(box))
            whole->setValue(
                int(std::clamp(stored, double(whole->minimum()), double(whole->maximum()))));
        else if (auto *decimal = qobject_cast<QDoubleSpinBox *>(box))
            decimal->setValue(stored);
    }
    m_remembered << boxes;
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

void BatchDialogFrame::show(qint64 total, std::optional<Phrase> refusal)
{
    QSpinBox *box = m_form.total;
    box->setValue(static_cast<int>(std::clamp<qint64>(total, box->minimum(), box->maximum())));
    if (m_outputMistake)
        refusal = m_outputMistake;
    // The batch job refuses a run without a folder too, but only once OK
    // has closed the dialog.
    if (!refusal && folder().trimmed().isEmpty())
        refusal = Phrase(tr("choose a folder for the maps"));
    m_refusal.show(refusal);
}
