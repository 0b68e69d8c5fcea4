// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/dialogfbm.h"

#include "core/batch/choicebox.h"
#include "fractal/fractalfamily.h"
#include "ui_dialogfbm.h"
#include "widgets/batchdialogframe.h"
#include "widgets/optionwidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSpacerItem>
#include <QSpinBox>

namespace {

const QString generatorKey = QStringLiteral("fractal/generator");
const QString cutKey = QStringLiteral("fractal/cut");

} // namespace

dialogFbm::dialogFbm(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::dialogFbm)
{
    ui->setupUi(this);
    // Ranges and first values are the description's, as the command line's.
    const MapFamily &family = fractalFamily();
    for (int part = 0; part < 3; ++part) {
        showOption(QList{ui->Hi, ui->Hf, ui->Hp}[part], family, "hurst", part);
        showOption(QList{ui->Ci, ui->Cf, ui->Cp}[part], family, "cover", part);
    }
    showOption(ui->Tam, family, "size");
    showOption(ui->amo, family, "replicates");
    addSamplingRow();
    m_frame = new BatchDialogFrame({this, ui->verticalLayout, ui->path, ui->nArq, ui->buttonBox},
                                   QStringLiteral("fractal"));
    connect(m_frame, &BatchDialogFrame::edited, this, [this] { updateTotal(); });
    // The values of the last accepted batch come back at the next start; the
    // seed does not, as it never has.
    m_frame->remember({ui->Hi, ui->Hf, ui->Hp, ui->Ci, ui->Cf, ui->Cp, ui->Tam, ui->amo});
    // The size does not enter the total, but a size above the lattice's
    // cannot run; it has no slot of its own, as the form has always had.
    connect(ui->Tam, &QSpinBox::valueChanged, this, [this] { updateTotal(); });
    // The form's initial values are set before the slots are connected, so
    // the total for them has to be computed here once.
    updateTotal();
}

dialogFbm::~dialogFbm()
{
    delete ui;
}

void dialogFbm::addSamplingRow()
{
    // How the maps are sampled, in a row of its own above the folder's, so
    // the form's own rows stay as they were. The generator and the cut are
    // remembered across starts.
    const MapFamily &family = fractalFamily();
    const QSettings settings;
    auto *sampling = new QHBoxLayout;
    sampling->setObjectName(QStringLiteral("samplingLayout"));
    auto labelled = [this, sampling](const QString &text, QWidget *widget) {
        auto *label = new QLabel(text, this);
        label->setBuddy(widget);
        sampling->addWidget(label);
        sampling->addWidget(widget);
    };
    m_generator = new QComboBox(this);
    m_generator->setObjectName(QStringLiteral("generator"));
    fillChoices(m_generator, generatorWords(), settings.value(generatorKey).toString());
    labelled(tr("&Generator"), m_generator);
    m_cut = new QComboBox(this);
    m_cut->setObjectName(QStringLiteral("cut"));
    fillChoices(m_cut, cutWords(), settings.value(cutKey).toString());
    labelled(tr("C&ut"), m_cut);
    m_distinct = new QCheckBox(tr("&Distinct surfaces"), this);
    m_distinct->setObjectName(QStringLiteral("distinctSurfaces"));
    m_distinct->setToolTip(tr("No surface gives two maps of one H and cover"));
    sampling->addWidget(m_distinct);
    m_surfaces = new QSpinBox(this);
    m_surfaces->setObjectName(QStringLiteral("surfaces"));
    showOption(m_surfaces, family, "surfaces");
    labelled(tr("&Surfaces per H"), m_surfaces);
    m_firstSeed = new QSpinBox(this);
    m_firstSeed->setObjectName(QStringLiteral("firstSeed"));
    showOption(m_firstSeed, family, "first_seed");
    labelled(tr("F&irst seed"), m_firstSeed);
    // The spacer every row of the form ends with.
    sampling->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    ui->verticalLayout->insertLayout(ui->verticalLayout->indexOf(ui->horizontalLayout_6), sampling);
    connect(this, &QDialog::accepted, this, [this] {
        QSettings settings;
        settings.setValue(generatorKey, chosenWord(m_generator, generatorWords()));
        settings.setValue(cutKey, chosenWord(m_cut, cutWords()));
    });
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
    return m_frame->folder();
}

void dialogFbm::on_pushButton_clicked()
{
    m_frame->chooseFolder(tr("Choose folder to generate files"));
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
    setFromBoxes(request, "hurst", {ui->Hi, ui->Hf, ui->Hp});
    setFromBoxes(request, "cover", {ui->Ci, ui->Cf, ui->Cp});
    setFromBoxes(request, "size", {ui->Tam});
    setFromBoxes(request, "replicates", {ui->amo});
    setFromBoxes(request, "surfaces", {m_surfaces});
    setFromBoxes(request, "first_seed", {m_firstSeed});
    m_frame->applyTo(request);
    request.generator = Generator(m_generator->currentData().toInt());
    request.cut = FractalCut(m_cut->currentData().toInt());
    request.distinctSurfaces = m_distinct->isChecked();
    return request;
}

void dialogFbm::updateTotal()
{
    // The H values are counted by walking the very loop the batch run walks.
    // A closed-form quotient of the H range and step can land just below a
    // whole number and promise one H value fewer than the run then visits.
    const FractalBatchRequest asked = request();
    m_frame->show(asked.mapCount(), asked.refusal());
}
