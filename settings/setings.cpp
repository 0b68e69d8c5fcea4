// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/setings.h"

#include "core/batch/batchrequest.h"
#include "core/batch/mapfamily.h"
#include "ui_setings.h"
#include "widgets/optionwidgets.h"
#include "widgets/refusalline.h"

#include <QLineEdit>
#include <QMessageBox>

setings::setings(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::setings)
{
    ui->setupUi(this);
    ui->coverValue->setRange(BatchOutput::coverValueLimits.min, BatchOutput::coverValueLimits.max);
    ui->matrixValue->setRange(BatchOutput::matrixValueLimits.min,
                              BatchOutput::matrixValueLimits.max);
    // The seed of random runs, which this dialog has always held, takes
    // the random family's limits and first value.
    if (const MapFamily *random = familyNamed(QStringLiteral("random")))
        showOption(ui->seedRnd, *random, "seed");
    // As in the batch dialogs, OK waits for values that can be kept rather
    // than refusing them once pressed; the seed is never kept, so it has no
    // say.
    m_refusal = std::make_unique<RefusalLine>(ui->verticalLayout, ui->buttonBox);
    for (QLineEdit *text : {ui->preTextRnd, ui->posTextRnd, ui->preTextFrc, ui->posTextFrc})
        connect(text, &QLineEdit::textChanged, this, &setings::updateRefusal);
    for (QSpinBox *code : {ui->coverValue, ui->matrixValue})
        connect(code, &QSpinBox::valueChanged, this, &setings::updateRefusal);
    updateRefusal();
}

setings::~setings()
{
    delete ui;
}

void setings::setRandomPrefix(const QString &text)
{
    ui->preTextRnd->setText(text);
}

QString setings::randomPrefix() const
{
    return ui->preTextRnd->text();
}

void setings::setRandomPostString(const QString &text)
{
    ui->posTextRnd->setText(text);
}

QString setings::randomPostString() const
{
    return ui->posTextRnd->text();
}

void setings::setFractalPrefix(const QString &text)
{
    ui->preTextFrc->setText(text);
}

QString setings::fractalPrefix() const
{
    return ui->preTextFrc->text();
}

void setings::setFractalPostString(const QString &text)
{
    ui->posTextFrc->setText(text);
}

QString setings::fractalPostString() const
{
    return ui->posTextFrc->text();
}

void setings::setCoverValue(int value)
{
    ui->coverValue->setValue(value);
}

int setings::coverValue() const
{
    return ui->coverValue->value();
}

void setings::setMatrixValue(int value)
{
    ui->matrixValue->setValue(value);
}

int setings::matrixValue() const
{
    return ui->matrixValue->value();
}

int setings::seed() const
{
    return ui->seedRnd->value();
}

std::optional<QString> setings::refusal() const
{
    std::optional<QString> reason;
    for (const QString &prefix : {randomPrefix(), fractalPrefix()})
        if (!reason)
            reason = BatchOutput::prefixRefusal(prefix);
    for (const QString &postString : {randomPostString(), fractalPostString()})
        if (!reason)
            reason = BatchOutput::postStringRefusal(postString);
    // config.txt keeps its texts in Latin-1; anything beyond would come back
    // as another character at the next start.
    for (const QString &text :
         {randomPrefix(), randomPostString(), fractalPrefix(), fractalPostString()}) {
        for (const QChar c : text) {
            if (!reason && c.unicode() > 0xff)
                reason = tr("config.txt stores the settings in Latin-1, which cannot hold \"%1\"")
                             .arg(c);
        }
    }
    if (!reason && coverValue() == matrixValue())
        reason = tr("the habitat and the matrix code are both %1; a map of one code has no "
                    "habitat to tell apart")
                     .arg(coverValue());
    if (reason)
        return asSentence(*reason);
    return reason;
}

void setings::updateRefusal()
{
    m_refusal->show(refusal());
}

void setings::accept()
{
    // OK is off while this holds, but accept() can come by other ways.
    if (const auto reason = refusal()) {
        QMessageBox::warning(this, windowTitle(), *reason);
        return;
    }
    QDialog::accept();
}
