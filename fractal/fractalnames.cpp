// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fractalnames.h"

#include <QList>

#include <algorithm>

namespace {

// Maps: H "%.2f", "_", cover "%03i", "_", replicate "%05i", extension.
// Surfaces: H "%.2f", "_surface_", seed "%05i", and ".tif" beside GeoTIFF
// maps or ".asc" beside the others. In the C locale whatever the user's, so
// that no decimal comma ends up in a name.
class FractalNames final : public NameScheme {
public:
    QString tail(const NamePlace &place) const override
    {
        if (place.surface)
            return QString::asprintf("%.2f_surface_%05lli", place.axis, place.seed) +
                   mapFormatExtension(place.format);
        return QString::asprintf("%.2f_%03i_%05lli", place.axis, place.cover, place.replicate) +
               mapFormatExtension(place.format);
    }

protected:
    std::optional<NamePlace> parse(QStringView tail) const override
    {
        const qsizetype dot = tail.lastIndexOf(QLatin1Char('.'));
        const auto format = dot < 0 ? std::nullopt : mapFormatOfExtension(tail.mid(dot));
        const QList<QStringView> parts = tail.first(std::max<qsizetype>(dot, 0)).split(u'_');
        if (!format || parts.size() != 3)
            return std::nullopt;
        NamePlace place;
        place.format = *format;
        bool ok[3] = {};
        place.axis = parts[0].toDouble(&ok[0]);
        place.surface = parts[1] == QLatin1String("surface");
        if (place.surface) {
            ok[1] = true;
            if (place.format == MapFormat::Plain)
                return std::nullopt;
            place.seed = parts[2].toLongLong(&ok[2]);
        } else {
            place.cover = parts[1].toInt(&ok[1]);
            place.replicate = parts[2].toLongLong(&ok[2]);
        }
        if (!ok[0] || !ok[1] || !ok[2])
            return std::nullopt;
        return place;
    }
};

} // namespace

const NameScheme &fractalNames()
{
    static const FractalNames names;
    return names;
}
