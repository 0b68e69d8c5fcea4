// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussianfield.h"
#include "tests/support/fieldstats.h"

#include <QTest>

#include <bit>
#include <cstring>
#include <thread>

Q_DECLARE_METATYPE(FieldModel)

namespace {

FieldModel modelOf(CovarianceModel kind, double range, double nu = 1.0, double hurst = 0.5)
{
    FieldModel model;
    model.model = kind;
    model.range = range;
    model.nu = nu;
    model.hurst = hurst;
    return model;
}

std::unique_ptr<CirculantEmbedding> built(const FieldModel &model, int size)
{
    auto result = CirculantEmbedding::build(model, size);
    if (!result.embedding)
        qWarning("refused: %s", qPrintable(result.refusal));
    return std::move(result.embedding);
}

} // namespace

class TestGaussianField : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The mean lagged product of a few hundred fields is the model's
    // covariance, and every cell has unit variance, within 4 standard errors.
    void covarianceMatchesTheModel_data()
    {
        QTest::addColumn<FieldModel>("model");
        QTest::newRow("exponential") << modelOf(CovarianceModel::Exponential, 4.0);
        QTest::newRow("gaussian") << modelOf(CovarianceModel::Gaussian, 3.0);
        QTest::newRow("matern 2.5") << modelOf(CovarianceModel::Matern, 2.0, 2.5);
        QTest::newRow("matern 0.5") << modelOf(CovarianceModel::Matern, 4.0, 0.5);
    }
    void covarianceMatchesTheModel()
    {
        QFETCH(FieldModel, model);
        constexpr int size = 32;
        constexpr int lags = 8;
        const auto embedding = built(model, size);
        QVERIFY(embedding);
        std::vector<SampleMean> products(lags + 1);
        const int cells[] = {0, size / 2 * size + size / 2, size * size - 1};
        std::vector<SampleMean> variances(std::size(cells));
        forEachField(*embedding, 400, 7, [&](const std::vector<double> &f) {
            for (int lag = 1; lag <= lags; ++lag)
                products[std::size_t(lag)].add(laggedProduct(f, size, lag));
            for (std::size_t c = 0; c < std::size(cells); ++c)
                variances[c].add(f[std::size_t(cells[c])] * f[std::size_t(cells[c])]);
        });
        QCOMPARE(products[1].count, 400);
        double worst = 0;
        for (int lag = 1; lag <= lags; ++lag)
            worst = std::max(worst, products[std::size_t(lag)].deviation(
                                        CirculantEmbedding::covariance(model, lag)));
        for (const SampleMean &variance : variances)
            worst = std::max(worst, variance.deviation(1.0));
        qInfo("largest deviation %.2f standard errors", worst);
        for (int lag = 1; lag <= lags; ++lag) {
            const QByteArray why =
                products[std::size_t(lag)].mismatch(CirculantEmbedding::covariance(model, lag));
            QVERIFY2(why.isEmpty(), "lag " + QByteArray::number(lag) + ": " + why);
        }
        for (const SampleMean &variance : variances)
            QVERIFY2(variance.mismatch(1.0).isEmpty(), variance.mismatch(1.0));
    }

    // fbm: zero at the origin, variogram 2 d^(2H) in cells, on either side
    // of H = 0.75 where the construction changes.
    void fbmVariogramMatches_data()
    {
        QTest::addColumn<double>("hurst");
        QTest::newRow("0.3") << 0.3;
        QTest::newRow("0.75") << 0.75;
        QTest::newRow("0.9") << 0.9;
    }
    void fbmVariogramMatches()
    {
        QFETCH(double, hurst);
        constexpr int size = 33;
        const auto embedding = built(modelOf(CovarianceModel::Fbm, 1.0, 1.0, hurst), size);
        QVERIFY(embedding);
        std::vector<SampleMean> increments(9);
        forEachField(*embedding, 300, 3, [&](const std::vector<double> &f) {
            QCOMPARE(f[0], 0.0);
            for (int lag = 1; lag <= 8; lag *= 2)
                increments[std::size_t(lag)].add(squaredIncrement(f, size, lag));
        });
        double worst = 0;
        for (int lag = 1; lag <= 8; lag *= 2)
            worst = std::max(
                worst, increments[std::size_t(lag)].deviation(2.0 * std::pow(lag, 2.0 * hurst)));
        qInfo("largest deviation %.2f standard errors", worst);
        for (int lag = 1; lag <= 8; lag *= 2) {
            const QByteArray why =
                increments[std::size_t(lag)].mismatch(2.0 * std::pow(lag, 2.0 * hurst));
            QVERIFY2(why.isEmpty(), "lag " + QByteArray::number(lag) + ": " + why);
        }
    }

    // A field depends on its stream alone: the same bits again, on another
    // thread, and other bits for any other seed, range, cover or replicate.
    void fieldsAreDeterministicAndDistinct()
    {
        const auto embedding = built(modelOf(CovarianceModel::Matern, 5.0, 1.5), 48);
        QVERIFY(embedding);
        FieldStream base{9, 2, 40, 3};
        std::vector<double> first, again;
        QVERIFY(embedding->draw(base, first));
        QVERIFY(embedding->draw(base, again));
        QVERIFY(std::memcmp(first.data(), again.data(), first.size() * sizeof(double)) == 0);

        std::vector<double> threaded[2];
        FieldStream other = base;
        other.replicate = 4;
        std::thread worker([&] { embedding->draw(other, threaded[1]); });
        embedding->draw(base, threaded[0]);
        worker.join();
        QVERIFY(threaded[0] == first);
        std::vector<double> sequential;
        QVERIFY(embedding->draw(other, sequential));
        QVERIFY(std::memcmp(sequential.data(), threaded[1].data(),
                            sequential.size() * sizeof(double)) == 0);

        for (auto change : {&FieldStream::seed, &FieldStream::axisHundredths, &FieldStream::cover,
                            &FieldStream::replicate}) {
            FieldStream changed = base;
            ++(changed.*change);
            std::vector<double> field;
            QVERIFY(embedding->draw(changed, field));
            QVERIFY(field != first);
        }
    }

    // Requests the method cannot serve exactly are refused with the reason,
    // never approximated.
    void impossibleFieldsAreRefused()
    {
        for (double hurst : {0.0, 1.0, -0.2}) {
            const auto result =
                CirculantEmbedding::build(modelOf(CovarianceModel::Fbm, 1.0, 1.0, hurst), 16);
            QVERIFY(!result.embedding);
            QVERIFY(result.refusal.contains(QStringLiteral("strictly between 0 and 1")));
        }
        // A Gaussian covariance far wider than the grid has eigenvalues
        // below round-off on any periodic grid up to four times as large.
        const auto wide = CirculantEmbedding::build(modelOf(CovarianceModel::Gaussian, 400.0), 64);
        QVERIFY(!wide.embedding);
        QVERIFY2(wide.refusal.contains(QStringLiteral("negative eigenvalues")),
                 qPrintable(wide.refusal));
        QVERIFY(
            !CirculantEmbedding::build(modelOf(CovarianceModel::Matern, 3.0, 0.0), 16).embedding);
        QVERIFY(
            !CirculantEmbedding::build(modelOf(CovarianceModel::Exponential, 3.0), 1).embedding);
    }

    void sidesAreFastAndEven()
    {
        for (int n : {2, 7, 31, 97, 1000, 2049}) {
            const int side = CirculantEmbedding::fastSide(n);
            QVERIFY(side >= n && side % 2 == 0);
            int rest = side;
            for (int p : {2, 3, 5})
                while (rest % p == 0)
                    rest /= p;
            QCOMPARE(rest, 1);
            for (int smaller = n; smaller < side; ++smaller)
                QVERIFY(smaller % 2 != 0 || CirculantEmbedding::fastSide(smaller) == side);
        }
    }
};

QTEST_GUILESS_MAIN(TestGaussianField)
#include "tst_gaussianfield.moc"
