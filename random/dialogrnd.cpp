// SPDX-License-Identifier: GPL-3.0-or-later
#include "random/dialogrnd.h"

#include "core/batch/choicebox.h"
#include "random/randomfamily.h"
#include "ui_dialogrnd.h"
#include "widgets/batchdialogframe.h"
#include "widgets/optionwidgets.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSpacerItem>

namespace {

const QString generatorKey = QStringLiteral("random/generator");

} // namespace

DialogRnd::DialogRnd(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogRnd)
{
    ui->setupUi(this);
    // Ranges and first values are the description's, as the command line's.
    const MapFamily &family = randomFamily();
    for (int part = 0; part < 3; ++part)
        showOption(QList{ui->Ci, ui->Cf, ui->Cp}[part], family, "cover", part);
    showOption(ui->Tam, family, "size");
    showOption(ui->amo, family, "replicates");
    // Where the randomness comes from, remembered across starts; a new row
    // above the folder's, so the form's own rows stay as they were.
    auto *sampling = new QHBoxLayout;
    sampling->setObjectName(QStringLiteral("samplingLayout"));
    m_generator = new QComboBox(this);
    m_generator->setObjectName(QStringLiteral("generator"));
    fillChoices(m_generator, generatorWords(), QSettings().value(generatorKey).toString());
    auto *generatorLabel = new QLabel(tr("&Generator"), this);
    generatorLabel->setBuddy(m_generator);
    sampling->addWidget(generatorLabel);
    sampling->addWidget(m_generator);
    // The spacer every row of the form ends with.
    sampling->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    ui->verticalLayout->insertLayout(ui->verticalLayout->indexOf(ui->horizontalLayout_6), sampling);
    connect(this, &QDialog::accepted, this, [this] {
        QSettings().setValue(generatorKey, chosenWord(m_generator, generatorWords()));
    });
    m_frame = new BatchDialogFrame({this, ui->verticalLayout, ui->path, ui->nArq, ui->buttonBox},
                                   QStringLiteral("random"));
    connect(m_frame, &BatchDialogFrame::edited, this, [this] { updateTotal(); });
    // The values of the last accepted batch come back at the next start; the
    // seed does not, as it never has.
    m_frame->remember({ui->Ci, ui->Cf, ui->Cp, ui->Tam, ui->amo});
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
    return m_frame->folder();
}

void DialogRnd::on_pushButton_clicked()
{
    m_frame->chooseFolder(tr("Choose folder to generate files"));
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

RandomBatchRequest DialogRnd::request() const
{
    RandomBatchRequest request;
    setFromBoxes(request, "cover", {ui->Ci, ui->Cf, ui->Cp});
    setFromBoxes(request, "size", {ui->Tam});
    setFromBoxes(request, "replicates", {ui->amo});
    m_frame->applyTo(request);
    request.generator = Generator(m_generator->currentData().toInt());
    return request;
}

void DialogRnd::updateTotal()
{
    // The same count the batch run uses for its progress range; a final
    // cover below the initial one gives 0.
    const RandomBatchRequest asked = request();
    m_frame->show(asked.mapCount(), asked.refusal());
}
