// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/familydialog.h"

#include "core/batch/batchoptions.h"
#include "core/batch/choicebox.h"
#include "core/batch/mapfamily.h"
#include "widgets/batchdialogframe.h"
#include "widgets/optionwidgets.h"
#include "widgets/outputgroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

// Defined by the list of families (families/), whose forms the GUI library
// holds: the dialogs know the families' own forms only through it.
void registerBuiltinFamilyForms(FamilyForms &forms);

FamilyForms &FamilyForms::global()
{
    static FamilyForms forms = [] {
        FamilyForms builtIn;
        registerBuiltinFamilyForms(builtIn);
        return builtIn;
    }();
    return forms;
}

void FamilyForms::add(const char *word, Factory factory)
{
    m_forms.emplace_back(QLatin1String(word), factory);
}

FamilyForms::Factory FamilyForms::find(const MapFamily &family) const
{
    for (const auto &[word, factory] : m_forms)
        if (word == QLatin1String(family.word()))
            return factory;
    return nullptr;
}

std::unique_ptr<FamilyDialog> makeFamilyDialog(const MapFamily &family, QWidget *parent)
{
    if (const FamilyForms::Factory form = FamilyForms::global().find(family))
        return form(parent);
    return std::make_unique<OptionDialog>(family, parent);
}

namespace {

// Whether the dialog built from rows has a field for the option: one that
// shapes the maps of the request, and that neither the window (the codes,
// the prefix config.txt keeps) nor the Output group sets.
bool hasField(const MapFamily &family, const BatchOption &option)
{
    if (option.role != OptionRole::Request || option.scope != OptionScope::Maps ||
        OutputGroup::holds(option.key))
        return false;
    switch (option.config) {
    case ConfigSource::None:
        return true;
    case ConfigSource::Prefix:
        return family.configLine() < 0;
    case ConfigSource::PostString:
    case ConfigSource::CoverValue:
    case ConfigSource::MatrixValue:
        break;
    }
    return false;
}

QString labelOf(const BatchOption &option)
{
    QString words = QString::fromLatin1(option.key).replace(QLatin1Char('_'), QLatin1Char(' '));
    words[0] = words[0].toUpper();
    return words;
}

QSpinBox *wholeBox(QWidget *parent)
{
    auto *box = new QSpinBox(parent);
    box->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    return box;
}

QDoubleSpinBox *decimalBox(QWidget *parent, int decimals)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setDecimals(decimals);
    box->setRange(-1e9, 1e9);
    return box;
}

} // namespace

OptionDialog::OptionDialog(const MapFamily &family, QWidget *parent)
    : FamilyDialog(parent)
    , m_family(family)
{
    setObjectName(QLatin1String(family.word()) + QStringLiteral("Dialog"));
    setWindowTitle(family.title());
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);
    for (const BatchOption &option : family.options())
        if (hasField(family, option))
            addField(option, form);

    auto *folderRow = new QHBoxLayout;
    auto *folder = new QLineEdit(this);
    folder->setObjectName(QStringLiteral("path"));
    auto *choose = new QPushButton(tr("..."), this);
    choose->setObjectName(QStringLiteral("pushButton"));
    folderRow->addWidget(folder);
    folderRow->addWidget(choose);
    // A row of a layout has no widget for the mnemonic to reach: the label
    // is given the path's box, or it would show its ampersand.
    auto *folderLabel = new QLabel(tr("&Folder"), this);
    folderLabel->setBuddy(folder);
    form->addRow(folderLabel, folderRow);
    auto *total = new QSpinBox(this);
    total->setObjectName(QStringLiteral("nArq"));
    total->setReadOnly(true);
    total->setButtonSymbols(QAbstractSpinBox::NoButtons);
    total->setRange(0, std::numeric_limits<int>::max());
    form->addRow(tr("Maps"), total);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_frame =
        new BatchDialogFrame({this, layout, folder, total, buttons}, QLatin1String(family.word()));
    connect(m_frame, &BatchDialogFrame::edited, this, [this] { updateTotal(); });
    connect(choose, &QPushButton::clicked, this,
            [this] { m_frame->chooseFolder(tr("Choose folder to generate files")); });
    connect(this, &QDialog::accepted, this, [this] { remember(); });
    restore();
    updateTotal();
}

void OptionDialog::addField(const BatchOption &option, QFormLayout *form)
{
    Field field{&option, {}};
    const OptionLimits &limits = option.limits;
    const int parts = option.type == OptionType::CoverSweep || option.type == OptionType::HurstSweep
                          ? 3
                      : option.type == OptionType::Point || option.type == OptionType::Shape ? 2
                                                                                             : 1;
    const QString key = QLatin1String(option.key);
    switch (option.type) {
    // The window measures the manifest's metrics; the long table is for
    // the command line, Python and R.
    case OptionType::Metrics:
    case OptionType::Flag: {
        auto *box = new QCheckBox(this);
        box->setChecked(std::get<bool>(optionDefault(m_family, option)));
        connect(box, &QCheckBox::toggled, this, [this] { updateTotal(); });
        field.widgets.append(box);
        break;
    }
    case OptionType::Choice: {
        auto *box = new QComboBox(this);
        fillChoices(box, option.choices, optionDefaultText(m_family, option));
        connect(box, &QComboBox::currentIndexChanged, this, [this] { updateTotal(); });
        field.widgets.append(box);
        break;
    }
    case OptionType::Text:
    case OptionType::Numbers:
    case OptionType::TargetList:
    case OptionType::Blends:
    case OptionType::Share: {
        auto *line = new QLineEdit(optionDefaultText(m_family, option), this);
        if (option.valueName)
            line->setPlaceholderText(QLatin1String(option.valueName));
        connect(line, &QLineEdit::textChanged, this, [this] { updateTotal(); });
        field.widgets.append(line);
        break;
    }
    case OptionType::Whole:
    case OptionType::Shape:
    case OptionType::CoverSweep:
        for (int part = 0; part < parts; ++part) {
            QSpinBox *box = wholeBox(this);
            showOption(box, m_family, option.key, part);
            connect(box, &QSpinBox::valueChanged, this, [this] { updateTotal(); });
            field.widgets.append(box);
        }
        break;
    case OptionType::Number:
    case OptionType::HurstSweep:
    case OptionType::Point: {
        const bool hundredths = limits.kind == OptionLimits::Kind::Decimal ||
                                limits.kind == OptionLimits::Kind::DecimalSweep ||
                                option.type == OptionType::HurstSweep;
        for (int part = 0; part < parts; ++part) {
            QDoubleSpinBox *box = decimalBox(this, hundredths ? 2 : 6);
            if (option.type == OptionType::Point)
                box->setValue(optionDefaultText(m_family, option)
                                  .section(QLatin1Char(','), part, part)
                                  .toDouble());
            else
                showOption(box, m_family, option.key, part);
            connect(box, &QDoubleSpinBox::valueChanged, this, [this] { updateTotal(); });
            field.widgets.append(box);
        }
        break;
    }
    }
    auto *row = new QHBoxLayout;
    for (qsizetype i = 0; i < field.widgets.size(); ++i) {
        QWidget *widget = field.widgets[i];
        widget->setObjectName(
            field.widgets.size() == 1 ? key : key + QLatin1Char('_') + QString::number(i));
        widget->setToolTip(optionHelp(m_family, option).text());
        row->addWidget(widget);
    }
    auto *label = new QLabel(labelOf(option), this);
    label->setBuddy(field.widgets.first());
    form->addRow(label, row);
    m_fields.push_back(std::move(field));
}

std::unique_ptr<FamilyRequest> OptionDialog::familyRequest() const
{
    return build(nullptr);
}

std::unique_ptr<FamilyRequest> OptionDialog::build(std::optional<Phrase> *mistake) const
{
    std::unique_ptr<FamilyRequest> request = m_family.newRequest();
    for (const Field &field : m_fields) {
        const BatchOption &option = *field.option;
        QWidget *first = field.widgets.first();
        std::optional<OptionError> error;
        if (const auto *box = qobject_cast<QCheckBox *>(first)) {
            error = setOption(*request, option, box->isChecked());
        } else if (const auto *box = qobject_cast<QComboBox *>(first)) {
            error = setOption(*request, option, chosenWord(box, option.choices));
        } else if (const auto *line = qobject_cast<QLineEdit *>(first)) {
            // An empty line leaves an option that has no value by default.
            if (!line->text().trimmed().isEmpty() || !optionDefaultText(m_family, option).isEmpty())
                error = setOption(*request, option, line->text().trimmed());
        } else {
            QList<const QAbstractSpinBox *> boxes;
            for (const QWidget *widget : field.widgets)
                boxes.append(qobject_cast<const QAbstractSpinBox *>(widget));
            error = setFromBoxes(*request, option.key, boxes);
        }
        // A text that is no value of its option keeps OK off, with why.
        if (error && mistake && !*mistake)
            *mistake = Phrase::mention(QLatin1String(option.key)) +
                       Phrase(QLatin1Char(' ') + error->reason);
    }
    m_frame->applyTo(*request);
    return request;
}

void OptionDialog::updateTotal()
{
    std::optional<Phrase> mistake;
    const std::unique_ptr<FamilyRequest> asked = build(&mistake);
    m_frame->show(asked->mapCount(), mistake ? mistake : asked->refusal());
}

void OptionDialog::remember() const
{
    QSettings settings;
    for (const Field &field : m_fields)
        for (const QWidget *widget : field.widgets) {
            const QString key =
                QLatin1String(m_family.word()) + QLatin1Char('/') + widget->objectName();
            if (const auto *box = qobject_cast<const QCheckBox *>(widget))
                settings.setValue(key, box->isChecked());
            else if (const auto *box = qobject_cast<const QComboBox *>(widget))
                settings.setValue(key, chosenWord(box, field.option->choices));
            else if (const auto *line = qobject_cast<const QLineEdit *>(widget))
                settings.setValue(key, line->text());
            else if (const auto *box = qobject_cast<const QSpinBox *>(widget))
                settings.setValue(key, box->value());
            else if (const auto *box = qobject_cast<const QDoubleSpinBox *>(widget))
                settings.setValue(key, box->value());
        }
}

void OptionDialog::restore()
{
    const QSettings settings;
    for (const Field &field : m_fields)
        for (QWidget *widget : field.widgets) {
            const QVariant value = settings.value(QLatin1String(m_family.word()) +
                                                  QLatin1Char('/') + widget->objectName());
            if (!value.isValid())
                continue;
            const QSignalBlocker blocker(widget);
            if (auto *box = qobject_cast<QCheckBox *>(widget))
                box->setChecked(value.toBool());
            else if (auto *box = qobject_cast<QComboBox *>(widget)) {
                if (const auto chosen = choiceValue(field.option->choices, value.toString()))
                    box->setCurrentIndex(box->findData(*chosen));
            } else if (auto *line = qobject_cast<QLineEdit *>(widget))
                line->setText(value.toString());
            else if (auto *box = qobject_cast<QSpinBox *>(widget))
                box->setValue(value.toInt());
            else if (auto *box = qobject_cast<QDoubleSpinBox *>(widget))
                box->setValue(value.toDouble());
        }
}
