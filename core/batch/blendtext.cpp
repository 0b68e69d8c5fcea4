// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/blendtext.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BlendText", text);
}

QString numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QString blendPartText(const BlendPart &part)
{
    QString text = part.family;
    QStringList options;
    for (const auto &[key, value] : part.options)
        options.append(key + QLatin1Char('=') + value);
    if (!options.isEmpty())
        text += QLatin1Char(':') + options.join(QLatin1Char(','));
    return text + QStringLiteral(":weight=") + numberText(part.weight);
}

QString blendsText(const std::vector<BlendPart> &blends)
{
    QStringList parts;
    for (const BlendPart &part : blends)
        parts.append(blendPartText(part));
    return parts.join(QLatin1Char(';'));
}

std::optional<QString> parseBlends(QStringView text, std::vector<BlendPart> &blends)
{
    std::vector<BlendPart> read;
    for (const QStringView given : text.split(u';', Qt::SkipEmptyParts)) {
        const QStringView partText = given.trimmed();
        const auto malformed = [&partText] {
            return tr("has \"%1\", which is not FAMILY:OPTION=VALUE,...:weight=W")
                .arg(partText.toString());
        };
        const QList<QStringView> pieces = partText.split(u':');
        BlendPart part;
        part.family = pieces.first().trimmed().toString();
        if (part.family.isEmpty())
            return malformed();
        bool weighted = false;
        for (qsizetype i = 1; i < pieces.size(); ++i) {
            for (const QStringView pair : pieces[i].split(u',')) {
                const qsizetype equals = pair.indexOf(u'=');
                if (equals <= 0)
                    return malformed();
                const QString key = pair.first(equals).trimmed().toString();
                const QString value = pair.sliced(equals + 1).trimmed().toString();
                if (key == QLatin1String("weight")) {
                    bool ok = false;
                    const double weight = value.toDouble(&ok);
                    if (!ok || !std::isfinite(weight))
                        return tr("gives %1 the weight \"%2\", which is not a finite number")
                            .arg(part.family, value);
                    if (weighted)
                        return tr("gives %1 two weights").arg(part.family);
                    part.weight = weight;
                    weighted = true;
                } else if (key.isEmpty() || value.isEmpty()) {
                    return malformed();
                } else {
                    part.options.append({key, value});
                }
            }
        }
        read.push_back(std::move(part));
    }
    blends = std::move(read);
    return std::nullopt;
}
