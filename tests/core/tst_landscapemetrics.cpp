// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/landscapemetrics.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

const QString python = QStringLiteral("/usr/bin/python3");

struct Map {
    QString name;
    int rows;
    int columns;
    std::vector<std::uint8_t> cells;
};

// Habitat cells get any nonzero byte, since every nonzero value is habitat.
Map randomMap(int rows, int columns, double cover, unsigned seed)
{
    std::mt19937 engine(seed);
    Map map{QStringLiteral("random %1x%2 at %3").arg(rows).arg(columns).arg(cover), rows, columns,
            std::vector<std::uint8_t>(std::size_t(rows) * columns)};
    const auto limit = std::uint32_t(cover * 4294967295.0);
    for (std::uint8_t &cell : map.cells) {
        const std::uint32_t draw = engine();
        cell = draw < limit ? std::uint8_t(1 + draw % 255) : 0;
    }
    return map;
}

// Clumped habitat with ragged borders, like a thresholded fractal surface:
// a few waves of falling amplitude and random phase.
Map smoothMap(int rows, int columns, double threshold, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> phase(0, 6.283);
    double px[5], py[5];
    for (int o = 0; o < 5; ++o) {
        px[o] = phase(engine);
        py[o] = phase(engine);
    }
    Map map{QStringLiteral("smooth %1x%2 above %3").arg(rows).arg(columns).arg(threshold), rows,
            columns, std::vector<std::uint8_t>(std::size_t(rows) * columns)};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            double value = 0;
            for (int o = 0; o < 5; ++o) {
                const double f = 0.03 * (1 << o);
                value += (std::sin(f * c + px[o]) + std::sin(f * (r + 0.7 * c) + py[o])) / (o + 1);
            }
            map.cells[std::size_t(r) * columns + c] = value > threshold ? 1 : 0;
        }
    }
    return map;
}

Map uniformMap(int rows, int columns, std::uint8_t value)
{
    return {QStringLiteral("uniform %1x%2 of %3").arg(rows).arg(columns).arg(value), rows, columns,
            std::vector<std::uint8_t>(std::size_t(rows) * columns, value)};
}

std::vector<Map> referenceMaps()
{
    std::vector<Map> maps;
    unsigned seed = 1;
    // Widths around the 64-cell words the rows are packed into.
    const std::pair<int, int> shapes[] = {{1, 1},   {1, 300}, {300, 1},   {40, 63},
                                          {40, 64}, {33, 65}, {129, 128}, {77, 200}};
    for (const double cover : {0.1, 0.3, 0.5, 0.6, 0.8, 0.97}) {
        for (const auto &[rows, columns] : shapes)
            maps.push_back(randomMap(rows, columns, cover, seed++));
    }
    maps.push_back(randomMap(1000, 1000, 0.5, seed++));
    // Over a million runs, so that runs are summed once while the spanning
    // patch is still open, and again at the end.
    maps.push_back(randomMap(2000, 2400, 0.55, seed++));
    for (const double threshold : {-1.0, 0.0, 1.2})
        maps.push_back(smoothMap(300, 517, threshold, seed++));
    maps.push_back(smoothMap(1000, 1000, 0.3, seed++));
    maps.push_back(uniformMap(50, 70, 0));
    maps.push_back(uniformMap(70, 50, 1));
    maps.push_back(uniformMap(1, 90, 1));
    maps.push_back(uniformMap(90, 1, 1));
    return maps;
}

bool near(double actual, double expected)
{
    if (std::isnan(expected))
        return std::isnan(actual);
    return std::abs(actual - expected) <= 1e-9 * std::max(1.0, std::abs(expected));
}

std::vector<double> parseNumbers(const QByteArray &line)
{
    std::vector<double> numbers;
    for (const QByteArray &field : line.trimmed().split(' ')) {
        double value = 0;
        const auto [end, error] = std::from_chars(field.begin(), field.end(), value);
        numbers.push_back(error == std::errc() && end == field.end() ? value : -1e300);
    }
    return numbers;
}

qint64 patchCount(std::vector<std::uint8_t> cells, int rows, int columns, int neighbours)
{
    return landscapeMetrics(cells.data(), rows, columns, neighbours, 1.0).patchCount;
}

} // namespace

class TestLandscapeMetrics : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matchesPlainComputationWithScipy()
    {
        if (!QFile::exists(python))
            QSKIP("python3 is not installed; the metrics were not cross-checked");
        if (QProcess::execute(
                python, {QStringLiteral("-c"), QStringLiteral("import numpy, scipy.ndimage")}) != 0)
            QSKIP("scipy is not installed (python3-scipy); the metrics were not cross-checked");
        const QString script = QFINDTESTDATA("metrics_reference.py");
        QVERIFY(!script.isEmpty());

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        struct Case {
            const Map *map;
            int neighbours;
            double cellSize;
        };
        const std::vector<Map> maps = referenceMaps();
        std::vector<Case> cases;
        QStringList arguments{script};
        for (std::size_t i = 0; i < maps.size(); ++i) {
            const Map &map = maps[i];
            const QString path = dir.filePath(QString::number(i));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char *>(map.cells.data()), qint64(map.cells.size()));
            file.close();
            for (const int neighbours : {4, 8}) {
                const double cellSize = i % 2 ? 25.0 : 1.0;
                cases.push_back({&map, neighbours, cellSize});
                arguments << path << QString::number(map.rows) << QString::number(map.columns)
                          << QString::number(neighbours) << QString::number(cellSize);
            }
        }
        QProcess reference;
        reference.start(python, arguments);
        QVERIFY(reference.waitForFinished(120000));
        QVERIFY2(reference.exitCode() == 0, reference.readAllStandardError().constData());
        const QList<QByteArray> lines = reference.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), qsizetype(cases.size()));

        for (std::size_t i = 0; i < cases.size(); ++i) {
            const Case &c = cases[i];
            const std::vector<double> expected = parseNumbers(lines[qsizetype(i)]);
            QCOMPARE(expected.size(), std::size_t(7));
            const LandscapeMetrics m = landscapeMetrics(c.map->cells.data(), c.map->rows,
                                                        c.map->columns, c.neighbours, c.cellSize);
            const QByteArray what =
                QString::asprintf("%s, %d neighbours: got %lld %lld %.17g %.17g %.17g %.17g %.17g, "
                                  "reference %s",
                                  qPrintable(c.map->name), c.neighbours, m.habitatCells,
                                  m.patchCount, m.largestPatchIndex, m.meanPatchArea,
                                  m.areaWeightedMeanPatchArea, m.edgeDensity,
                                  m.areaWeightedMeanGyration, lines[qsizetype(i)].constData())
                    .toUtf8();
            QVERIFY2(double(m.habitatCells) == expected[0] && double(m.patchCount) == expected[1] &&
                         near(m.largestPatchIndex, expected[2]) &&
                         near(m.meanPatchArea, expected[3]) &&
                         near(m.areaWeightedMeanPatchArea, expected[4]) &&
                         near(m.edgeDensity, expected[5]) &&
                         near(m.areaWeightedMeanGyration, expected[6]),
                     what.constData());
            // An accumulator reused after its complement must not carry
            // anything over from it.
            LandscapeMetricsAccumulator accumulator(c.map->columns, c.neighbours, c.cellSize);
            std::vector<std::uint8_t> row(std::size_t(c.map->columns));
            for (int r = 0; r < c.map->rows; ++r) {
                for (int k = 0; k < c.map->columns; ++k)
                    row[k] = c.map->cells[std::size_t(r) * c.map->columns + k] ? 0 : 1;
                accumulator.addRow(row.data());
            }
            accumulator.finish();
            for (int r = 0; r < c.map->rows; ++r)
                accumulator.addRow(c.map->cells.data() + std::size_t(r) * c.map->columns);
            const LandscapeMetrics again = accumulator.finish();
            QVERIFY2(std::memcmp(&again, &m, sizeof m) == 0, what.constData());
        }
    }

    void cornerContactJoinsPatchesOnlyUnderEightNeighbours()
    {
        for (const std::vector<std::uint8_t> &cells :
             {std::vector<std::uint8_t>{1, 0, 0, 1}, std::vector<std::uint8_t>{0, 1, 1, 0}}) {
            QCOMPARE(patchCount(cells, 2, 2, 8), qint64(1));
            QCOMPARE(patchCount(cells, 2, 2, 4), qint64(2));
        }
        // Two arms that only meet in a later row are one patch either way.
        const std::vector<std::uint8_t> u{1, 0, 1, 1, 0, 1, 1, 1, 1};
        QCOMPARE(patchCount(u, 3, 3, 4), qint64(1));
        QCOMPARE(patchCount(u, 3, 3, 8), qint64(1));
    }

    void edgesOnTheMapBorderAreNotCounted()
    {
        // A 3 x 3 map of 10 m cells covers 0.09 ha.
        std::vector<std::uint8_t> cells(9, 0);
        cells[4] = 1;
        QVERIFY(near(landscapeMetrics(cells.data(), 3, 3, 8, 10.0).edgeDensity, 40 / 0.09));
        cells[4] = 0;
        cells[0] = 1;
        QVERIFY(near(landscapeMetrics(cells.data(), 3, 3, 8, 10.0).edgeDensity, 20 / 0.09));
        cells.assign(9, 1);
        QCOMPARE(landscapeMetrics(cells.data(), 3, 3, 8, 10.0).edgeDensity, 0.0);
    }
};

QTEST_GUILESS_MAIN(TestLandscapeMetrics)
#include "tst_landscapemetrics.moc"
