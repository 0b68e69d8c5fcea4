// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/surfacepipeline.h"

#include "fractal/covercut.h"
#include "fractal/fastfbmsurface.h"
#include "tests/fractal/samebits.h"

#include <QTest>

#include <utility>
#include <vector>

namespace {

using Request = std::pair<int, int>;

} // namespace

class TestSurfacePipeline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void handsOutExactlyTheRequestedSurfaces_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<std::vector<Request>>("requests");
        QTest::addColumn<bool>("philox");
        QTest::addColumn<int>("firstSeed");
        // Requests as a run makes them: seeds in order, an H left early
        // while the worker has already built the seeds after it.
        QTest::newRow("every seed of a stretch")
            << 16
            << std::vector<Request>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}}
            << false << 0;
        QTest::newRow("early exits")
            << 16 << std::vector<Request>{{0, 0}, {0, 1}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {3, 0}}
            << false << 0;
        // The seeds of a run that starts elsewhere, drawn with Philox.
        QTest::newRow("philox from seed 1000")
            << 16 << std::vector<Request>{{0, 0}, {0, 3}, {2, 1}} << true << 1000;
        QTest::newRow("far jumps")
            << 33 << std::vector<Request>{{0, 0}, {0, 150}, {1, 199}, {3, 198}, {3, 199}} << false
            << 0;
        // Two slots only: the worker must wait for the one being read.
        QTest::newRow("large blocks")
            << 1500 << std::vector<Request>{{0, 0}, {0, 1}, {2, 0}} << false << 0;
    }

    void handsOutExactlyTheRequestedSurfaces()
    {
        QFETCH(int, size);
        QFETCH(std::vector<Request>, requests);
        QFETCH(bool, philox);
        QFETCH(int, firstSeed);
        const std::vector<double> hs{0.1, 0.4, 0.7, 1.0};
        const auto ladder = covercut::thresholds();
        const Generator generator = philox ? Generator::Philox : Generator::Classic;
        SurfacePipeline pipeline(
            SurfacePipeline::Engine::Fast,
            {hs, size, size, generator, firstSeed, FractalBatchRequest::surfacesPerH});
        FastFbmSurface direct;
        FbmBlock expected;
        for (const auto &[hIndex, seed] : requests) {
            const SurfacePipeline::Surface &surface = pipeline.surface(hIndex, seed);
            QCOMPARE(surface.status, FbmSurface::Status::Ok);
            QCOMPARE(direct.generate(hs[std::size_t(hIndex)], size, 12, firstSeed + seed, expected,
                                     generator),
                     FastFbmSurface::Status::Ok);
            COMPARE_BLOCKS(surface.block, expected);
            for (std::size_t k = 0; k < ladder.size(); ++k)
                QCOMPARE(surface.covers[k],
                         covercut::coverPercent(covercut::coverFraction(expected, ladder[k])));
        }
    }

    void stopsWhileTheWorkerIsAhead()
    {
        // Left after one surface with the worker building ahead, and left
        // without a single request: both must end at once, without a hang.
        {
            SurfacePipeline pipeline(SurfacePipeline::Engine::Fast, {{0.5}, 100, 100});
            QCOMPARE(pipeline.surface(0, 0).status, FbmSurface::Status::Ok);
        }
        {
            SurfacePipeline pipeline(SurfacePipeline::Engine::Fast, {{0.5, 0.6}, 100, 100});
        }
        {
            SurfacePipeline pipeline(SurfacePipeline::Engine::Fast, {{}, 100, 100});
        }
    }
};

QTEST_GUILESS_MAIN(TestSurfacePipeline)
#include "tst_surfacepipeline.moc"
