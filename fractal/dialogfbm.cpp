#include "fractal/dialogfbm.h"

#include "ui_dialogfbm.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <algorithm>

namespace {

const QString folderKey = QStringLiteral("fractal/folder");

} // namespace

dialogFbm::dialogFbm(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::dialogFbm)
{
    ui->setupUi(this);
    using Request = FractalBatchRequest;
    ui->Hi->setRange(Request::firstHurstLimits.min, Request::firstHurstLimits.max);
    ui->Hf->setRange(Request::lastHurstLimits.min, Request::lastHurstLimits.max);
    ui->Hp->setRange(Request::hurstStepLimits.min, Request::hurstStepLimits.max);
    ui->Ci->setRange(Request::firstCoverLimits.min, Request::firstCoverLimits.max);
    ui->Cf->setRange(Request::lastCoverLimits.min, Request::lastCoverLimits.max);
    ui->Cp->setRange(Request::coverStepLimits.min, Request::coverStepLimits.max);
    ui->Tam->setRange(Request::sizeLimits.min, Request::sizeLimits.max);
    ui->amo->setRange(Request::replicateLimits.min, Request::replicateLimits.max);
    // Says why OK is off when the values cannot run as a batch; hidden
    // otherwise, so a dialog with valid values looks as it always has.
    m_reason = new QLabel(this);
    m_reason->setObjectName(QStringLiteral("reason"));
    m_reason->setWordWrap(true);
    m_reason->hide();
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->buttonBox), m_reason);
    // The size does not enter the total, but a size above the lattice's
    // cannot run; it has no slot of its own, as the form has always had.
    connect(ui->Tam, &QSpinBox::valueChanged, this, [this] { updateTotal(); });
    // The folder of the last accepted batch comes back at the next start; a
    // typed folder counts as much as a chosen one, so OK follows the text.
    ui->path->setText(QSettings().value(folderKey).toString());
    connect(ui->path, &QLineEdit::textChanged, this, [this] { updateTotal(); });
    connect(this, &QDialog::accepted, this,
            [this] { QSettings().setValue(folderKey, folderText()); });
    // The form's initial values are set before the slots are connected, so
    // the total for them has to be computed here once.
    updateTotal();
}

dialogFbm::~dialogFbm()
{
    delete ui;
}

double dialogFbm::initialH() const
{
    return ui->Hi->value();
}

double dialogFbm::finalH() const
{
    return ui->Hf->value();
}

double dialogFbm::hStep() const
{
    return ui->Hp->value();
}

int dialogFbm::initialCover() const
{
    return ui->Ci->value();
}

int dialogFbm::finalCover() const
{
    return ui->Cf->value();
}

int dialogFbm::coverStep() const
{
    return ui->Cp->value();
}

int dialogFbm::mapSize() const
{
    return ui->Tam->value();
}

int dialogFbm::replicateCount() const
{
    return ui->amo->value();
}

QString dialogFbm::folderText() const
{
    return ui->path->text();
}

void dialogFbm::on_pushButton_clicked()
{
    // A cancelled chooser returns an empty string, and that clears the field
    // on purpose: the folder shown is always the last one chosen.
    ui->path->setText(QFileDialog::getExistingDirectory(this, tr("Choose folder to generate files"),
                                                        folderText(), QFileDialog::ShowDirsOnly));
}

void dialogFbm::on_Hi_valueChanged(double)
{
    updateTotal();
}

void dialogFbm::on_Hf_valueChanged(double)
{
    updateTotal();
}

void dialogFbm::on_Hp_valueChanged(double)
{
    updateTotal();
}

void dialogFbm::on_Ci_valueChanged(int)
{
    updateTotal();
}

void dialogFbm::on_Cf_valueChanged(int)
{
    updateTotal();
}

void dialogFbm::on_Cp_valueChanged(int)
{
    updateTotal();
}

void dialogFbm::on_amo_valueChanged(int)
{
    updateTotal();
}

FractalBatchRequest dialogFbm::request() const
{
    FractalBatchRequest request;
    request.hurst = {initialH(), finalH(), hStep()};
    request.covers = {initialCover(), finalCover(), coverStep()};
    request.size = mapSize();
    request.replicates = replicateCount();
    request.output.folder = folderText();
    return request;
}

void dialogFbm::updateTotal()
{
    // The H values are counted by walking the very loop the batch run walks.
    // A closed-form quotient of the H range and step can land just below a
    // whole number and promise one H value fewer than the run then visits.
    const qint64 total = request().mapCount();
    ui->nArq->setValue(
        static_cast<int>(std::clamp<qint64>(total, ui->nArq->minimum(), ui->nArq->maximum())));

    auto refusal = request().refusal();
    // The batch job refuses a run without a folder too, but only once OK
    // has closed the dialog.
    if (!refusal && folderText().trimmed().isEmpty())
        refusal = tr("choose a folder for the maps");
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(!refusal);
    if (refusal) {
        QString reason = *refusal;
        reason[0] = reason[0].toUpper();
        m_reason->setText(reason + QLatin1Char('.'));
    }
    m_reason->setVisible(refusal.has_value());
}
