// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/optionwidgets.h"

#include "core/batch/mapfamily.h"

#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QLocale>
#include <QSpinBox>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The part-th of the default's text: "1:100:1" gives 1, 100 and 1; a single
// value is every part.
QString defaultPart(const MapFamily &family, const BatchOption &option, int part)
{
    // A square's one number stands for its rows and its columns alike.
    const QStringList parts =
        optionDefaultText(family, option)
            .split(option.type == OptionType::Shape ? QLatin1Char('x') : QLatin1Char(':'));
    return parts.value(parts.size() > 1 ? part : 0);
}

} // namespace

void showOption(QSpinBox *box, const MapFamily &family, const char *key, int part)
{
    const BatchOption *option = findBatchOption(family, QLatin1String(key));
    Q_ASSERT(option);
    const OptionLimits &limits = option->limits;
    if (limits.kind == OptionLimits::Kind::WholeSweep)
        box->setRange(limits.whole[part].min, limits.whole[part].max);
    else if (limits.kind == OptionLimits::Kind::Whole)
        box->setRange(limits.whole[0].min, limits.whole[0].max);
    box->setValue(defaultPart(family, *option, part).toInt());
}

void showOption(QDoubleSpinBox *box, const MapFamily &family, const char *key, int part)
{
    const BatchOption *option = findBatchOption(family, QLatin1String(key));
    Q_ASSERT(option);
    const OptionLimits &limits = option->limits;
    if (limits.kind == OptionLimits::Kind::Decimal ||
        limits.kind == OptionLimits::Kind::DecimalSweep)
        box->setRange(limits.decimal[part].min, limits.decimal[part].max);
    // A sweep without a default is drawn for each map: one step below its
    // limits the box says so, and leaves the option out.
    if (option->type == OptionType::HurstSweep && optionDefaultText(family, *option).isEmpty()) {
        box->setMinimum(box->minimum() - std::pow(10.0, -box->decimals()));
        box->setSpecialValueText(QCoreApplication::translate("OptionWidgets", "drawn"));
        box->setValue(box->minimum());
        return;
    }
    box->setValue(defaultPart(family, *option, part).toDouble());
}

std::optional<OptionError> setFromBoxes(FamilyRequest &request, const char *key,
                                        const QList<const QAbstractSpinBox *> &boxes)
{
    const auto drawn = [](const QAbstractSpinBox *box) {
        const auto *decimal = qobject_cast<const QDoubleSpinBox *>(box);
        return decimal && !decimal->specialValueText().isEmpty() &&
               decimal->value() == decimal->minimum();
    };
    const BatchOption *option = findBatchOption(request.family(), QLatin1String(key));
    Q_ASSERT(option);
    if (std::all_of(boxes.begin(), boxes.end(), drawn))
        return setOption(request, *option, QString());
    if (std::any_of(boxes.begin(), boxes.end(), drawn))
        return OptionError{
            OptionError::Kind::Value,
            QCoreApplication::translate("OptionWidgets", "is drawn for each map, or given whole")};
    QStringList texts;
    for (const QAbstractSpinBox *box : boxes) {
        if (const auto *whole = qobject_cast<const QSpinBox *>(box))
            texts.append(QString::number(whole->value()));
        else if (const auto *decimal = qobject_cast<const QDoubleSpinBox *>(box))
            texts.append(QString::number(decimal->value(), 'g', QLocale::FloatingPointShortest));
    }
    return setOption(request, *option,
                     texts.join(option->type == OptionType::Point   ? QLatin1Char(',')
                                : option->type == OptionType::Shape ? QLatin1Char('x')
                                                                    : QLatin1Char(':')));
}
