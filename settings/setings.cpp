#include "settings/setings.h"

#include "core/batchrequest.h"
#include "ui_setings.h"

setings::setings(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::setings)
{
    ui->setupUi(this);
    ui->coverValue->setRange(BatchOutput::coverValueLimits.min, BatchOutput::coverValueLimits.max);
    ui->matrixValue->setRange(BatchOutput::matrixValueLimits.min,
                              BatchOutput::matrixValueLimits.max);
    ui->seedRnd->setRange(RandomBatchRequest::seedLimits.min, RandomBatchRequest::seedLimits.max);
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
