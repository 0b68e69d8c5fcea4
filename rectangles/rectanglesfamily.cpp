// SPDX-License-Identifier: GPL-3.0-or-later
#include "rectangles/rectanglesfamily.h"

#include "core/batch/drawnfamily.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RectanglesFamily", text);
}

// A rectangle map's draws (core/batch/drawnfamily.h): element k is the k-th
// rectangle; purpose 0 its width (words 0-1) and height (words 2-3),
// purpose 1 its left column (words 0-1) and top row (words 2-3), purpose 2
// its value (words 0-1).
constexpr philox::Domain rectanglesDomain{0x51u};

// A map is covered by at most this many rectangles: a request whose
// rectangles would take more is refused before its first map.
constexpr qint64 rectangleBound = qint64(1) << 24;

struct Rectangle {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct RectanglesRequest final : DrawnRequest {
    static constexpr IntLimits sideLimits{1, 8192};

    int minSide = 5;
    int maxSide = 20;

    const MapFamily &family() const override { return rectanglesFamily(); }
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<RectanglesRequest>(*this);
    }
    std::optional<Phrase> ownRefusal() const override;
    QList<ManifestField> ownColumns() const override
    {
        return {{"min_side", QByteArray::number(minSide), ManifestType::Whole},
                {"max_side", QByteArray::number(maxSide), ManifestType::Whole},
                {"rectangles", {}, ManifestType::LargeWhole}};
    }
    std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const override;

    // About how many rectangles cover every cell of the map: a cell is
    // covered by one rectangle with probability q, the same for every cell
    // (a rectangle of width w starts at any of the columns + w - 1 places
    // that overlap the map, w of which cover a given column), and the last
    // of n cells is covered after about (ln n) / q of them; ten more
    // multiples of 1 / q make running past it a one-in-twenty-thousand event.
    double expectedRectangles() const;
    Rectangle rectangle(const DrawStream &stream, std::uint32_t k) const;
};

double RectanglesRequest::expectedRectangles() const
{
    const auto covered = [this](int side) {
        double sum = 0;
        for (int w = minSide; w <= maxSide; ++w)
            sum += double(w) / double(side + w - 1);
        return sum / double(maxSide - minSide + 1);
    };
    const double q = covered(shape.columns) * covered(shape.rows);
    return (std::log(double(shape.cells())) + 10.0) / -std::log1p(-std::min(q, 0.999999));
}

std::optional<Phrase> RectanglesRequest::ownRefusal() const
{
    if (auto refusal = outsideOption("min_side", minSide, sideLimits))
        return refusal;
    if (auto refusal = outsideOption("max_side", maxSide, sideLimits))
        return refusal;
    if (minSide > maxSide)
        return Phrase::marked(tr("{min-side} (%1) is above {max-side} (%2)"))
            .arg(minSide)
            .arg(maxSide);
    if (const double expected = expectedRectangles(); expected > double(rectangleBound))
        return Phrase::marked(tr("rectangles of %1 to %2 cells a side would take about %3 to "
                                 "cover a map of %4 x %5 cells, more than the %6 a map may "
                                 "take: raise {min-side} or {max-side}"))
            .arg(minSide)
            .arg(maxSide)
            .arg(qint64(expected))
            .arg(shape.rows)
            .arg(shape.columns)
            .arg(rectangleBound);
    return std::nullopt;
}

Rectangle RectanglesRequest::rectangle(const DrawStream &stream, std::uint32_t k) const
{
    const philox::Counter sides = stream.bits(k, 0);
    const philox::Counter place = stream.bits(k, 1);
    const auto word = [](const philox::Counter &bits, int first) {
        return std::uint64_t(bits.v[first]) | std::uint64_t(bits.v[first + 1]) << 32;
    };
    const auto span = std::uint64_t(maxSide - minSide + 1);
    const int width = minSide + int(below(word(sides, 0), span));
    const int height = minSide + int(below(word(sides, 2), span));
    Rectangle r;
    r.left = int(below(word(place, 0), std::uint64_t(shape.columns + width - 1))) - (width - 1);
    r.top = int(below(word(place, 2), std::uint64_t(shape.rows + height - 1))) - (height - 1);
    r.right = std::min(r.left + width - 1, shape.columns - 1);
    r.bottom = std::min(r.top + height - 1, shape.rows - 1);
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    return r;
}

std::optional<QString> RectanglesRequest::draw(const DrawPlace &place, DrawnMap &map) const
{
    const DrawStream stream(std::uint32_t(seed), rectanglesDomain, place);
    const auto cells = std::size_t(shape.cells());
    const auto columns = std::size_t(shape.columns);
    map.classes.clear();
    // Painted in order, each over the ones before, until no cell holds the
    // -1 of a cell not yet covered. Every cell is written about ln(cells)
    // times, in runs of a rectangle's width: cheaper than visiting each
    // cell once through a structure that finds the unpainted ones, whose
    // every step is a miss of the cache.
    map.surface.assign(cells, -1.0);
    qint64 left = qint64(cells);
    std::uint32_t count = 0;
    for (; left > 0 && count < rectangleBound; ++count) {
        const Rectangle r = rectangle(stream, count);
        const double value = stream.uniform(count, 2);
        for (int row = r.top; row <= r.bottom; ++row) {
            double *line = map.surface.data() + std::size_t(row) * columns;
            qint64 fresh = 0;
            for (int c = r.left; c <= r.right; ++c) {
                fresh += line[c] < 0.0;
                line[c] = value;
            }
            left -= fresh;
        }
    }
    if (left > 0)
        return tr("%1 rectangles left %2 cells of a map uncovered").arg(count).arg(left);
    map.parameters = {{"rectangles", QByteArray::number(count), ManifestType::LargeWhole}};
    return std::nullopt;
}

RectanglesRequest &rectanglesOf(FamilyRequest &request)
{
    return static_cast<RectanglesRequest &>(request);
}

class RectanglesFamily final : public DrawnFamily<RectanglesRequest> {
public:
    const char *word() const override { return "rectangles"; }
    QString summary() const override
    {
        return tr("random rectangular clusters: rectangles of random sides painted one over "
                  "the other until they cover the map");
    }
    QString title() const override { return tr("Random rectangle landscapes"); }
    QString menuText() const override { return tr("Random r&ectangles…"); }
    QString description() const override
    {
        return tr("Writes a batch of random rectangular cluster maps: for every cover and\n"
                  "replicate, rectangles with sides drawn uniformly from --min-side to\n"
                  "--max-side, at uniform places that may start outside the map, each with a\n"
                  "uniform value, are painted one over the other until every cell is covered,\n"
                  "and the surface is cut exactly at the cover or into the classes. A map takes\n"
                  "at most %1 rectangles; sides that would need more are refused. The same\n"
                  "seed and values give byte-identical files. Files are named PREFIX + cover\n"
                  "(3 digits) + _ + replicate (5 digits) + .txt (.asc, .tif); the batch list\n"
                  "PREFIX + ListFragStat.fbt and the manifest PREFIX + manifest.csv are written\n"
                  "beside them. The prefix is %2 unless --prefix gives one.")
            .arg(rectangleBound)
            .arg(defaultPrefix());
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 rectangles --out maps --min-side 5 --max-side 30 --cover 20:60:20 --size 200\n"
            "  %1 rectangles --out land --min-side 2 --max-side 12 --proportions 60,30,10\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("RRC_"); }
    QStringList statusColumns() const override
    {
        return {QStringLiteral("min_side"), QStringLiteral("max_side")};
    }

    std::span<const BatchOption> options() const override
    {
        using Request = RectanglesRequest;
        static const BatchOption own[] = {
            {.key = "min_side",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Smallest side of a rectangle, in cells.",
             .field = [](FamilyRequest &r) -> OptionField { return &rectanglesOf(r).minSide; },
             .limits = OptionLimits::of(Request::sideLimits),
             .manifestColumn = "min_side",
             .pilot = true},
            {.key = "max_side",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Largest side of a rectangle, in cells.",
             .field = [](FamilyRequest &r) -> OptionField { return &rectanglesOf(r).maxSide; },
             .limits = OptionLimits::of(Request::sideLimits),
             .manifestColumn = "max_side",
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = rowsWith(
            own, "Also writes the surface every map was cut from (each cell the value of the "
                 "last rectangle painted over it), named as the map with _surface (float32 .tif "
                 "with {format tif}, else an ESRI grid with 7 significant digits).");
        return rows;
    }
};

} // namespace

const MapFamily &rectanglesFamily()
{
    static const RectanglesFamily family;
    return family;
}
