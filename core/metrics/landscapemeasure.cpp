// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/landscapemeasure.h"

#include "core/metrics/bitrows.h"
#include "core/metrics/metricformulas.h"
#include "core/metrics/nearestneighbour.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <unordered_map>
#include <utility>

namespace {

// A row's longest stretches of one code; class -1 is NoData.
struct Segment {
    std::int32_t start;
    std::int32_t end;
    std::int32_t cls;
    // The patch label of a class's stretch, -1 until it is known.
    std::int32_t label;
    // Sides it shares with cells of its class in the row above.
    std::int32_t inner;
};

// What a patch label adds up; the root of a patch holds the patch's.
struct LabelSums {
    qint64 cells;
    // Sides between two cells of the patch.
    qint64 inner;
    // Twice the sum of the cells' columns, so that every run adds an
    // integer, and the sum of their rows.
    qint64 doubleColumnSum;
    qint64 rowSum;
    std::int32_t cls;
};

// The class of a code is looked up once per run; runs mostly repeat a few
// codes, which a small table keyed by the code's hash answers without the
// map.
constexpr int cacheBits = 6;

std::size_t cacheSlot(qint32 code)
{
    return std::size_t((quint32(code) * 2654435761u) >> (32 - cacheBits));
}

// The set bits of words[] from column `first` to `last`, inclusive.
int countBits(const std::uint64_t *words, std::int32_t first, std::int32_t last)
{
    const auto low = unsigned(first) / bitrows::wordBits;
    const auto high = unsigned(last) / bitrows::wordBits;
    const std::uint64_t fromFirst = ~std::uint64_t(0) << (unsigned(first) % bitrows::wordBits);
    const std::uint64_t toLast = ~std::uint64_t(0) >> (63 - unsigned(last) % bitrows::wordBits);
    if (low == high)
        return std::popcount(words[low] & fromFirst & toLast);
    int count = std::popcount(words[low] & fromFirst) + std::popcount(words[high] & toLast);
    for (unsigned w = low + 1; w < high; ++w)
        count += std::popcount(words[w]);
    return count;
}

} // namespace

struct LandscapeMeasurer::State {
    int columns;
    int reach;
    MetricOptions options;
    MetricSelection selection;

    // Classes by index, in the order their codes were met.
    std::vector<qint32> classCodes;
    std::unordered_map<qint32, std::int32_t> classIndex;
    struct CacheEntry {
        qint32 code = 0;
        std::int32_t index = -1;
    };
    std::array<CacheEntry, std::size_t(1) << cacheBits> cache{};
    LandscapeCounts counts;

    std::vector<Segment> previous;
    std::vector<Segment> current;
    std::vector<std::int32_t> bounds;
    std::vector<qint32> habitatCodes;
    std::int32_t rows = 0;

    // Union-find over patch labels.
    std::vector<std::int32_t> parent;
    std::vector<LabelSums> sums;
    std::vector<PatchRun> runs;
    std::vector<Patch> patches;
    std::vector<std::int32_t> patchOfRoot;
    std::vector<std::int32_t> patchClass;
    NearestNeighbours nearest;

    // A map whose rows come as bytes of two classes (addRow(habitat, ...)):
    // its rows as bits, the matrix first, then the cover; the class index of
    // each, -1 until met; and the cells of each in the last row.
    std::unique_ptr<std::array<bitrows::ClassRows, 2>> bitClasses;
    bool bitRows = false;
    std::array<std::int32_t, 2> bitIndex{-1, -1};
    std::array<qint64, 2> lastRowCells{0, 0};

    std::int32_t classOf(qint32 code);
    std::int32_t find(std::int32_t label);
    std::int32_t join(std::int32_t a, std::int32_t b);
    void link(Segment &segment, std::int32_t label);
    void cutRow(std::span<const qint32> codes);
    void countRow();
    void sweepRows();
    void keepRuns();
    void addBitRow(const std::uint8_t *habitat, qint32 matrixCode, qint32 coverCode);
    void countBitRow(std::array<qint64, 2> cells);
    void linkBitRuns(bitrows::ClassRows &of, std::int32_t cls);
    void keepBitRuns();
    void reset();
};

std::int32_t LandscapeMeasurer::State::classOf(qint32 code)
{
    CacheEntry &entry = cache[cacheSlot(code)];
    if (entry.index >= 0 && entry.code == code)
        return entry.index;
    const auto [at, added] = classIndex.try_emplace(code, std::int32_t(classCodes.size()));
    if (added) {
        classCodes.push_back(code);
        counts.addClass();
    }
    entry = {code, at->second};
    return at->second;
}

// Path halving keeps the trees flat.
std::int32_t LandscapeMeasurer::State::find(std::int32_t label)
{
    return bitrows::findRoot(parent.data(), label);
}

// The older label, the smaller, stays the root: the large patches are
// usually the oldest and are looked up the most.
std::int32_t LandscapeMeasurer::State::join(std::int32_t a, std::int32_t b)
{
    a = find(a);
    b = find(b);
    if (a == b)
        return a;
    const std::int32_t kept = std::min(a, b);
    const std::int32_t merged = std::max(a, b);
    parent[std::size_t(merged)] = kept;
    LabelSums &into = sums[std::size_t(kept)];
    const LabelSums &from = sums[std::size_t(merged)];
    into.cells += from.cells;
    into.inner += from.inner;
    into.doubleColumnSum += from.doubleColumnSum;
    into.rowSum += from.rowSum;
    return kept;
}

void LandscapeMeasurer::State::link(Segment &segment, std::int32_t label)
{
    segment.label = segment.label < 0 ? find(label) : join(segment.label, label);
}

// Cuts a row into segments where the code changes. Where a cell differs
// from the one before it is as random as the map, so every column is
// written and the count moves by the comparison, without a branch.
void LandscapeMeasurer::State::cutRow(std::span<const qint32> codes)
{
    bounds.resize(std::size_t(columns) + 1);
    std::int32_t *out = bounds.data();
    std::size_t count = 1;
    out[0] = 0;
    for (std::int32_t c = 1; c < columns; ++c) {
        out[count] = c;
        count += codes[std::size_t(c)] != codes[std::size_t(c) - 1];
    }
    out[count] = columns;
    current.clear();
    for (std::size_t s = 0; s < count; ++s) {
        const qint32 code = codes[std::size_t(out[s])];
        const std::int32_t cls = options.noData && code == *options.noData ? -1 : classOf(code);
        current.push_back(Segment{out[s], out[s + 1] - 1, cls, -1, 0});
    }
}

// The sides within the row and on its left and right ends.
void LandscapeMeasurer::State::countRow()
{
    const std::size_t count = current.size();
    for (std::size_t s = 0; s < count; ++s) {
        const Segment &segment = current[s];
        if (segment.cls >= 0) {
            const qint64 length = segment.end - segment.start + 1;
            counts.cells[std::size_t(segment.cls)] += length;
            counts.like[std::size_t(segment.cls)] += length - 1;
        }
        if (s > 0)
            counts.addSides(current[s - 1].cls, segment.cls, 1);
    }
    counts.addBorder(current.front().cls, 1);
    counts.addBorder(current.back().cls, 1);
    if (rows == 0) {
        for (const Segment &segment : current)
            counts.addBorder(segment.cls, segment.end - segment.start + 1);
    }
}

// Both rows are partitions of the same columns, so their segments are
// merged like two sorted lists: each step pairs two segments that share
// columns, and moves past the one that ends first. Where both end at the
// same column, the segments after them start together, and the two pairs
// across that column touch only at a corner.
void LandscapeMeasurer::State::sweepRows()
{
    std::size_t i = 0;
    std::size_t j = 0;
    const std::size_t above = previous.size();
    const std::size_t here = current.size();
    while (i < above && j < here) {
        const Segment &up = previous[i];
        Segment &down = current[j];
        const std::int32_t shared = std::min(up.end, down.end) - std::max(up.start, down.start) + 1;
        if (up.cls >= 0 && up.cls == down.cls) {
            counts.like[std::size_t(up.cls)] += shared;
            down.inner += shared;
            link(down, up.label);
        } else {
            counts.addSides(up.cls, down.cls, shared);
        }
        if (up.end < down.end) {
            ++i;
        } else if (down.end < up.end) {
            ++j;
        } else {
            if (reach > 0 && i + 1 < above && j + 1 < here) {
                if (up.cls >= 0 && up.cls == current[j + 1].cls)
                    link(current[j + 1], up.label);
                if (down.cls >= 0 && down.cls == previous[i + 1].cls)
                    link(down, previous[i + 1].label);
            }
            ++i;
            ++j;
        }
    }
}

// New patches for the segments that touch none above, and the sums of the
// row added at the roots.
void LandscapeMeasurer::State::keepRuns()
{
    for (Segment &segment : current) {
        if (segment.cls < 0)
            continue;
        if (segment.label < 0) {
            segment.label = std::int32_t(parent.size());
            parent.push_back(segment.label);
            sums.push_back(LabelSums{0, 0, 0, 0, segment.cls});
        }
        const qint64 length = segment.end - segment.start + 1;
        LabelSums &root = sums[std::size_t(find(segment.label))];
        root.cells += length;
        root.inner += length - 1 + segment.inner;
        root.doubleColumnSum += (qint64(segment.start) + segment.end) * length;
        root.rowSum += qint64(rows) * length;
        runs.push_back(PatchRun{rows, segment.start, segment.end, segment.label});
    }
}

// A row of two classes, measured on bits: the sides between cells are
// counted by comparing words, and the runs of each class are joined with
// those of the row above through the groups they form (bitrows.h), so that
// a random map costs a few operations per run rather than a comparison per
// pair of segments, whose outcome no branch predictor guesses. What is
// counted and kept is what the general path counts and keeps.
void LandscapeMeasurer::State::addBitRow(const std::uint8_t *habitat, qint32 matrixCode,
                                         qint32 coverCode)
{
    if (!bitClasses)
        bitClasses =
            std::make_unique<std::array<bitrows::ClassRows, 2>>(std::array<bitrows::ClassRows, 2>{
                bitrows::ClassRows(columns), bitrows::ClassRows(columns)});
    bitrows::ClassRows &matrix = (*bitClasses)[0];
    bitrows::ClassRows &cover = (*bitClasses)[1];
    const int words = bitrows::wordCount(columns);
    bitrows::pack(habitat, columns, cover.bits.data());
    const std::uint64_t lastWord =
        ~std::uint64_t(0) >>
        ((bitrows::wordBits - columns % bitrows::wordBits) % bitrows::wordBits);
    qint64 coverCells = 0;
    for (int w = 0; w < words; ++w) {
        matrix.bits[std::size_t(w)] =
            ~cover.bits[std::size_t(w)] & (w + 1 < words ? ~std::uint64_t(0) : lastWord);
        coverCells += std::popcount(cover.bits[std::size_t(w)]);
    }
    const std::array<qint64, 2> cells{qint64(columns) - coverCells, coverCells};

    // Classes are numbered in the order their cells are met, as by codes.
    const int first = habitat[0] ? 1 : 0;
    const std::array<qint32, 2> codes{matrixCode, coverCode};
    for (const int k : {first, 1 - first}) {
        if (cells[std::size_t(k)] > 0 && bitIndex[std::size_t(k)] < 0)
            bitIndex[std::size_t(k)] = classOf(codes[std::size_t(k)]);
    }

    countBitRow(cells);
    linkBitRuns(matrix, bitIndex[0]);
    linkBitRuns(cover, bitIndex[1]);
    keepBitRuns();
    for (bitrows::ClassRows &of : *bitClasses)
        of.advance();
    lastRowCells = cells;
}

void LandscapeMeasurer::State::countBitRow(std::array<qint64, 2> cells)
{
    const std::vector<std::uint64_t> &here = (*bitClasses)[1].bits;
    const std::vector<std::uint64_t> &above = (*bitClasses)[1].previousBits;
    const auto words = std::size_t(bitrows::wordCount(columns));
    // Cell c and cell c + 1 for every c but the last column.
    qint64 coverPairs = 0;
    qint64 mixedPairs = 0;
    for (std::size_t w = 0; w < words; ++w) {
        const std::uint64_t right = (here[w] >> 1) | (w + 1 < words ? here[w + 1] << 63 : 0);
        const std::int32_t last = columns - 1 - std::int32_t(w) * bitrows::wordBits;
        const std::uint64_t pairs =
            last >= bitrows::wordBits ? ~std::uint64_t(0) : (std::uint64_t(1) << last) - 1;
        coverPairs += std::popcount(here[w] & right & pairs);
        mixedPairs += std::popcount((here[w] ^ right) & pairs);
    }
    qint64 coverAbove = 0;
    qint64 mixedAbove = 0;
    if (rows > 0) {
        for (std::size_t w = 0; w < words; ++w) {
            coverAbove += std::popcount(here[w] & above[w]);
            mixedAbove += std::popcount(here[w] ^ above[w]);
        }
    }
    const std::int32_t matrixIndex = bitIndex[0];
    const std::int32_t coverIndex = bitIndex[1];
    if (cells[1] > 0) {
        counts.cells[std::size_t(coverIndex)] += cells[1];
        counts.like[std::size_t(coverIndex)] += coverPairs + coverAbove;
    }
    if (cells[0] > 0) {
        const qint64 matrixPairs = columns - 1 - coverPairs - mixedPairs;
        const qint64 matrixAbove = rows > 0 ? columns - coverAbove - mixedAbove : 0;
        counts.cells[std::size_t(matrixIndex)] += cells[0];
        counts.like[std::size_t(matrixIndex)] += matrixPairs + matrixAbove;
    }
    if (mixedPairs + mixedAbove > 0)
        counts.addSides(matrixIndex, coverIndex, mixedPairs + mixedAbove);
    const auto classAt = [&](std::int32_t column) {
        return bitIndex[std::size_t(
            (here[std::size_t(column) / bitrows::wordBits] >> (column % bitrows::wordBits)) & 1)];
    };
    counts.addBorder(classAt(0), 1);
    counts.addBorder(classAt(columns - 1), 1);
    if (rows == 0) {
        for (int k = 0; k < 2; ++k) {
            if (cells[std::size_t(k)] > 0)
                counts.addBorder(bitIndex[std::size_t(k)], cells[std::size_t(k)]);
        }
    }
}

// The runs of one class: those above are joined through their groups, then
// each run here takes the patch of its group, or a new one.
void LandscapeMeasurer::State::linkBitRuns(bitrows::ClassRows &of, std::int32_t cls)
{
    of.findRunsAndGroups(reach > 0);
    if (of.count == 0 && of.previousCount == 0)
        return;
    of.linkRuns(parent, [this](std::int32_t a, std::int32_t b) { return join(a, b); });
    sums.resize(parent.size(), LabelSums{0, 0, 0, 0, cls});
}

// The sums of the row's runs at their roots, and the runs in the order of
// the map: in a row of two classes the runs of the two take turns.
void LandscapeMeasurer::State::keepBitRuns()
{
    bitrows::ClassRows &matrix = (*bitClasses)[0];
    bitrows::ClassRows &cover = (*bitClasses)[1];
    // Cells of a run's class right above its own: sides inside its patch.
    for (bitrows::ClassRows *of : {&matrix, &cover}) {
        std::uint64_t *same = of->previousBits.data();
        for (std::size_t w = 0; w < of->bits.size(); ++w)
            same[w] &= of->bits[w];
        for (int i = 0; i < of->count; ++i) {
            const std::int32_t s = of->start[std::size_t(i)];
            const std::int32_t e = of->end[std::size_t(i)];
            const qint64 length = e - s + 1;
            LabelSums &root = sums[std::size_t(of->patch[std::size_t(i)])];
            root.cells += length;
            root.inner += length - 1 + (rows > 0 ? countBits(same, s, e) : 0);
            root.doubleColumnSum += (qint64(s) + e) * length;
            root.rowSum += qint64(rows) * length;
        }
    }
    bitrows::ClassRows *turn = (cover.count > 0 && cover.start[0] == 0) ? &cover : &matrix;
    bitrows::ClassRows *other = turn == &cover ? &matrix : &cover;
    for (int i = 0; i < turn->count; ++i) {
        runs.push_back(PatchRun{rows, turn->start[std::size_t(i)], turn->end[std::size_t(i)],
                                turn->patch[std::size_t(i)]});
        if (i < other->count)
            runs.push_back(PatchRun{rows, other->start[std::size_t(i)], other->end[std::size_t(i)],
                                    other->patch[std::size_t(i)]});
    }
}

void LandscapeMeasurer::State::reset()
{
    classCodes.clear();
    classIndex.clear();
    cache.fill(CacheEntry{});
    counts.clear();
    previous.clear();
    current.clear();
    rows = 0;
    parent.clear();
    sums.clear();
    runs.clear();
    if (bitClasses) {
        for (bitrows::ClassRows &of : *bitClasses)
            of.clear();
    }
    bitRows = false;
    bitIndex = {-1, -1};
    lastRowCells = {0, 0};
}

LandscapeMeasurer::LandscapeMeasurer(int columns, const MetricOptions &options,
                                     const MetricSelection &selection)
    : m(std::make_unique<State>())
{
    Q_ASSERT(columns > 0);
    Q_ASSERT(options.neighbours == 4 || options.neighbours == 8);
    Q_ASSERT(options.cellSize > 0);
    m->columns = columns;
    m->reach = options.neighbours == 8 ? 1 : 0;
    m->options = options;
    m->selection = selection;
}

LandscapeMeasurer::~LandscapeMeasurer() = default;

void LandscapeMeasurer::addRow(std::span<const qint32> codes)
{
    Q_ASSERT(codes.size() == std::size_t(m->columns));
    Q_ASSERT(!m->bitRows);
    m->cutRow(codes);
    m->countRow();
    m->sweepRows();
    m->keepRuns();
    std::swap(m->previous, m->current);
    ++m->rows;
}

void LandscapeMeasurer::addRow(const std::uint8_t *habitat, qint32 matrixCode, qint32 coverCode)
{
    // Two distinct classes, neither of them NoData, are measured on bits;
    // anything else as the codes it stands for.
    const std::optional<qint32> &noData = m->options.noData;
    if (matrixCode != coverCode && noData != matrixCode && noData != coverCode &&
        (m->rows == 0 || m->bitRows)) {
        m->bitRows = true;
        m->addBitRow(habitat, matrixCode, coverCode);
        ++m->rows;
        return;
    }
    std::vector<qint32> &codes = m->habitatCodes;
    codes.resize(std::size_t(m->columns));
    for (std::size_t c = 0; c < codes.size(); ++c)
        codes[c] = habitat[c] ? coverCode : matrixCode;
    addRow(codes);
}

qint64 LandscapeMeasurer::classCount() const
{
    return qint64(m->classCodes.size());
}

std::vector<MetricRow> LandscapeMeasurer::finish()
{
    return finishMap(std::nullopt).rows;
}

MeasuredMap LandscapeMeasurer::finishWithHabitat(qint32 habitatCode)
{
    return finishMap(habitatCode);
}

MeasuredMap LandscapeMeasurer::finishMap(std::optional<qint32> habitatCode)
{
    State &s = *m;
    for (const Segment &segment : s.previous)
        s.counts.addBorder(segment.cls, segment.end - segment.start + 1);
    if (s.bitRows) {
        for (std::size_t k = 0; k < 2; ++k) {
            if (s.lastRowCells[k] > 0)
                s.counts.addBorder(s.bitIndex[k], s.lastRowCells[k]);
        }
    }

    // Patches numbered in the order of their first run.
    std::vector<std::int32_t> &patchOfRoot = s.patchOfRoot;
    patchOfRoot.assign(s.parent.size(), -1);
    std::vector<Patch> &patches = s.patches;
    patches.clear();
    // A label's parent is never a later label (joins keep the older root),
    // so one pass from the first label points every label at its root.
    std::size_t roots = 0;
    std::int32_t *parent = s.parent.data();
    for (std::size_t label = 0; label < s.parent.size(); ++label) {
        parent[label] = parent[parent[label]];
        roots += parent[label] == std::int32_t(label);
    }
    patches.reserve(roots);
    for (PatchRun &run : s.runs) {
        const std::int32_t root = parent[run.patch];
        std::int32_t &patch = patchOfRoot[std::size_t(root)];
        if (patch < 0) {
            patch = std::int32_t(patches.size());
            const LabelSums &sums = s.sums[std::size_t(root)];
            Patch made;
            made.cls = sums.cls;
            made.cells = sums.cells;
            made.perimeter = 4 * sums.cells - 2 * sums.inner;
            made.centreColumn = double(sums.doubleColumnSum) / (2.0 * double(sums.cells));
            made.centreRow = double(sums.rowSum) / double(sums.cells);
            patches.push_back(made);
        }
        run.patch = patch;
    }

    // The accumulator counts every cell that is not habitat as matrix, and
    // every side between the two as edge.
    qint64 cells = 0;
    for (const qint64 n : s.counts.cells)
        cells += n;
    const qint64 mapCells = qint64(s.rows) * s.columns;
    const bool habitatAsked = habitatCode && s.classCodes.size() <= 2 && cells == mapCells;

    const MetricSelection &selection = s.selection;
    if (habitatAsked || selection.has(ClassMetric::GyrateMn) ||
        selection.has(ClassMetric::GyrateAm) || selection.has(LandscapeMetric::GyrateMn))
        addGyration(s.runs, patches, s.options.cellSize);
    if (selection.has(ClassMetric::EnnMn) || selection.has(LandscapeMetric::EnnMn)) {
        std::vector<std::int32_t> &patchClass = s.patchClass;
        patchClass.resize(patches.size());
        for (std::size_t p = 0; p < patches.size(); ++p)
            patchClass[p] = patches[p].cls;
        const std::span<const std::int64_t> squares =
            s.nearest.squares(s.runs, patchClass, int(s.classCodes.size()), s.options.neighbours);
        for (std::size_t p = 0; p < patches.size(); ++p)
            patches[p].nearestSquare = squares[p];
    }

    MeasuredMap measured;
    if (habitatAsked) {
        // The patches in the order of their first runs, the order of the
        // accumulator's labels.
        HabitatSums sums;
        const auto cls = s.classIndex.find(*habitatCode);
        if (cls != s.classIndex.end()) {
            const std::int32_t habitat = cls->second;
            sums.habitatCells = s.counts.cells[std::size_t(habitat)];
            sums.edges = s.counts.unlike[std::size_t(habitat)];
            for (const Patch &patch : patches) {
                if (patch.cls != habitat)
                    continue;
                ++sums.patchCount;
                sums.largestArea = std::max(sums.largestArea, patch.cells);
                sums.areaSquareSum += double(patch.cells) * double(patch.cells);
                sums.distanceSum += patch.centroidDistances;
            }
        }
        measured.habitat = landscapeMetrics(sums, double(mapCells), s.options.cellSize);
    }
    measured.rows = metricRows(s.classCodes, s.counts, patches, s.options.cellSize, selection);
    s.reset();
    return measured;
}

namespace {

// The two codes of a map that holds no other, neither of them NoData: the
// first cell's and the other.
std::optional<std::pair<qint32, qint32>> twoCodes(std::span<const qint32> codes,
                                                  std::optional<qint32> noData)
{
    const qint32 first = codes.front();
    const auto other =
        std::find_if(codes.begin(), codes.end(), [first](qint32 code) { return code != first; });
    if (other == codes.end())
        return std::nullopt;
    const qint32 second = *other;
    if (noData == first || noData == second)
        return std::nullopt;
    // Without a branch per cell: on a random map a branch on the code would
    // go wrong at every other cell.
    bool onlyTwo = true;
    for (auto at = other; at != codes.end(); ++at)
        onlyTwo &= (*at == first) | (*at == second);
    if (!onlyTwo)
        return std::nullopt;
    return std::pair{first, second};
}

std::optional<std::vector<MetricRow>> measureWhole(std::span<const qint32> codes, int rows,
                                                   int columns, const MetricOptions &options,
                                                   const MetricSelection &selection,
                                                   qint64 mostClasses)
{
    if (rows <= 0 || columns <= 0)
        return metricRows({}, LandscapeCounts{}, {}, options.cellSize, selection);
    LandscapeMeasurer measurer(columns, options, selection);
    const auto row = [&](int r) {
        return codes.subspan(std::size_t(r) * std::size_t(columns), std::size_t(columns));
    };
    if (const std::optional<std::pair<qint32, qint32>> two = twoCodes(codes, options.noData)) {
        const auto width = std::size_t(columns);
        std::vector<std::uint8_t> bytes(width);
        for (int r = 0; r < rows; ++r) {
            std::transform(row(r).begin(), row(r).end(), bytes.begin(),
                           [code = two->second](qint32 cell) { return cell == code; });
            measurer.addRow(bytes.data(), two->first, two->second);
        }
        return measurer.finish();
    }
    for (int r = 0; r < rows; ++r) {
        measurer.addRow(row(r));
        if (measurer.classCount() > mostClasses)
            return std::nullopt;
    }
    return measurer.finish();
}

} // namespace

std::vector<MetricRow> measureLandscape(std::span<const qint32> codes, int rows, int columns,
                                        const MetricOptions &options,
                                        const MetricSelection &selection)
{
    return *measureWhole(codes, rows, columns, options, selection,
                         std::numeric_limits<qint64>::max());
}

std::optional<std::vector<MetricRow>> measureClassMap(std::span<const qint32> codes, int rows,
                                                      int columns, const MetricOptions &options,
                                                      const MetricSelection &selection)
{
    return measureWhole(codes, rows, columns, options, selection, maxMeasuredClasses);
}
