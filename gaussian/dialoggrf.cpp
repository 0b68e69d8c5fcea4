// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/dialoggrf.h"

#include "core/batch/batchoptions.h"
#include "core/batch/choicebox.h"
#include "ui_dialoggrf.h"
#include "widgets/batchdialogframe.h"

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

template <typename Box, typename Limits> void limit(Box *box, Limits limits)
{
    box->setRange(limits.min, limits.max);
}

} // namespace

dialogGrf::dialogGrf(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::dialogGrf)
{
    ui->setupUi(this);
    using Request = GaussianBatchRequest;
    const Request defaults;
    limit(ui->Ri, Request::firstRangeLimits);
    limit(ui->Rf, Request::lastRangeLimits);
    limit(ui->Rp, Request::rangeStepLimits);
    limit(ui->Hi, Request::firstHurstLimits);
    limit(ui->Hf, Request::lastHurstLimits);
    limit(ui->Hp, Request::hurstStepLimits);
    limit(ui->nu, Request::nuLimits);
    limit(ui->Ci, Request::firstCoverLimits);
    limit(ui->Cf, Request::lastCoverLimits);
    limit(ui->Cp, Request::coverStepLimits);
    limit(ui->Tam, Request::sizeLimits);
    limit(ui->amo, Request::replicateLimits);
    limit(ui->seed, Request::seedLimits);
    // The form starts from the request's own defaults, as the command line
    // does.
    ui->Ri->setValue(defaults.ranges.first);
    ui->Rf->setValue(defaults.ranges.last);
    ui->Rp->setValue(defaults.ranges.step);
    ui->Hi->setValue(defaults.hurst.first);
    ui->Hf->setValue(defaults.hurst.last);
    ui->Hp->setValue(defaults.hurst.step);
    ui->nu->setValue(defaults.nu);
    ui->Ci->setValue(defaults.covers.first);
    ui->Cf->setValue(defaults.covers.last);
    ui->Cp->setValue(defaults.covers.step);
    ui->Tam->setValue(defaults.size);
    ui->amo->setValue(defaults.replicates);
    ui->seed->setValue(defaults.seed);

    const QSettings settings;
    fillChoices(ui->model, modelWords(),
                settings.value(modelKey, wordOf(defaults.model)).toString());
    fillChoices(ui->cut, cutWords(), settings.value(cutKey, wordOf(defaults.cut)).toString());
    ui->prefix->setText(settings.value(prefixKey, defaultPrefix(BatchKind::Gaussian)).toString());

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
    request.ranges = {ui->Ri->value(), ui->Rf->value(), ui->Rp->value()};
    request.hurst = {ui->Hi->value(), ui->Hf->value(), ui->Hp->value()};
    request.nu = ui->nu->value();
    request.covers = {ui->Ci->value(), ui->Cf->value(), ui->Cp->value()};
    request.size = ui->Tam->value();
    request.replicates = ui->amo->value();
    request.seed = ui->seed->value();
    request.cut = FractalCut(ui->cut->currentData().toInt());
    m_frame->applyTo(request.output);
    request.output.prefix = ui->prefix->text();
    return request;
}

void dialogGrf::updateTotal()
{
    const GaussianBatchRequest asked = request();
    m_frame->show(asked.mapCount(), asked.refusal());
}
