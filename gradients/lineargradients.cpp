// SPDX-License-Identifier: GPL-3.0-or-later
#include "gradients/gradientfamilies.h"

#include "core/batch/drawnfamily.h"
#include "core/batch/requestchecks.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("LinearGradients", text);
}

// The draws of a linear gradient (core/batch/drawnfamily.h): element 0,
// purpose 0, the direction of a map whose batch gives none. Planar, edge
// and wave maps of one seed share their directions.
constexpr philox::Domain linearDomain{0x4Cu};

// What a family makes of the plane g, rescaled to 0..1, that rises towards
// its direction.
enum class Profile { Plane, Edge, Wave };

struct LinearRequest : DrawnRequest {
    static constexpr HundredthsLimits directionLimits{0.0, 360.0};
    static constexpr HundredthsLimits directionStepLimits{0.01, 360.0};
    static constexpr HundredthsLimits periodLimits{1.0, 100000.0};

    // Degrees clockwise from north (the top row); drawn for every map when
    // not given.
    std::optional<HurstRange> direction;
    // Waves along the plane, wave maps only.
    double periods = 1.0;

    virtual Profile profile() const = 0;
    const HurstRange *sweep() const override { return direction ? &*direction : nullptr; }
    QString sweepName() const override { return QStringLiteral("direction"); }
    std::optional<Phrase> ownRefusal() const override;
    QList<ManifestField> ownColumns() const override
    {
        QList<ManifestField> columns{{"direction", {}, ManifestType::Measure}};
        if (profile() == Profile::Wave)
            columns.append(
                {"periods", QByteArray::number(periods, 'g', 17), ManifestType::Measure});
        return columns;
    }
    std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const override;

    // The span of the map's cell centres along a direction, in cells.
    double spanAlong(double degrees) const;
};

std::optional<Phrase> LinearRequest::ownRefusal() const
{
    if (direction) {
        std::vector<double> given = direction->listed;
        if (given.empty())
            given = {direction->first, direction->last, direction->step};
        for (const double value : given)
            if (!std::isfinite(value))
                return Phrase::marked(tr("{direction} %1 is not a number of degrees"))
                    .arg(QString::number(value));
        if (auto refusal =
                decimalSweepRefusal(*direction, QStringLiteral("direction"), directionLimits,
                                    directionLimits, directionStepLimits))
            return Phrase(*refusal);
    }
    if (profile() != Profile::Wave)
        return std::nullopt;
    if (auto refusal = outsideOption("periods", periods, periodLimits))
        return refusal;
    // A wave whose period is below a cell aliases into a pattern of its
    // cells rather than a wave.
    if (direction) {
        for (const double degrees : direction->values())
            if (periods > spanAlong(degrees))
                return Phrase::marked(tr("{periods} %1 makes a period shorter than a cell: the "
                                         "map spans %2 cells along direction %3"))
                    .arg(QString::number(periods))
                    .arg(QString::number(spanAlong(degrees), 'f', 2))
                    .arg(QString::number(degrees, 'f', 2));
    } else if (periods > std::min(shape.rows, shape.columns) - 1) {
        return Phrase::marked(tr("{periods} %1 makes a period shorter than a cell along the "
                                 "map's shorter side (%2 cells), which a drawn direction may "
                                 "take"))
            .arg(QString::number(periods))
            .arg(std::min(shape.rows, shape.columns) - 1);
    }
    return std::nullopt;
}

double LinearRequest::spanAlong(double degrees) const
{
    const double radians = degrees * (std::numbers::pi / 180.0);
    return std::abs(std::sin(radians)) * (shape.columns - 1) +
           std::abs(std::cos(radians)) * (shape.rows - 1);
}

std::optional<QString> LinearRequest::draw(const DrawPlace &place, DrawnMap &map) const
{
    const double degrees =
        direction ? place.axis
                  : double(below(DrawStream(std::uint32_t(seed), linearDomain, place).word64(0, 0),
                                 36000)) /
                        100.0;
    const int rows = shape.rows;
    const int columns = shape.columns;
    map.classes.clear();
    map.surface.resize(std::size_t(shape.cells()));
    // g = (col sin d - row cos d - low) / (high - low), evaluated in that
    // order: the plane is lowest and highest at two of its corners.
    const double radians = degrees * (std::numbers::pi / 180.0);
    const double s = std::sin(radians);
    const double c = std::cos(radians);
    const double right = double(columns - 1) * s;
    const double down = double(rows - 1) * c;
    const double corners[] = {0.0, right, 0.0 - down, right - down};
    const double low = *std::min_element(std::begin(corners), std::end(corners));
    const double span = *std::max_element(std::begin(corners), std::end(corners)) - low;
    const auto width = std::size_t(columns);
    if (profile() == Profile::Wave) {
        // sin(2 pi k g) by the sum of the angles of the column's and the
        // row's part of g: two products a cell instead of a sine.
        const double turn = 2.0 * std::numbers::pi * periods / span;
        std::vector<double> sinColumn(width), cosColumn(width);
        for (std::size_t col = 0; col < width; ++col) {
            const double angle = turn * (double(col) * s);
            sinColumn[col] = std::sin(angle);
            cosColumn[col] = std::cos(angle);
        }
        for (int r = 0; r < rows; ++r) {
            const double angle = turn * (0.0 - double(r) * c - low);
            const double sinRow = std::sin(angle);
            const double cosRow = std::cos(angle);
            double *out = map.surface.data() + std::size_t(r) * width;
            for (std::size_t col = 0; col < width; ++col)
                out[col] = 0.5 + 0.5 * (sinColumn[col] * cosRow + cosColumn[col] * sinRow);
        }
    } else {
        const bool edge = profile() == Profile::Edge;
        for (int r = 0; r < rows; ++r) {
            const double rowPart = double(r) * c;
            double *out = map.surface.data() + std::size_t(r) * width;
            if (edge)
                for (std::size_t col = 0; col < width; ++col)
                    out[col] =
                        1.0 - std::abs(2.0 * ((double(col) * s - rowPart - low) / span) - 1.0);
            else
                for (std::size_t col = 0; col < width; ++col)
                    out[col] = (double(col) * s - rowPart - low) / span;
        }
    }
    map.parameters = {{"direction", QByteArray::number(degrees, 'f', 2), ManifestType::Measure}};
    return std::nullopt;
}

template <Profile P> struct GradientRequest final : LinearRequest {
    Profile profile() const override { return P; }
    const MapFamily &family() const override;
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<GradientRequest>(*this);
    }
};

// What tells the three families apart, beside the profile.
struct Words {
    const char *word;
    const char *prefix;
    const char *title;
    const char *menu;
    const char *summary;
    const char *profile;
    const char *example;
};

constexpr Words planarWords{
    "planar",
    "PLG_",
    "Planar gradients",
    "&Planar gradient…",
    "planar gradients: a plane rising towards a direction, cut at the cover",
    "every cell holds g, its centre's place along the direction rescaled to\n"
    "0..1 over the map",
    "  %1 planar --out maps --direction 0:270:90 --cover 10:90:40 --size 200\n"
    "  %1 planar --out hill --cover 30 --replicates 10 --blend fractal:hurst=0.7:weight=2\n"};
constexpr Words edgeWords{
    "edge",
    "EDG_",
    "Edge gradients",
    "E&dge gradient…",
    "edge gradients: highest along a band through the middle of the map, falling to two "
    "sides",
    "every cell holds 1 - |2g - 1| of the planar gradient g: 1 along the band\n"
    "through the map's middle, 0 at the two edges it runs between",
    "  %1 edge --out ridge --direction 45 --cover 20:60:20 --size 200x300\n"};
constexpr Words waveWords{
    "wave",
    "WAV_",
    "Waves",
    "&Wave…",
    "waves: parallel bands of a sine along a direction",
    "every cell holds (1 + sin(2 pi x periods x g)) / 2 of the planar gradient g:\n"
    "--periods waves across the map",
    "  %1 wave --out dunes --periods 4 --direction 30 --cover 40 --replicates 5\n"};

template <Profile P> constexpr const Words &wordsOf()
{
    if constexpr (P == Profile::Plane)
        return planarWords;
    else if constexpr (P == Profile::Edge)
        return edgeWords;
    else
        return waveWords;
}

template <Profile P> class GradientFamily final : public DrawnFamily<GradientRequest<P>> {
    using Request = GradientRequest<P>;
    static constexpr const Words &words = wordsOf<P>();

public:
    const char *word() const override { return words.word; }
    QString summary() const override { return tr(words.summary); }
    QString title() const override { return tr(words.title); }
    QString menuText() const override { return tr(words.menu); }
    QString description() const override
    {
        return tr("Writes a batch of %1 maps: for every direction, cover and replicate,\n"
                  "%2, where g = (x sin d - y cos d - min) / (max - min) for the\n"
                  "column x and row y of a cell and the direction d, in degrees clockwise\n"
                  "from north (0 rises towards the top row, 90 towards the right). The\n"
                  "surface is cut exactly at the cover or into the classes. Without\n"
                  "--direction, each map's direction is drawn uniformly from the seed, in\n"
                  "hundredths of a degree, and the manifest records it. Files are named\n"
                  "PREFIX + d + direction (2 decimals, when given) + _ + cover (3 digits) + _\n"
                  "+ replicate (5 digits) + .txt (.asc, .tif); the batch list PREFIX +\n"
                  "ListFragStat.fbt and the manifest PREFIX + manifest.csv are written\n"
                  "beside them. The prefix is %3 unless --prefix gives one.")
            .arg(QLatin1String(words.word), tr(words.profile), defaultPrefix());
    }
    QString examples() const override { return QString::fromUtf8(words.example); }
    QString defaultPrefix() const override { return QLatin1String(words.prefix); }
    QStringList statusColumns() const override { return {QStringLiteral("direction")}; }

    std::span<const BatchOption> options() const override
    {
        static const std::vector<BatchOption> rows = [this] {
            std::vector<BatchOption> own{
                {.key = "direction",
                 .type = OptionType::HurstSweep,
                 .scope = OptionScope::Maps,
                 .valueName = "FIRST:LAST:STEP",
                 .help = "Directions the surface rises towards, in degrees clockwise from north "
                         "(the top row), with at most two decimals. When not given, each map's "
                         "is drawn uniformly from the seed.",
                 .field = [](FamilyRequest &r) -> OptionField {
                     return &static_cast<Request &>(r).direction;
                 },
                 .limits = OptionLimits::sweep(Request::directionLimits, Request::directionLimits,
                                               Request::directionStepLimits),
                 .valueNoun = "direction",
                 .manifestColumn = "direction",
                 .pilot = true},
            };
            if constexpr (P == Profile::Wave)
                own.push_back({.key = "periods",
                               .type = OptionType::Number,
                               .scope = OptionScope::Maps,
                               .valueName = "K",
                               .help = "Waves across the map along the direction; a period "
                                       "must span a cell at least.",
                               .field = [](FamilyRequest &r) -> OptionField {
                                   return &static_cast<Request &>(r).periods;
                               },
                               .limits = OptionLimits::of(Request::periodLimits),
                               .manifestColumn = "periods",
                               .pilot = true});
            return this->rowsWith(own, "Also writes the surface every map was cut from, named "
                                       "as the map with _surface (float32 .tif with {format "
                                       "tif}, else an ESRI grid with 7 significant digits).");
        }();
        return rows;
    }
    const NameScheme &names() const override
    {
        static const DrawnNames names("d");
        return names;
    }
};

template <Profile P> const MapFamily &familyOf()
{
    static const GradientFamily<P> family;
    return family;
}

template <Profile P> const MapFamily &GradientRequest<P>::family() const
{
    return familyOf<P>();
}

} // namespace

const MapFamily &planarFamily()
{
    return familyOf<Profile::Plane>();
}

const MapFamily &edgeFamily()
{
    return familyOf<Profile::Edge>();
}

const MapFamily &waveFamily()
{
    return familyOf<Profile::Wave>();
}
