// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/outputgroup.h"

#include "core/batch/batchoptions.h"
#include "core/batch/choicebox.h"
#include "core/batch/mapfamily.h"
#include "core/batch/phrase.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QDoubleSpinBox *coordinateBox(QWidget *parent, const QString &name, double minimum, double value)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    // Metres of a projected system and degrees alike.
    box->setDecimals(6);
    box->setRange(minimum, 1e9);
    box->setValue(value);
    return box;
}

} // namespace

OutputGroup::OutputGroup(QWidget *parent)
    : QWidget(parent)
    , m_toggle(new QToolButton(this))
    , m_body(new QWidget(this))
    , m_format(new QComboBox(m_body))
    , m_cellSize(coordinateBox(m_body, QStringLiteral("cellSize"), 1e-6, 1))
    , m_originX(coordinateBox(m_body, QStringLiteral("originX"), -1e9, 0))
    , m_originY(coordinateBox(m_body, QStringLiteral("originY"), -1e9, 0))
    , m_crs(new QLineEdit(m_body))
    , m_metrics(new QCheckBox(tr("Landscape &metrics of every map in the manifest"), m_body))
    , m_columns(new QSpinBox(m_body))
    , m_proportions(new QLineEdit(m_body))
    , m_classValues(new QLineEdit(m_body))
    , m_mask(new QLineEdit(m_body))
    , m_maskValue(new QLineEdit(m_body))
{
    setObjectName(QStringLiteral("output"));
    m_toggle->setObjectName(QStringLiteral("outputToggle"));
    m_toggle->setText(tr("&Output"));
    m_toggle->setCheckable(true);
    m_toggle->setAutoRaise(true);
    m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toggle->setArrowType(Qt::RightArrow);

    m_format->setObjectName(QStringLiteral("format"));
    fillChoices(m_format, formatWords(), QString());
    m_crs->setObjectName(QStringLiteral("crs"));
    m_crs->setPlaceholderText(tr("none, or e.g. EPSG:3035 (GeoTIFF only)"));
    m_metrics->setObjectName(QStringLiteral("metrics"));

    auto *origin = new QHBoxLayout;
    origin->addWidget(m_originX);
    origin->addWidget(m_originY);
    auto *form = new QFormLayout(m_body);
    form->setContentsMargins(20, 0, 0, 0);
    form->addRow(tr("&Format"), m_format);
    form->addRow(tr("&Cell size"), m_cellSize);
    auto *originLabel = new QLabel(tr("Origin (lower &left X, Y)"), m_body);
    originLabel->setBuddy(m_originX);
    form->addRow(originLabel, origin);
    form->addRow(tr("&Reference system"), m_crs);
    form->addRow(m_metrics);

    // 0 keeps the maps square, as the size above says.
    m_columns->setObjectName(QStringLiteral("columns"));
    m_columns->setRange(0, 9999999);
    m_columns->setSpecialValueText(tr("as many as rows"));
    form->addRow(tr("Co&lumns"), m_columns);
    m_proportions->setObjectName(QStringLiteral("proportions"));
    m_proportions->setPlaceholderText(tr("habitat and matrix, or e.g. 40,25,20,10,5"));
    form->addRow(tr("Class proport&ions (%)"), m_proportions);
    m_classValues->setObjectName(QStringLiteral("classValues"));
    m_classValues->setPlaceholderText(tr("1 to k, or e.g. 11,21,31"));
    form->addRow(tr("Class &values"), m_classValues);
    m_mask->setObjectName(QStringLiteral("mask"));
    m_mask->setPlaceholderText(tr("none: the whole grid"));
    auto *browse = new QToolButton(m_body);
    browse->setObjectName(QStringLiteral("maskBrowse"));
    browse->setText(tr("..."));
    auto *maskRow = new QHBoxLayout;
    maskRow->addWidget(m_mask);
    maskRow->addWidget(browse);
    auto *maskLabel = new QLabel(tr("Stud&y area mask"), m_body);
    maskLabel->setBuddy(m_mask);
    form->addRow(maskLabel, maskRow);
    m_maskValue->setObjectName(QStringLiteral("maskValue"));
    m_maskValue->setPlaceholderText(tr("none: NoData alone lies outside"));
    form->addRow(tr("Mask value outside"), m_maskValue);
    m_body->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_toggle, 0, Qt::AlignLeft);
    layout->addWidget(m_body);

    connect(m_toggle, &QToolButton::toggled, this, &OutputGroup::setOpen);
    connect(m_format, &QComboBox::currentIndexChanged, this, &OutputGroup::edited);
    for (QDoubleSpinBox *box : {m_cellSize, m_originX, m_originY})
        connect(box, &QDoubleSpinBox::valueChanged, this, &OutputGroup::edited);
    connect(m_crs, &QLineEdit::textChanged, this, &OutputGroup::edited);
    connect(m_metrics, &QCheckBox::toggled, this, &OutputGroup::edited);
    connect(m_columns, &QSpinBox::valueChanged, this, &OutputGroup::edited);
    // A path is read once it is finished, not at every key.
    for (QLineEdit *line : {m_proportions, m_classValues, m_maskValue})
        connect(line, &QLineEdit::textChanged, this, &OutputGroup::edited);
    connect(m_mask, &QLineEdit::editingFinished, this, &OutputGroup::edited);
    connect(browse, &QToolButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, tr("Choose the mask of the study area"), m_mask->text(),
            tr("Rasters (*.asc *.tif *.tiff *.txt);;All files (*)"));
        if (!path.isEmpty()) {
            m_mask->setText(path);
            Q_EMIT edited();
        }
    });
}

bool OutputGroup::isOpen() const
{
    return m_toggle->isChecked();
}

void OutputGroup::setOpen(bool open)
{
    if (open == !m_body->isHidden())
        return;
    m_toggle->setChecked(open);
    m_toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    if (open)
        Q_EMIT aboutToOpen();
    m_body->setVisible(open);
    Q_EMIT openChanged(open);
}

std::optional<Phrase> OutputGroup::applyTo(FamilyRequest &request) const
{
    BatchOutput &output = request.output;
    output.format = MapFormat(m_format->currentData().toInt());
    output.georeference.cellSize = m_cellSize->value();
    output.georeference.originX = m_originX->value();
    output.georeference.originY = m_originY->value();
    output.georeference.crs = m_crs->text().trimmed();
    output.metrics = m_metrics->isChecked();
    if (m_columns->value() > 0)
        request.shape.columns = m_columns->value();
    // Through the description, which reads the mask and settles the shape
    // and the covers from it and from the classes, as every front end does.
    std::optional<Phrase> mistake;
    output.mask = m_mask->text().trimmed();
    output.studyArea = m_area;
    const std::pair<const char *, const QLineEdit *> lines[] = {
        {"mask_value", m_maskValue},
        {"proportions", m_proportions},
        {"class_values", m_classValues},
        {"mask", m_mask},
    };
    for (const auto &[key, line] : lines) {
        const QString text = line->text().trimmed();
        if (text.isEmpty())
            continue;
        const BatchOption *option = findBatchOption(request.family(), QLatin1String(key));
        if (!option)
            continue;
        if (const auto error = setOption(request, *option, text); error && !mistake)
            mistake =
                Phrase::mention(QLatin1String(key)) + Phrase(QLatin1Char(' ') + error->reason);
    }
    // Without a mask the request must not keep the last one.
    if (output.mask.isEmpty())
        output.studyArea.reset();
    m_area = output.studyArea;
    return mistake;
}

bool OutputGroup::holds(const char *key)
{
    static const QStringList keys{
        QStringLiteral("format"),       QStringLiteral("cell_size"), QStringLiteral("origin"),
        QStringLiteral("crs"),          QStringLiteral("metrics"),   QStringLiteral("proportions"),
        QStringLiteral("class_values"), QStringLiteral("mask"),      QStringLiteral("mask_value")};
    return keys.contains(QLatin1String(key));
}
