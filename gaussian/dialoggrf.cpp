// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/dialoggrf.h"

#include "core/batch/batchoptions.h"
#include "core/batch/choicebox.h"
#include "gaussian/gaussianfamily.h"
#include "gaussian/gaussiannames.h"
#include "ui_dialoggrf.h"
#include "widgets/batchdialogframe.h"
#include "widgets/optionwidgets.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QSettings>
#include <QSpinBox>

namespace {

const QString group = QStringLiteral("gaussian");
const QString modelKey = QStringLiteral("gaussian/model");
const QString cutKey = QStringLiteral("gaussian/cut");
const QString prefixKey = QStringLiteral("gaussian/prefix");

} // namespace

dialogGrf::dialogGrf(QWidget *parent)
    : FamilyDialog(parent)
    , ui(new Ui::dialogGrf)
{
    ui->setupUi(this);
    // Ranges and first values are the description's, as the command line's.
    const MapFamily &family = gaussianFamily();
    const GaussianBatchRequest defaults;
    for (int part = 0; part < 3; ++part) {
        showOption(QList{ui->Ri, ui->Rf, ui->Rp}[part], family, "range", part);
        showOption(QList{ui->Hi, ui->Hf, ui->Hp}[part], family, "hurst", part);
        showOption(QList{ui->Ci, ui->Cf, ui->Cp}[part], family, "cover", part);
    }
    showOption(ui->nu, family, "nu");
    showOption(ui->Tam, family, "size");
    showOption(ui->amo, family, "replicates");
    showOption(ui->seed, family, "seed");

    const QSettings settings;
    fillChoices(ui->model, modelWords(),
                settings.value(modelKey, wordOf(defaults.model)).toString());
    fillChoices(ui->cut, cutWords(), settings.value(cutKey, wordOf(defaults.cut)).toString());
    ui->prefix->setText(settings.value(prefixKey, family.defaultPrefix()).toString());

    m_frame =
        new BatchDialogFrame({this, ui->verticalLayout, ui->path, ui->nArq, ui->buttonBox}, group);
    connect(m_frame, &BatchDialogFrame::edited, this, [this] { updateTotal(); });
    m_frame->remember({ui->Ri, ui->Rf, ui->Rp, ui->Hi, ui->Hf, ui->Hp, ui->nu, ui->Ci, ui->Cf,
                       ui->Cp, ui->Tam, ui->amo, ui->seed});
    for (QDoubleSpinBox *box : {ui->Ri, ui->Rf, ui->Rp, ui->Hi, ui->Hf, ui->Hp, ui->nu})
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { updateTotal(); });
    for (QSpinBox *box : {ui->Ci, ui->Cf, ui->Cp, ui->Tam, ui->amo, ui->seed})
        connect(box, &QSpinBox::valueChanged, this, [this] { updateTotal(); });
    connect(ui->cut, &QComboBox::currentIndexChanged, this, [this] { updateTotal(); });
    connect(ui->prefix, &QLineEdit::textChanged, this, [this] { updateTotal(); });
    connect(ui->model, &QComboBox::currentIndexChanged, this, [this] {
        showModel();
        updateTotal();
    });
    connect(this, &QDialog::accepted, this, [this] {
        QSettings settings;
        settings.setValue(modelKey, chosenWord(ui->model, modelWords()));
        settings.setValue(cutKey, chosenWord(ui->cut, cutWords()));
        settings.setValue(prefixKey, ui->prefix->text());
    });
    showModel();
    updateTotal();
}

dialogGrf::~dialogGrf()
{
    delete ui;
}

void dialogGrf::showModel()
{
    // fbm sweeps H where the other models sweep their range; only the
    // Matern model has a nu.
    const auto model = CovarianceModel(ui->model->currentData().toInt());
    const bool fbm = model == CovarianceModel::Fbm;
    const QList<QWidget *> ranges{
        ui->rangeFirstLabel, ui->rangeLastLabel, ui->rangeStepLabel, ui->Ri, ui->Rf, ui->Rp};
    const QList<QWidget *> hurst{
        ui->hurstFirstLabel, ui->hurstLastLabel, ui->hurstStepLabel, ui->Hi, ui->Hf, ui->Hp};
    for (QWidget *widget : ranges)
        widget->setVisible(!fbm);
    for (QWidget *widget : hurst)
        widget->setVisible(fbm);
    ui->nu->setEnabled(model == CovarianceModel::Matern);
    ui->nuLabel->setEnabled(model == CovarianceModel::Matern);
}

void dialogGrf::on_pushButton_clicked()
{
    m_frame->chooseFolder(tr("Choose folder to generate files"));
}

GaussianBatchRequest dialogGrf::request() const
{
    GaussianBatchRequest request;
    request.model = CovarianceModel(ui->model->currentData().toInt());
    setFromBoxes(request, "range", {ui->Ri, ui->Rf, ui->Rp});
    setFromBoxes(request, "hurst", {ui->Hi, ui->Hf, ui->Hp});
    setFromBoxes(request, "nu", {ui->nu});
    setFromBoxes(request, "cover", {ui->Ci, ui->Cf, ui->Cp});
    setFromBoxes(request, "size", {ui->Tam});
    setFromBoxes(request, "replicates", {ui->amo});
    setFromBoxes(request, "seed", {ui->seed});
    request.cut = FractalCut(ui->cut->currentData().toInt());
    m_frame->applyTo(request);
    request.output.prefix = ui->prefix->text();
    return request;
}

std::unique_ptr<FamilyRequest> dialogGrf::familyRequest() const
{
    return request().clone();
}

void dialogGrf::updateTotal()
{
    const GaussianBatchRequest asked = request();
    m_frame->show(asked.mapCount(), asked.refusal());
}
