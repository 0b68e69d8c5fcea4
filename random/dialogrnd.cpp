#include "random/dialogrnd.h"

#include "core/batchrequest.h"
#include "core/choicebox.h"
#include "ui_dialogrnd.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpacerItem>

#include <algorithm>

namespace {

const QString folderKey = QStringLiteral("random/folder");
const QString generatorKey = QStringLiteral("random/generator");

} // namespace

DialogRnd::DialogRnd(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogRnd)
{
    ui->setupUi(this);
    using Request = RandomBatchRequest;
    ui->Ci->setRange(Request::firstCoverLimits.min, Request::firstCoverLimits.max);
    ui->Cf->setRange(Request::lastCoverLimits.min, Request::lastCoverLimits.max);
    ui->Cp->setRange(Request::coverStepLimits.min, Request::coverStepLimits.max);
    ui->Tam->setRange(Request::sizeLimits.min, Request::sizeLimits.max);
    ui->amo->setRange(Request::replicateLimits.min, Request::replicateLimits.max);
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
    // Says why OK is off when the values cannot run as a batch; hidden
    // otherwise, so a dialog with valid values looks as it always has.
    m_reason = new QLabel(this);
    m_reason->setObjectName(QStringLiteral("reason"));
    m_reason->setWordWrap(true);
    m_reason->hide();
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->buttonBox), m_reason);
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
                                                        folderText(), QFileDialog::ShowDirsOnly));
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
    request.covers = {initialCover(), finalCover(), coverStep()};
    request.size = mapSize();
    request.replicates = replicateCount();
    request.output.folder = folderText();
    request.generator = Generator(m_generator->currentData().toInt());
    return request;
}

void DialogRnd::updateTotal()
{
    // The same count the batch run uses for its progress range; a final
    // cover below the initial one gives 0.
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
