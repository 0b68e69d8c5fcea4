// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/outputgroup.h"

#include "core/batch/batchrequest.h"
#include "core/batch/choicebox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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

void OutputGroup::applyTo(BatchOutput &output) const
{
    output.format = MapFormat(m_format->currentData().toInt());
    output.georeference.cellSize = m_cellSize->value();
    output.georeference.originX = m_originX->value();
    output.georeference.originY = m_originY->value();
    output.georeference.crs = m_crs->text().trimmed();
    output.metrics = m_metrics->isChecked();
}

bool OutputGroup::holds(const char *key)
{
    static const QStringList keys{QStringLiteral("format"), QStringLiteral("cell_size"),
                                  QStringLiteral("origin"), QStringLiteral("crs"),
                                  QStringLiteral("metrics")};
    return keys.contains(QLatin1String(key));
}
