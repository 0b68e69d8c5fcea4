// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussiannames.h"

#include <QCoreApplication>
#include <QList>

#include <algorithm>

namespace {

constexpr ChoiceWord modelTable[] = {
    {"exponential", int(CovarianceModel::Exponential),
     QT_TRANSLATE_NOOP("GaussianNames", "Exponential")},
    {"gaussian", int(CovarianceModel::Gaussian), QT_TRANSLATE_NOOP("GaussianNames", "Gaussian")},
    {"matern", int(CovarianceModel::Matern), QT_TRANSLATE_NOOP("GaussianNames", "Matern")},
    {"fbm", int(CovarianceModel::Fbm),
     QT_TRANSLATE_NOOP("GaussianNames", "Fractional Brownian motion (exact)")},
};

// The model's name, "_r" and the range "%.2f" (for fbm "_h" and H), "_",
// cover "%03i", "_", replicate "%05i", and the extension; a field the map
// was cut from has "_surface" before a ".tif" beside GeoTIFF maps or an
// ".asc" beside the others. In the C locale.
class GaussianNames final : public NameScheme {
public:
    QString tail(const NamePlace &place) const override
    {
        const bool fbm = place.variant == QLatin1String("fbm");
        return place.variant +
               QString::asprintf(fbm ? "_h%.2f_%03i_%05lli" : "_r%.2f_%03i_%05lli", place.axis,
                                 place.cover, place.replicate) +
               (place.surface ? QStringLiteral("_surface") : QString()) +
               mapFormatExtension(place.format);
    }

protected:
    std::optional<NamePlace> parse(QStringView tail) const override
    {
        const qsizetype dot = tail.lastIndexOf(QLatin1Char('.'));
        const auto format = dot < 0 ? std::nullopt : mapFormatOfExtension(tail.mid(dot));
        QList<QStringView> parts = tail.first(std::max<qsizetype>(dot, 0)).split(u'_');
        if (!format)
            return std::nullopt;
        NamePlace place;
        place.format = *format;
        place.surface = parts.size() == 5 && parts[4] == QLatin1String("surface");
        if (place.surface)
            parts.removeLast();
        if (parts.size() != 4 || !choiceValue(modelTable, parts[0]) || parts[1].size() < 2 ||
            (place.surface && place.format == MapFormat::Plain))
            return std::nullopt;
        place.variant = parts[0].toString();
        bool ok[3] = {};
        place.axis = parts[1].mid(1).toDouble(&ok[0]);
        place.cover = parts[2].toInt(&ok[1]);
        place.replicate = parts[3].toLongLong(&ok[2]);
        if (!ok[0] || !ok[1] || !ok[2])
            return std::nullopt;
        return place;
    }
};

} // namespace

const NameScheme &gaussianNames()
{
    static const GaussianNames names;
    return names;
}

std::span<const ChoiceWord> modelWords()
{
    return modelTable;
}

QString wordOf(CovarianceModel model)
{
    return choiceWord(modelTable, int(model));
}
