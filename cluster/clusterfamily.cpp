// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/clusterfamily.h"

#include "core/batch/classcut.h"
#include "core/batch/drawnfamily.h"
#include "core/batch/requestchecks.h"
#include "core/grid/nearestsource.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ClusterFamily", text);
}

// A cluster map's draws (core/batch/drawnfamily.h). Elements are cells in
// row-major order (four to an element for the marks); a cluster is drawn
// for at its first cell.
constexpr philox::Domain clusterDomain{0x4Bu};
enum Purpose : std::uint32_t {
    // Whether the cell is marked: element i / 4, word i % 4, so that a
    // draw marks four cells.
    Mark = 0,
    // The cluster's class or value (words 0-1), drawn at its first cell.
    ClusterDraw = 1,
    // The class of a cell with no marked neighbour (words 0-1).
    LoneCell = 2,
    // Which of the tied classes a cell takes (words 0-1).
    Tie = 3,
};

enum class Neighbourhood { Four, Eight, Diagonal };
enum class Fill { Majority, Nearest };

constexpr ChoiceWord neighbourhoodWords[] = {
    {"4", int(Neighbourhood::Four), QT_TRANSLATE_NOOP("ClusterFamily", "4 (sides)")},
    {"8", int(Neighbourhood::Eight), QT_TRANSLATE_NOOP("ClusterFamily", "8 (sides and corners)")},
    {"diagonal", int(Neighbourhood::Diagonal),
     QT_TRANSLATE_NOOP("ClusterFamily", "Diagonal (sides, upper right and lower left)")},
};
constexpr ChoiceWord fillWords[] = {
    {"majority", int(Fill::Majority), QT_TRANSLATE_NOOP("ClusterFamily", "Majority of neighbours")},
    {"nearest", int(Fill::Nearest), QT_TRANSLATE_NOOP("ClusterFamily", "Nearest cluster, exact")},
};
constexpr ChoiceWord markWords[] = {
    {"draw", int(FractalCut::Ladder), QT_TRANSLATE_NOOP("ClusterFamily", "Draw each cell")},
    {"exact", int(FractalCut::Exact), QT_TRANSLATE_NOOP("ClusterFamily", "Exact count")},
};

// The marked cells' clusters as a forest over cell indices: every marked
// cell points at a smaller index of its cluster, or at itself for the
// cluster's first cell in row-major order, which names the cluster.
class ClusterForest {
public:
    explicit ClusterForest(std::uint32_t *parent)
        : m_parent(parent)
    {}
    std::uint32_t find(std::uint32_t cell)
    {
        while (m_parent[cell] != cell) {
            m_parent[cell] = m_parent[m_parent[cell]];
            cell = m_parent[cell];
        }
        return cell;
    }
    void join(std::uint32_t a, std::uint32_t b)
    {
        a = find(a);
        b = find(b);
        if (a != b)
            m_parent[std::max(a, b)] = std::min(a, b);
    }

private:
    std::uint32_t *m_parent;
};

struct ClusterRequest final : DrawnRequest {
    static constexpr HundredthsLimits pLimits{0.0, 1.0};
    static constexpr HundredthsLimits pStepLimits{0.01, 1.0};

    // One p, shown as the one value it is rather than as a sweep.
    HurstRange p = [] {
        HurstRange one;
        one.listed = {0.5};
        return one;
    }();
    Neighbourhood neighbourhood = Neighbourhood::Four;
    Fill fill = Fill::Majority;
    FractalCut mark = FractalCut::Ladder;

    const MapFamily &family() const override { return clusterFamily(); }
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<ClusterRequest>(*this);
    }
    const HurstRange *sweep() const override { return &p; }
    QString sweepName() const override { return QStringLiteral("p"); }
    bool drawsClasses() const override { return fill == Fill::Majority; }
    std::optional<Phrase> ownRefusal() const override
    {
        // A probability first, in the words of one: the sweep's own checks
        // then speak of its order and step.
        std::vector<double> given = p.listed;
        if (given.empty())
            given = {p.first, p.last};
        for (const double value : given)
            if (!pLimits.contains(value))
                return Phrase::marked(tr("{p} %1 is not a probability: p lies between 0 and 1"))
                    .arg(QString::number(value));
        if (auto refusal =
                decimalSweepRefusal(p, QStringLiteral("p"), pLimits, pLimits, pStepLimits))
            return Phrase(*refusal);
        return std::nullopt;
    }
    QList<ManifestField> ownColumns() const override
    {
        return {{"p", {}, ManifestType::Measure},
                {"neighbourhood", choiceWord(neighbourhoodWords, int(neighbourhood)).toLatin1(),
                 ManifestType::Text},
                {"fill", choiceWord(fillWords, int(fill)).toLatin1(), ManifestType::Text},
                {"cut", choiceWord(markWords, int(mark)).toLatin1(), ManifestType::Text},
                {"marked_cells", {}, ManifestType::LargeWhole},
                {"clusters", {}, ManifestType::LargeWhole}};
    }
    std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const override;

private:
    qint64 markCells(const DrawStream &stream, int hundredths, std::uint32_t *parent) const;
    void majorityFill(const DrawStream &stream, const std::vector<double> &shares,
                      const std::uint32_t *parent, DrawnMap &map) const;
};

// Marks the cells of step A, each marked one pointing at itself, the rest
// at noSource; gives how many are marked.
qint64 ClusterRequest::markCells(const DrawStream &stream, int hundredths,
                                 std::uint32_t *parent) const
{
    const auto cells = std::size_t(shape.cells());
    const std::uint8_t *in = inside();
    // A cell's draw is word i % 4 of element i / 4, drawn a chunk at a time.
    constexpr std::size_t chunk = 4096;
    std::vector<std::uint32_t> words(chunk);
    const auto forEachWord = [&](auto visit) {
        for (std::size_t begin = 0; begin < cells; begin += chunk) {
            const std::size_t n = std::min(chunk, cells - begin);
            stream.words(std::uint32_t(begin / 4), (n + 3) / 4, Mark, words.data());
            for (std::size_t j = 0; j < n; ++j)
                visit(begin + j, words[j]);
        }
    };
    qint64 marked = 0;
    if (mark == FractalCut::Ladder) {
        // A cell is marked when its word falls below p x 2^32: with
        // probability p, to 2^-32; p = 1 marks every cell.
        const std::uint64_t threshold = (std::uint64_t(hundredths) << 32) / 100;
        forEachWord([&](std::size_t i, std::uint32_t word) {
            const bool take = (!in || in[i]) && word < threshold;
            parent[i] = take ? std::uint32_t(i) : nearestsource::noSource;
            marked += take ? 1 : 0;
        });
        return marked;
    }
    // Exactly round(p x cells) of the valid cells, those of the lowest
    // words (equal words to the cell first in row-major order): the top 16
    // bits of every word counted first, so that only the cells of the one
    // bucket the count ends in need ordering.
    const qint64 valid = validCells();
    const qint64 wanted = (qint64(hundredths) * valid * 2 + 100) / 200;
    std::vector<qint64> buckets(65536, 0);
    forEachWord([&](std::size_t i, std::uint32_t word) {
        if (!in || in[i])
            ++buckets[word >> 16];
    });
    qint64 before = 0;
    std::uint32_t last = 0;
    while (last < buckets.size() && before + buckets[last] <= wanted)
        before += buckets[last++];
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edge;
    forEachWord([&](std::size_t i, std::uint32_t word) {
        parent[i] = nearestsource::noSource;
        if (in && !in[i])
            return;
        if (word >> 16 < last)
            parent[i] = std::uint32_t(i);
        else if (word >> 16 == last)
            edge.emplace_back(word, std::uint32_t(i));
    });
    const auto taken = std::size_t(wanted - before);
    std::nth_element(edge.begin(), edge.begin() + std::ptrdiff_t(taken), edge.end());
    for (std::size_t e = 0; e < taken; ++e)
        parent[edge[e].second] = edge[e].second;
    return wanted;
}

// The marked neighbours of class k of a row's cells, from the rows above
// (a), of (b) and below (d) it with their borders, into n; most, best and
// tied keep each cell's largest count so far, its first class and how many
// classes have it. Restricted pointers and masks rather than branches, so
// that the compiler makes vector code of it: bytes may otherwise alias
// anything.
void countClass(const std::uint8_t *__restrict a, const std::uint8_t *__restrict b,
                const std::uint8_t *__restrict d, std::uint8_t k, std::size_t columns,
                std::uint8_t *__restrict n, std::uint8_t *__restrict most,
                std::uint8_t *__restrict best, std::uint8_t *__restrict tied)
{
    for (std::size_t c = 0; c < columns; ++c) {
        const auto here =
            std::uint8_t((a[c] == k) + (a[c + 1] == k) + (a[c + 2] == k) + (b[c] == k) +
                         (b[c + 2] == k) + (d[c] == k) + (d[c + 1] == k) + (d[c + 2] == k));
        n[c] = here;
        const std::uint8_t before = most[c];
        const auto take = std::uint8_t(-std::uint8_t(here > before));
        const auto same = std::uint8_t(here == before);
        tied[c] = std::uint8_t((1 & take) | ((tied[c] + same) & ~take));
        best[c] = std::uint8_t((k & take) | (best[c] & ~take));
        most[c] = std::uint8_t((here & take) | (before & ~take));
    }
}

// Step D: every cell left unmarked takes the class most common among its
// eight neighbours that were marked, ties broken by a draw, and a cell with
// no marked neighbour is drawn with the shares. The marked cells' classes
// are read from a copy with a border of unmarked cells, so that a filled
// cell never counts as marked and no neighbour needs a bounds check.
void ClusterRequest::majorityFill(const DrawStream &stream, const std::vector<double> &shares,
                                  const std::uint32_t *parent, DrawnMap &map) const
{
    const int rows = shape.rows;
    const int columns = shape.columns;
    const auto C = std::size_t(columns);
    const std::uint8_t *in = inside();
    const ClassDraw classDraw(shares);
    constexpr std::uint8_t unmarked = 0xFE;
    std::uint8_t *classes = map.classes.data();
    const std::size_t width = C + 2;
    std::vector<std::uint8_t> marked((std::size_t(rows) + 2) * width, unmarked);
    for (std::size_t r = 0; r < std::size_t(rows); ++r) {
        std::uint8_t *line = classes + r * C;
        std::uint8_t *copy = marked.data() + (r + 1) * width + 1;
        for (std::size_t c = 0; c < C; ++c) {
            const std::size_t i = r * C + c;
            const std::uint32_t root = parent[i];
            std::uint8_t klass = root == nearestsource::noSource ? unmarked : classes[root];
            if (root == i)
                klass = std::uint8_t(classDraw.classOf(stream.word64(root, ClusterDraw)));
            if (in && !in[i])
                klass = outsideClass;
            line[c] = klass;
            copy[c] = klass == outsideClass ? unmarked : klass;
        }
    }
    // Each row's counts first, class by class over whole rows, which the
    // compiler makes vector code of; then a cell is filled with the class
    // alone of most marked neighbours, and only ties and lone cells draw.
    const int classCount = int(shares.size());
    std::vector<std::uint8_t> count(std::size_t(classCount) * C);
    std::vector<std::uint8_t> most(C);
    std::vector<std::uint8_t> best(C);
    std::vector<std::uint8_t> tied(C);
    for (std::size_t r = 0; r < std::size_t(rows); ++r) {
        const std::uint8_t *a = marked.data() + r * width;
        const std::uint8_t *b = a + width;
        const std::uint8_t *d = b + width;
        std::fill(most.begin(), most.end(), 0);
        std::fill(best.begin(), best.end(), 0);
        std::fill(tied.begin(), tied.end(), 0);
        for (int k = 0; k < classCount; ++k)
            countClass(a, b, d, std::uint8_t(k), C, count.data() + std::size_t(k) * C, most.data(),
                       best.data(), tied.data());
        std::uint8_t *line = classes + r * C;
        for (std::size_t c = 0; c < C; ++c) {
            if (line[c] != unmarked)
                continue;
            if (most[c] > 0 && tied[c] == 1) {
                line[c] = best[c];
                continue;
            }
            const auto i = std::uint32_t(r * C + c);
            if (most[c] == 0) {
                line[c] = std::uint8_t(classDraw.classOf(stream.word64(i, LoneCell)));
                continue;
            }
            // The tied classes in order of class, so that the draw does not
            // depend on the order the neighbours were met.
            const auto pick = int(below(stream.word64(i, Tie), tied[c]));
            for (int k = 0, seen = 0; k < classCount; ++k)
                if (count[std::size_t(k) * C + c] == most[c] && seen++ == pick) {
                    line[c] = std::uint8_t(k);
                    break;
                }
        }
    }
}

std::optional<QString> ClusterRequest::draw(const DrawPlace &place, DrawnMap &map) const
{
    const DrawStream stream(std::uint32_t(seed), clusterDomain, place);
    const int rows = shape.rows;
    const int columns = shape.columns;
    const auto cells = std::size_t(shape.cells());
    const int hundredths = int(std::lround(place.axis * 100.0));
    auto &parent = map.cellIndex;
    parent.resize(cells);
    const qint64 marked = markCells(stream, hundredths, parent.data());

    // Step B: the marked cells joined to their marked neighbours met before
    // them in row-major order; every cluster ends named by its first cell.
    ClusterForest forest(parent.data());
    const auto C = std::uint32_t(columns);
    const bool corners = neighbourhood == Neighbourhood::Eight;
    const bool upperRight = neighbourhood != Neighbourhood::Four;
    const auto isMarked = [&parent](std::uint32_t cell) {
        return parent[cell] != nearestsource::noSource;
    };
    // A marked cell above joins the cell to its cluster, which already
    // holds the corners beside that cell; only without one do the upper
    // corners count on their own, and the left cell already holds the
    // upper left corner.
    for (std::uint32_t r = 0; r < std::uint32_t(rows); ++r)
        for (std::uint32_t c = 0; c < C; ++c) {
            const std::uint32_t i = r * C + c;
            if (!isMarked(i))
                continue;
            const bool left = c > 0 && isMarked(i - 1);
            const bool up = r > 0 && isMarked(i - C);
            if (up) {
                parent[i] = parent[i - C];
                if (left && parent[i - 1] != parent[i])
                    forest.join(i - 1, i - C);
                continue;
            }
            parent[i] = left ? parent[i - 1] : i;
            if (r == 0)
                continue;
            if (corners && !left && c > 0 && isMarked(i - C - 1))
                forest.join(i, i - C - 1);
            if (upperRight && c + 1 < C && isMarked(i - C + 1))
                forest.join(i, i - C + 1);
        }
    // Parents point at smaller indices, so one pass in order leaves every
    // marked cell pointing at its cluster's first cell.
    qint64 clusters = 0;
    for (std::size_t i = 0; i < cells; ++i) {
        const std::uint32_t next = parent[i];
        if (next == nearestsource::noSource)
            continue;
        parent[i] = parent[next];
        clusters += parent[i] == i ? 1 : 0;
    }
    map.parameters = {
        {"p", QByteArray::number(place.axis, 'f', 2), ManifestType::Measure},
        {"marked_cells", QByteArray::number(marked), ManifestType::LargeWhole},
        {"clusters", QByteArray::number(clusters), ManifestType::LargeWhole},
    };

    // The clusters' values: the surface of a nearest fill, and what a
    // majority fill's classes were drawn from.
    const bool surface = fill == Fill::Nearest || map.wantSurface;
    if (surface) {
        map.surface.resize(cells);
        for (std::size_t i = 0; i < cells; ++i) {
            if (parent[i] == nearestsource::noSource)
                map.surface[i] = -1.0;
            else if (parent[i] == i)
                map.surface[i] =
                    double(stream.word64(std::uint32_t(i), ClusterDraw) >> 11) * 0x1.0p-53;
            else
                map.surface[i] = map.surface[parent[i]];
        }
    } else {
        map.surface.clear();
    }
    if (fill == Fill::Majority) {
        map.classes.resize(cells);
        majorityFill(stream, sharesAt(place.cover), parent.data(), map);
        return std::nullopt;
    }
    map.classes.clear();
    // Nearest fill: every cell the value of its nearest marked cell (ties
    // to the first in row-major order); a map with no marked cell gives
    // every cell a value of its own.
    if (marked == 0) {
        for (std::size_t i = 0; i < cells; ++i)
            map.surface[i] = double(stream.word64(std::uint32_t(i), ClusterDraw) >> 11) * 0x1.0p-53;
        return std::nullopt;
    }
    for (std::size_t i = 0; i < cells; ++i)
        if (parent[i] != nearestsource::noSource)
            parent[i] = std::uint32_t(i);
    nearestsource::transform(parent.data(), rows, columns);
    for (std::size_t i = 0; i < cells; ++i)
        map.surface[i] = map.surface[parent[i]];
    return std::nullopt;
}

ClusterRequest &clusterOf(FamilyRequest &request)
{
    return static_cast<ClusterRequest &>(request);
}

class ClusterFamily final : public DrawnFamily<ClusterRequest> {
public:
    const char *word() const override { return "cluster"; }
    QString summary() const override
    {
        return tr("random cluster maps: marked cells joined into clusters of one class each, "
                  "the cells between filled from their neighbours");
    }
    QString title() const override { return tr("Random cluster landscapes"); }
    QString menuText() const override { return tr("Random &cluster…"); }
    QString description() const override
    {
        return tr("Writes a batch of random cluster maps (Saura and Martinez-Millan 2000): for\n"
                  "every p, cover and replicate, each cell is marked with probability p (or\n"
                  "exactly round(p x cells) of them with --cut exact); the marked cells are\n"
                  "joined into clusters by --neighbourhood; each cluster takes a class drawn\n"
                  "with the cover (or the proportions); every unmarked cell then takes the\n"
                  "class most common among its eight marked neighbours, or with --fill nearest\n"
                  "the value of its nearest cluster, whose surface is cut exactly. The same\n"
                  "seed and values give byte-identical files. Files are named PREFIX + p + p\n"
                  "(two decimals) + _ + cover (3 digits) + _ + replicate (5 digits) + .txt\n"
                  "(.asc, .tif); the batch list PREFIX + ListFragStat.fbt and the manifest\n"
                  "PREFIX + manifest.csv are written beside them. The prefix is %1 unless\n"
                  "--prefix gives one.")
            .arg(defaultPrefix());
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 cluster --out maps --p 0.3:0.6:0.1 --cover 30 --size 200 --replicates 10\n"
            "  %1 cluster --out land --p 0.55 --neighbourhood 8 --proportions 40,40,20\n"
            "  %1 cluster --out exact --p 0.5 --fill nearest --cover 20:60:20 --metrics\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("RCL_"); }
    QStringList statusColumns() const override
    {
        return {QStringLiteral("p"), QStringLiteral("neighbourhood"), QStringLiteral("fill")};
    }

    std::span<const BatchOption> options() const override
    {
        using Request = ClusterRequest;
        static const BatchOption own[] = {
            {.key = "p",
             .type = OptionType::HurstSweep,
             .scope = OptionScope::Maps,
             .valueName = "FIRST:LAST:STEP",
             .help = "Probability that a cell is marked (step A), with at most two decimals; "
                     "one map per p, cover and replicate.",
             .field = [](FamilyRequest &r) -> OptionField { return &clusterOf(r).p; },
             .limits =
                 OptionLimits::sweep(Request::pLimits, Request::pLimits, Request::pStepLimits),
             .manifestColumn = "p",
             .pilot = true},
            {.key = "neighbourhood",
             .type = OptionType::Choice,
             .scope = OptionScope::Maps,
             .valueName = "WHICH",
             .help = "Which marked cells join one cluster: 4 (those sharing a side), 8 (a side "
                     "or a corner) or diagonal (a side, or the upper right or lower left "
                     "corner).",
             .field = [](FamilyRequest &r) -> OptionField {
                 return choiceField(&clusterOf(r).neighbourhood);
             },
             .manifestColumn = "neighbourhood",
             .choices = neighbourhoodWords,
             .pilot = true},
            {.key = "fill",
             .type = OptionType::Choice,
             .scope = OptionScope::Maps,
             .valueName = "HOW",
             .help = "How unmarked cells are filled: majority (the class most common among "
                     "their eight marked neighbours, ties drawn; cells with none are drawn with "
                     "the shares, which the classes then hold only on average) or nearest (the "
                     "value of the nearest marked cell, the surface then cut exactly, so that "
                     "the shares hold to the cell).",
             .field = [](FamilyRequest &r) -> OptionField {
                 return choiceField(&clusterOf(r).fill);
             },
             .manifestColumn = "fill",
             .choices = fillWords,
             .pilot = true},
            {.key = "cut",
             .type = OptionType::Choice,
             .scope = OptionScope::Maps,
             .valueName = "HOW",
             .help = "How cells are marked: draw (each with probability p) or exact (exactly "
                     "round(p x cells) of them).",
             .field = [](FamilyRequest &r) -> OptionField {
                 return choiceField(&clusterOf(r).mark);
             },
             .manifestColumn = "cut",
             .choices = markWords,
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = rowsWith(
            own, "Also writes the values every map was made from, named as the map with "
                 "_surface (float32 .tif with {format tif}, else an ESRI grid with 7 "
                 "significant digits): with {fill nearest} the surface it was cut from, with "
                 "majority fill each marked cell's cluster value and -1 where no cell was "
                 "marked.");
        return rows;
    }
    const NameScheme &names() const override
    {
        static const DrawnNames names("p");
        return names;
    }
};

} // namespace

const MapFamily &clusterFamily()
{
    static const ClusterFamily family;
    return family;
}
