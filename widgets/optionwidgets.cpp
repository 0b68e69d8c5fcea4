// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/optionwidgets.h"

#include "core/batch/mapfamily.h"

#include <QDoubleSpinBox>
#include <QLocale>
#include <QSpinBox>
#include <QStringList>

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
    box->setValue(defaultPart(family, *option, part).toDouble());
}

std::optional<OptionError> setFromBoxes(FamilyRequest &request, const char *key,
                                        const QList<const QAbstractSpinBox *> &boxes)
{
    QStringList texts;
    for (const QAbstractSpinBox *box : boxes) {
        if (const auto *whole = qobject_cast<const QSpinBox *>(box))
            texts.append(QString::number(whole->value()));
        else if (const auto *decimal = qobject_cast<const QDoubleSpinBox *>(box))
            texts.append(QString::number(decimal->value(), 'g', QLocale::FloatingPointShortest));
    }
    const BatchOption *option = findBatchOption(request.family(), QLatin1String(key));
    Q_ASSERT(option);
    return setOption(request, *option,
                     texts.join(option->type == OptionType::Point   ? QLatin1Char(',')
                                : option->type == OptionType::Shape ? QLatin1Char('x')
                                                                    : QLatin1Char(':')));
}
