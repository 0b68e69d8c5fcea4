// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/limits.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BatchRequest", text);
}

} // namespace

std::optional<QString> outside(const char *what, qint64 value, IntLimits limits)
{
    if (limits.contains(value))
        return std::nullopt;
    return tr("%1 must be between %2 and %3").arg(tr(what)).arg(limits.min).arg(limits.max);
}

std::optional<QString> outside(const QString &what, double value, HundredthsLimits limits)
{
    if (limits.contains(value))
        return std::nullopt;
    return tr("%1 must be between %2 and %3")
        .arg(what, QString::number(limits.min), QString::number(limits.max));
}

std::optional<QString> outside(const char *what, double value, HundredthsLimits limits)
{
    return outside(tr(what), value, limits);
}

bool hasTwoDecimals(double value)
{
    const double hundredths = value * 100.0;
    return std::isfinite(hundredths) && std::fabs(hundredths - std::round(hundredths)) < 1e-9;
}
