#include "random/dialogrnd.h"

#include "ui_dialogrnd.h"

#include <QFileDialog>

#include <algorithm>

DialogRnd::DialogRnd(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogRnd)
{
    ui->setupUi(this);
    // The form's initial values are set before the slots are connected, so
    // the total for them has to be computed here once.
    updateTotal();
}

DialogRnd::~DialogRnd()
{
    delete ui;
}

int DialogRnd::initialCover() const
{
    return ui->Ci->value();
}

int DialogRnd::finalCover() const
{
    return ui->Cf->value();
}

int DialogRnd::coverStep() const
{
    return ui->Cp->value();
}

int DialogRnd::mapSize() const
{
    return ui->Tam->value();
}

int DialogRnd::replicateCount() const
{
    return ui->amo->value();
}

QString DialogRnd::folderText() const
{
    return ui->path->text();
}

void DialogRnd::on_pushButton_clicked()
{
    // A cancelled chooser returns an empty string, and that clears the field
    // on purpose: the folder shown is always the last one chosen.
    ui->path->setText(QFileDialog::getExistingDirectory(this, tr("Choose folder to generate files"),
                                                        QString(), QFileDialog::ShowDirsOnly));
}

void DialogRnd::on_Ci_valueChanged(int)
{
    updateTotal();
}

void DialogRnd::on_Cf_valueChanged(int)
{
    updateTotal();
}

void DialogRnd::on_Cp_valueChanged(int)
{
    updateTotal();
}

void DialogRnd::on_Tam_valueChanged(int)
{
    updateTotal();
}

void DialogRnd::on_amo_valueChanged(int)
{
    updateTotal();
}

void DialogRnd::updateTotal()
{
    // The same count the batch run uses for its progress range: covers from
    // Ci in steps of Cp up to Cf, times the replicates. The division
    // truncates towards zero, so a final cover below the initial one gives
    // zero or a negative total, which is shown as 0.
    const qint64 coverCount =
        (qint64{ui->Cf->value()} + ui->Cp->value() - ui->Ci->value()) / ui->Cp->value();
    const qint64 total = coverCount * ui->amo->value();
    ui->nArq->setValue(
        static_cast<int>(std::clamp<qint64>(total, ui->nArq->minimum(), ui->nArq->maximum())));
}
