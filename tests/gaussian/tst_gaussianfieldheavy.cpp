// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussianfield.h"
#include "tests/support/fieldstats.h"

#include <QTest>

class TestGaussianFieldHeavy : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // H measured from the variogram of 20 surfaces of 513 x 513 cells,
    // lags 1..64, is the nominal H within 0.02 across the supported range.
    void fbmHurstIsExact_data()
    {
        QTest::addColumn<double>("hurst");
        for (double h : {0.01, 0.05, 0.1, 0.25, 0.3, 0.5, 0.7, 0.75, 0.76, 0.8, 0.9, 0.95, 0.99})
            QTest::newRow(QByteArray::number(h).constData()) << h;
    }
    void fbmHurstIsExact()
    {
        QFETCH(double, hurst);
        FieldModel model;
        model.model = CovarianceModel::Fbm;
        model.hurst = hurst;
        const auto built = CirculantEmbedding::build(model, 513);
        QVERIFY2(built.embedding, qPrintable(built.refusal));
        const double measured = estimatedHurst(*built.embedding, 20, 64);
        qInfo("H %.2f measured %.4f", hurst, measured);
        QVERIFY2(std::abs(measured - hurst) <= 0.02, QByteArray::number(measured));
    }

    // The largest size the engine promises builds.
    void largestStationaryFieldBuilds()
    {
        FieldModel model;
        model.range = 50.0;
        const auto built = CirculantEmbedding::build(model, 8192);
        QVERIFY2(built.embedding, qPrintable(built.refusal));
        QCOMPARE(built.embedding->side(), 16384);
    }
};

QTEST_GUILESS_MAIN(TestGaussianFieldHeavy)
#include "tst_gaussianfieldheavy.moc"
