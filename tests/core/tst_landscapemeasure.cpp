// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapreader.h"
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/landscapemetrics.h"
#include "core/metrics/metricscsv.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <tuple>
#include <vector>

namespace {

using Key = std::tuple<QString, qint32, QString>;

std::map<Key, double> byKey(const std::vector<MetricRow> &rows)
{
    std::map<Key, double> values;
    for (const MetricRow &row : rows)
        values[{QLatin1String(levelName(row.level)), row.classCode, QLatin1String(row.metric)}] =
            row.value;
    return values;
}

double valueOf(const std::vector<MetricRow> &rows, MetricLevel level, qint32 cls,
               const char *metric)
{
    const std::optional<double> value = findMetricValue(rows, level, cls, QLatin1String(metric));
    if (!value)
        qFatal("no %s", metric);
    return *value;
}

bool near(double actual, double expected, double tolerance = 1e-9)
{
    if (std::isnan(expected))
        return std::isnan(actual);
    return std::abs(actual - expected) <= tolerance * std::max(1e-300, std::abs(expected)) ||
           actual == expected;
}

struct Grid {
    int rows;
    int columns;
    std::vector<qint32> cells;
    qint32 at(int r, int c) const { return cells[std::size_t(r) * std::size_t(columns) + c]; }
};

// Ragged blobs of k classes with NoData holes and specks: smooth waves cut
// into classes, with noise enough for single cells, rings and U shapes.
Grid blobs(int rows, int columns, int classes, double holes, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> uniform(0, 1);
    double phase[6];
    for (double &p : phase)
        p = uniform(engine) * 6.283;
    Grid grid{rows, columns, std::vector<qint32>(std::size_t(rows) * columns)};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const double wave = std::sin(0.31 * c + phase[0]) + std::sin(0.23 * r + phase[1]) +
                                std::sin(0.17 * (r + c) + phase[2]) + 0.8 * uniform(engine);
            const int cls = std::clamp(int((wave + 3.0) / 6.8 * classes), 0, classes - 1);
            const double hole = std::sin(0.4 * c + phase[3]) * std::sin(0.5 * r + phase[4]);
            grid.cells[std::size_t(r) * columns + c] =
                hole > 1.0 - holes || uniform(engine) < holes / 20 ? -9999 : 10 * cls + 3;
        }
    }
    return grid;
}

// Patches found the plain way, cell by cell, with their cells listed.
struct PlainPatch {
    qint32 code;
    std::vector<std::pair<int, int>> cells;
    qint64 perimeter = 0;
};

std::vector<PlainPatch> floodFill(const Grid &grid, int neighbours)
{
    std::vector<int> label(grid.cells.size(), -1);
    std::vector<PlainPatch> patches;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            const qint32 code = grid.at(r, c);
            if (code == -9999 || label[std::size_t(r) * grid.columns + c] >= 0)
                continue;
            PlainPatch patch{code, {{r, c}}};
            label[std::size_t(r) * grid.columns + c] = int(patches.size());
            for (std::size_t next = 0; next < patch.cells.size(); ++next) {
                const auto [y, x] = patch.cells[next];
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int ny = y + dy;
                        const int nx = x + dx;
                        const bool side = dx == 0 || dy == 0;
                        if ((dx == 0 && dy == 0) || (!side && neighbours == 4))
                            continue;
                        const bool same = ny >= 0 && ny < grid.rows && nx >= 0 &&
                                          nx < grid.columns && grid.at(ny, nx) == code;
                        if (side && !same)
                            ++patch.perimeter;
                        if (!same)
                            continue;
                        int &seen = label[std::size_t(ny) * grid.columns + nx];
                        if (seen < 0) {
                            seen = int(patches.size());
                            patch.cells.push_back({ny, nx});
                        }
                    }
                }
            }
            patches.push_back(std::move(patch));
        }
    }
    return patches;
}

// Reads the reference tool's CSV: "map","level",class,"metric",value.
std::map<QString, std::map<Key, double>> referenceValues(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    std::map<QString, std::map<Key, double>> maps;
    file.readLine();
    while (!file.atEnd()) {
        QList<QByteArray> fields = file.readLine().trimmed().split(',');
        for (QByteArray &field : fields)
            field.replace('"', "");
        const bool landscape = fields[1] == "landscape";
        maps[QString::fromUtf8(fields[0])]
            [{QString::fromUtf8(fields[1]), landscape ? 0 : fields[2].toInt(),
              QString::fromUtf8(fields[3])}] =
                fields[4] == "NA" ? std::nan("") : fields[4].toDouble();
    }
    return maps;
}

} // namespace

class TestLandscapeMeasure : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every value the reference tool gives for its own example maps, a map
    // with NoData holes and one of our fractal maps, read by our readers
    // with the cell size and NoData code of their headers.
    void reproducesTheReferenceTool()
    {
        const QString folder = QStringLiteral(PW_TEST_DATA_DIR "/metrics-reference/");
        const auto reference =
            referenceValues(folder + QStringLiteral("landscapemetrics-2.2.2.csv"));
        QCOMPARE(reference.size(), std::size_t(4));
        for (const auto &[name, expected] : reference) {
            LandscapeGrid grid;
            MapFileInfo info;
            QVERIFY(!readMap(folder + name + QStringLiteral(".asc"), grid, {}, &info));
            QVERIFY(info.cellWidth && info.noData);
            MetricOptions options;
            options.cellSize = *info.cellWidth;
            options.noData = qint32(*info.noData);
            const auto columns = int(grid.row(0).size());
            const auto rows = int(grid.rowCount());
            const std::vector<MetricRow> measured = measureLandscape(
                std::span(grid.row(0).data(), grid.cellCount()), rows, columns, options);
            std::map<Key, double> ours = byKey(measured);
            for (const auto &[key, value] : expected) {
                const auto found = ours.find(key);
                QVERIFY2(found != ours.end(),
                         qPrintable(name + QLatin1Char(' ') + std::get<2>(key)));
                QVERIFY2(near(found->second, value),
                         qPrintable(QStringLiteral("%1 %2 %3 %4: %5, the reference tool %6")
                                        .arg(name, std::get<0>(key))
                                        .arg(std::get<1>(key))
                                        .arg(std::get<2>(key))
                                        .arg(found->second, 0, 'g', 17)
                                        .arg(value, 0, 'g', 17)));
                ours.erase(found);
            }
            // Only the area-weighted means the reference tool lacks are left.
            for (const auto &[key, value] : ours)
                QVERIFY2(std::get<2>(key) == QLatin1String("area_am") ||
                             std::get<2>(key) == QLatin1String("gyrate_am"),
                         qPrintable(std::get<2>(key)));
        }
    }

    // Patches, their areas, perimeters and gyration, and the distance to
    // the nearest patch of the class, against a flood fill and a comparison
    // of every pair of cells, with 4 and 8 neighbours. One measurer takes
    // every map of a width, as a batch would use it.
    void patchesAndDistancesMatchThePlainWay()
    {
        const std::pair<int, int> shapes[] = {{1, 37}, {29, 1}, {23, 64}, {41, 65}, {36, 36}};
        unsigned seed = 1;
        for (const auto &[rows, columns] : shapes) {
            for (const int neighbours : {4, 8}) {
                MetricOptions options;
                options.neighbours = neighbours;
                options.cellSize = seed % 2 ? 1.0 : 30.0;
                options.noData = -9999;
                LandscapeMeasurer measurer(columns, options);
                // Hundreds of classes keep their adjacencies in a hash table.
                for (const int classes : {1, 3, 6, 700}) {
                    const Grid grid = blobs(rows, columns, classes, 0.15, seed++);
                    for (int r = 0; r < rows; ++r)
                        measurer.addRow(
                            std::span(grid.cells)
                                .subspan(std::size_t(r) * columns, std::size_t(columns)));
                    checkAgainstPlainWay(grid, measurer.finish(), options);
                }
            }
        }
    }

    // On two-class maps the habitat class has the figures the batch's
    // manifest gives, whose own suite checks them against scipy; and rows
    // given as bytes, which are measured on bits, give every value the
    // codes do, to the last bit, with one measurer serving maps of every
    // cover in turn.
    void twoClassMapsAgreeWithTheManifestAndTheCodes()
    {
        std::mt19937 engine(5);
        const std::pair<int, int> shapes[] = {{1, 1},   {1, 37},   {29, 1},
                                              {64, 64}, {33, 130}, {97, 97}};
        for (const auto &[rows, columns] : shapes) {
            for (const int neighbours : {4, 8}) {
                MetricOptions options;
                options.neighbours = neighbours;
                options.cellSize = 10.0;
                options.noData = -9999;
                LandscapeMeasurer measurer(columns, options);
                for (const double cover : {0.0, 0.3, 0.59, 0.97, 1.0}) {
                    std::vector<std::uint8_t> habitat(std::size_t(rows) * columns);
                    std::vector<qint32> codes(habitat.size());
                    // The first rows all matrix now and then, so that the
                    // habitat class is met second.
                    const std::size_t plain = cover == 0.3 ? std::size_t(columns) * 2 : 0;
                    for (std::size_t i = 0; i < habitat.size(); ++i) {
                        habitat[i] = i >= plain &&
                                     std::uniform_real_distribution<double>(0, 1)(engine) < cover;
                        codes[i] = habitat[i] ? 7 : 2;
                    }
                    LandscapeMeasurer general(columns, options);
                    for (int r = 0; r < rows; ++r)
                        general.addRow(std::span(codes).subspan(std::size_t(r) * columns,
                                                                std::size_t(columns)));
                    const std::vector<MetricRow> byCodes = general.finish();
                    for (int r = 0; r < rows; ++r)
                        measurer.addRow(habitat.data() + std::size_t(r) * columns, 2, 7);
                    const MeasuredMap measured = measurer.finishWithHabitat(7);
                    const std::vector<MetricRow> &byBytes = measured.rows;
                    // The manifest's metrics taken from these patches are
                    // the accumulator's, bit for bit.
                    const LandscapeMetrics old =
                        landscapeMetrics(habitat.data(), rows, columns, neighbours, 10.0);
                    QVERIFY(measured.habitat);
                    QVERIFY2(
                        std::memcmp(&*measured.habitat, &old, sizeof old) == 0,
                        qPrintable(QStringLiteral("%1 x %2, cover %3: gyrate_am %4 against %5")
                                       .arg(rows)
                                       .arg(columns)
                                       .arg(cover)
                                       .arg(measured.habitat->areaWeightedMeanGyration, 0, 'g', 17)
                                       .arg(old.areaWeightedMeanGyration, 0, 'g', 17)));
                    QCOMPARE(byBytes.size(), byCodes.size());
                    for (std::size_t i = 0; i < byCodes.size(); ++i) {
                        QCOMPARE(byBytes[i].classCode, byCodes[i].classCode);
                        QCOMPARE(QLatin1String(byBytes[i].metric),
                                 QLatin1String(byCodes[i].metric));
                        QVERIFY2(std::bit_cast<quint64>(byBytes[i].value) ==
                                         std::bit_cast<quint64>(byCodes[i].value) ||
                                     (std::isnan(byBytes[i].value) && std::isnan(byCodes[i].value)),
                                 qPrintable(
                                     QStringLiteral("%1 class %2, %3 x %4, cover %5: %6 against %7")
                                         .arg(QLatin1String(byCodes[i].metric))
                                         .arg(byCodes[i].classCode)
                                         .arg(rows)
                                         .arg(columns)
                                         .arg(cover)
                                         .arg(byBytes[i].value, 0, 'g', 17)
                                         .arg(byCodes[i].value, 0, 'g', 17)));
                    }
                    if (std::find(habitat.begin(), habitat.end(), 1) == habitat.end())
                        continue;
                    const auto cls = [&byCodes](const char *metric) {
                        return valueOf(byCodes, MetricLevel::Class, 7, metric);
                    };
                    QCOMPARE(cls("np"), double(old.patchCount));
                    QVERIFY(near(cls("lpi"), old.largestPatchIndex, 1e-12));
                    QVERIFY(near(cls("area_mn") * 10000, old.meanPatchArea, 1e-12));
                    QVERIFY(near(cls("area_am") * 10000, old.areaWeightedMeanPatchArea, 1e-12));
                    QVERIFY(near(cls("ed"), old.edgeDensity, 1e-12));
                    QVERIFY(near(cls("gyrate_am"), old.areaWeightedMeanGyration, 1e-12));
                }
            }
        }
    }

    // One class, one cell, only NoData: the reference tool's answers, with
    // NA where a metric has no value, never a crash.
    void degenerateMaps()
    {
        MetricOptions options;
        options.noData = -1;
        const std::vector<MetricRow> one = measureLandscape(std::vector<qint32>{4}, 1, 1, options);
        const std::map<QString, double> oneCell = {{QStringLiteral("ca"), 1e-4},
                                                   {QStringLiteral("pland"), 100},
                                                   {QStringLiteral("np"), 1},
                                                   {QStringLiteral("te"), 0},
                                                   {QStringLiteral("lsi"), 1},
                                                   {QStringLiteral("area_cv"), std::nan("")},
                                                   {QStringLiteral("gyrate_mn"), 0},
                                                   {QStringLiteral("shape_mn"), 1},
                                                   {QStringLiteral("frac_mn"), 1},
                                                   {QStringLiteral("pafrac"), std::nan("")},
                                                   {QStringLiteral("enn_mn"), std::nan("")},
                                                   {QStringLiteral("cohesion"), std::nan("")},
                                                   {QStringLiteral("ai"), std::nan("")},
                                                   {QStringLiteral("clumpy"), std::nan("")},
                                                   {QStringLiteral("pladj"), 0},
                                                   {QStringLiteral("division"), 0},
                                                   {QStringLiteral("split"), 1},
                                                   {QStringLiteral("mesh"), 1e-4},
                                                   {QStringLiteral("iji"), std::nan("")},
                                                   {QStringLiteral("contag"), std::nan("")},
                                                   {QStringLiteral("shdi"), 0},
                                                   {QStringLiteral("shei"), 0},
                                                   {QStringLiteral("sidi"), 0},
                                                   {QStringLiteral("pr"), 1},
                                                   {QStringLiteral("ta"), 1e-4}};
        for (const MetricRow &row : one) {
            const auto expected = oneCell.find(QLatin1String(row.metric));
            if (expected != oneCell.end())
                QVERIFY2(near(row.value, expected->second, 1e-15), row.metric);
        }

        // A uniform 3 x 4 map is its own most compact shape.
        const std::vector<MetricRow> uniform =
            measureLandscape(std::vector<qint32>(12, 9), 3, 4, options);
        QCOMPARE(valueOf(uniform, MetricLevel::Class, 9, "lsi"), 1.0);
        QCOMPARE(valueOf(uniform, MetricLevel::Landscape, 0, "ai"), 100.0);
        QVERIFY(std::isnan(valueOf(uniform, MetricLevel::Landscape, 0, "contag")));

        for (const auto &[rows, columns] : {std::pair{2, 3}, std::pair{0, 0}}) {
            const std::vector<MetricRow> empty = measureLandscape(
                std::vector<qint32>(std::size_t(rows * columns), -1), rows, columns, options);
            QCOMPARE(empty.size(), std::size_t(landscapeMetricCount));
            for (const MetricRow &row : empty)
                QVERIFY2(row.level == MetricLevel::Landscape && std::isnan(row.value), row.metric);
        }
    }

    // The table pools with the reference tool's: its columns, NA, and
    // numbers that read back as the same doubles.
    void writesTheLongTable()
    {
        const std::vector<MetricRow> rows = {
            {MetricLevel::Class, -3, "np", 11},
            {MetricLevel::Class, 4, "enn_mn", std::nan("")},
            {MetricLevel::Landscape, 0, "contag", 0.1 + 0.2},
            {MetricLevel::Landscape, 0, "lsi", -std::numeric_limits<double>::infinity()}};
        QByteArray csv = metricsCsvHeader({QStringLiteral("cover")});
        appendMetricsCsv(csv, QStringLiteral("a,\"b\".asc"), rows, {QStringLiteral("30")});
        QCOMPARE(csv, QByteArray("file,level,class,metric,value,cover\n"
                                 "\"a,\"\"b\"\".asc\",class,-3,np,11,30\n"
                                 "\"a,\"\"b\"\".asc\",class,4,enn_mn,NA,30\n"
                                 "\"a,\"\"b\"\".asc\",landscape,NA,contag,0.30000000000000004,30\n"
                                 "\"a,\"\"b\"\".asc\",landscape,NA,lsi,-Inf,30\n"));
    }

    void selectsMetricsByName()
    {
        QString refusal;
        const auto chosen = MetricSelection::parse(QStringLiteral("np, contag"), refusal);
        QVERIFY(chosen);
        QVERIFY(chosen->has(ClassMetric::Np) && chosen->has(LandscapeMetric::Np));
        QVERIFY(chosen->has(LandscapeMetric::Contag) && !chosen->has(ClassMetric::Ca));
        const std::vector<MetricRow> rows =
            measureLandscape(std::vector<qint32>{1, 2, 2, 1}, 2, 2, {}, *chosen);
        QCOMPARE(rows.size(), std::size_t(4));
        QVERIFY(!MetricSelection::parse(QStringLiteral("np,nq"), refusal));
        QVERIFY2(refusal.contains(QLatin1String("'nq'")) &&
                     refusal.contains(QLatin1String("sidi")) &&
                     refusal.contains(QLatin1String("frac_mn")),
                 qPrintable(refusal));
    }

private:
    void checkAgainstPlainWay(const Grid &grid, const std::vector<MetricRow> &rows,
                              const MetricOptions &options)
    {
        const std::vector<PlainPatch> patches = floodFill(grid, options.neighbours);
        const double cellSize = options.cellSize;
        std::map<qint32, std::vector<const PlainPatch *>> byClass;
        qint64 total = 0;
        for (const PlainPatch &patch : patches) {
            byClass[patch.code].push_back(&patch);
            total += qint64(patch.cells.size());
        }
        double landscapeDistances = 0;
        int withNeighbour = 0;
        for (const auto &[code, members] : byClass) {
            double largest = 0;
            double shapes = 0;
            double gyrations = 0;
            double distances = 0;
            for (const PlainPatch *patch : members) {
                const auto cells = double(patch->cells.size());
                largest = std::max(largest, cells);
                shapes += double(patch->perimeter) / (4 * std::sqrt(cells));
                double row = 0;
                double column = 0;
                for (const auto &[r, c] : patch->cells) {
                    row += r;
                    column += c;
                }
                row /= cells;
                column /= cells;
                double gyration = 0;
                for (const auto &[r, c] : patch->cells)
                    gyration += std::hypot(r - row, c - column);
                gyrations += gyration / cells * cellSize;
                qint64 nearest = -1;
                for (const PlainPatch *other : members) {
                    if (other == patch)
                        continue;
                    for (const auto &[r, c] : patch->cells)
                        for (const auto &[s, d] : other->cells) {
                            const qint64 d2 = qint64(r - s) * (r - s) + qint64(c - d) * (c - d);
                            if (nearest < 0 || d2 < nearest)
                                nearest = d2;
                        }
                }
                if (nearest >= 0) {
                    distances += std::sqrt(double(nearest)) * cellSize;
                    landscapeDistances += std::sqrt(double(nearest)) * cellSize;
                    ++withNeighbour;
                }
            }
            const auto np = double(members.size());
            const QByteArray where = QStringLiteral("%1 x %2, %3 neighbours, class %4")
                                         .arg(grid.rows)
                                         .arg(grid.columns)
                                         .arg(options.neighbours)
                                         .arg(code)
                                         .toUtf8();
            const auto cls = [&](const char *metric) {
                return valueOf(rows, MetricLevel::Class, code, metric);
            };
            QVERIFY2(cls("np") == np, where.constData());
            QVERIFY2(near(cls("lpi"), largest / double(total) * 100, 1e-12), where.constData());
            QVERIFY2(near(cls("shape_mn"), shapes / np, 1e-12), where.constData());
            QVERIFY2(near(cls("gyrate_mn"), gyrations / np, 1e-12), where.constData());
            QVERIFY2(near(cls("enn_mn"), np > 1 ? distances / np : std::nan(""), 1e-12),
                     where.constData());
        }
        QVERIFY(near(valueOf(rows, MetricLevel::Landscape, 0, "np"), double(patches.size())));
        // Edges, contagion and interspersion from every pair of cells that
        // share a side.
        std::map<std::pair<qint32, qint32>, double> pairs;
        for (int r = 0; r < grid.rows; ++r) {
            for (int c = 0; c < grid.columns; ++c) {
                for (const auto &[nr, nc] : {std::pair{r + 1, c}, std::pair{r, c + 1}}) {
                    if (nr == grid.rows || nc == grid.columns || grid.at(r, c) == -9999 ||
                        grid.at(nr, nc) == -9999)
                        continue;
                    ++pairs[std::minmax(grid.at(r, c), grid.at(nr, nc))];
                }
            }
        }
        double edges = 0;
        double adjacencies = 0;
        for (const auto &[pair, count] : pairs) {
            adjacencies += 2 * count;
            edges += pair.first != pair.second ? count : 0;
        }
        double contagion = 0;
        double interspersion = 0;
        // The table counts a like pair in its one cell twice, an unlike one
        // once in each of its two cells.
        for (const auto &[pair, count] : pairs) {
            const bool like = pair.first == pair.second;
            const double cell = (like ? 2 : 1) * count / adjacencies;
            contagion += (like ? 1 : 2) * cell * std::log(cell);
            if (!like)
                interspersion -= count / edges * std::log(count / edges);
        }
        const auto classes = double(byClass.size());
        QVERIFY(near(valueOf(rows, MetricLevel::Landscape, 0, "te"), edges * cellSize, 1e-12));
        QVERIFY(near(valueOf(rows, MetricLevel::Landscape, 0, "contag"),
                     classes > 1 ? (1 + contagion / (2 * std::log(classes))) * 100 : std::nan(""),
                     1e-12));
        QVERIFY(near(valueOf(rows, MetricLevel::Landscape, 0, "iji"),
                     classes > 2 && edges > 0
                         ? interspersion / std::log(classes * (classes - 1) / 2) * 100
                         : std::nan(""),
                     1e-12));
        QVERIFY(near(valueOf(rows, MetricLevel::Landscape, 0, "enn_mn"),
                     withNeighbour > 0 ? landscapeDistances / withNeighbour : std::nan(""), 1e-12));
    }
};

QTEST_GUILESS_MAIN(TestLandscapeMeasure)
#include "tst_landscapemeasure.moc"
