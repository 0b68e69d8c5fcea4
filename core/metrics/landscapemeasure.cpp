// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/landscapemeasure.h"

#include "core/metrics/metricformulas.h"
#include "core/metrics/nearestneighbour.h"

#include <algorithm>
#include <array>
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

    std::int32_t classOf(qint32 code);
    std::int32_t find(std::int32_t label);
    std::int32_t join(std::int32_t a, std::int32_t b);
    void link(Segment &segment, std::int32_t label);
    void cutRow(std::span<const qint32> codes);
    void countRow();
    void sweepRows();
    void keepRuns();
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
    while (parent[std::size_t(label)] != label) {
        parent[std::size_t(label)] = parent[std::size_t(parent[std::size_t(label)])];
        label = parent[std::size_t(label)];
    }
    return label;
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
    m->cutRow(codes);
    m->countRow();
    m->sweepRows();
    m->keepRuns();
    std::swap(m->previous, m->current);
    ++m->rows;
}

void LandscapeMeasurer::addRow(const std::uint8_t *habitat, qint32 matrixCode, qint32 coverCode)
{
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
    State &s = *m;
    for (const Segment &segment : s.previous)
        s.counts.addBorder(segment.cls, segment.end - segment.start + 1);

    // Patches numbered in the order of their first run.
    std::vector<std::int32_t> &patchOfRoot = s.patchOfRoot;
    patchOfRoot.assign(s.parent.size(), -1);
    std::vector<Patch> &patches = s.patches;
    patches.clear();
    std::size_t roots = 0;
    for (std::size_t label = 0; label < s.parent.size(); ++label)
        roots += s.parent[label] == std::int32_t(label);
    patches.reserve(roots);
    for (PatchRun &run : s.runs) {
        const std::int32_t root = s.find(run.patch);
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

    const MetricSelection &selection = s.selection;
    if (selection.has(ClassMetric::GyrateMn) || selection.has(ClassMetric::GyrateAm) ||
        selection.has(LandscapeMetric::GyrateMn))
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

    std::vector<MetricRow> rows =
        metricRows(s.classCodes, s.counts, patches, s.options.cellSize, selection);
    s.reset();
    return rows;
}

std::vector<MetricRow> measureLandscape(std::span<const qint32> codes, int rows, int columns,
                                        const MetricOptions &options,
                                        const MetricSelection &selection)
{
    if (rows <= 0 || columns <= 0)
        return metricRows({}, LandscapeCounts{}, {}, options.cellSize, selection);
    LandscapeMeasurer measurer(columns, options, selection);
    for (int r = 0; r < rows; ++r)
        measurer.addRow(codes.subspan(std::size_t(r) * std::size_t(columns), std::size_t(columns)));
    return measurer.finish();
}
