// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussianfield.h"
#include "tests/support/fieldstats.h"

#include <QTest>

#include <bit>
#include <cstring>
#include <thread>

Q_DECLARE_METATYPE(FieldModel)
Q_DECLARE_METATYPE(FieldStream)

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

std::unique_ptr<CirculantEmbedding> built(const FieldModel &model, int rows, int columns)
{
    auto result = CirculantEmbedding::build(model, rows, columns);
    if (!result.embedding)
        qWarning("refused: %s", qPrintable(result.refusal));
    return std::move(result.embedding);
}

std::unique_ptr<CirculantEmbedding> built(const FieldModel &model, int size)
{
    return built(model, size, size);
}

// FNV-1a over a field's bytes: a fingerprint that no library version moves.
quint64 fingerprint(const std::vector<double> &field)
{
    quint64 hash = 14695981039346656037ull;
    const auto *bytes = reinterpret_cast<const unsigned char *>(field.data());
    for (std::size_t k = 0; k < field.size() * sizeof(double); ++k) {
        hash ^= bytes[k];
        hash *= 1099511628211ull;
    }
    return hash;
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

    // Rectangular fields have the model's covariance (fbm: zero at the
    // origin and its variogram) along both directions at once, on grids
    // laid out for their own rows and columns, within 4 standard errors of
    // 300 fields. A wrap or a spacing taken from the wrong side would show
    // in one direction.
    void rectangularFieldsMatchTheModel_data()
    {
        QTest::addColumn<FieldModel>("model");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        const FieldModel matern = modelOf(CovarianceModel::Matern, 3.0, 1.5);
        const FieldModel gaussian = modelOf(CovarianceModel::Gaussian, 4.0);
        QTest::newRow("matern 16x40") << matern << 16 << 40;
        QTest::newRow("matern 40x16") << matern << 40 << 16;
        QTest::newRow("gaussian 40x16") << gaussian << 40 << 16;
        QTest::newRow("fbm 0.3 16x40") << modelOf(CovarianceModel::Fbm, 1.0, 1.0, 0.3) << 16 << 40;
        QTest::newRow("fbm 0.9 40x16") << modelOf(CovarianceModel::Fbm, 1.0, 1.0, 0.9) << 40 << 16;
    }
    void rectangularFieldsMatchTheModel()
    {
        QFETCH(FieldModel, model);
        QFETCH(int, rows);
        QFETCH(int, columns);
        const bool fbm = model.model == CovarianceModel::Fbm;
        const auto embedding = built(model, rows, columns);
        QVERIFY(embedding);
        const int lags[] = {1, 4, 12};
        // Per lag, the statistic down the rows, then along the columns.
        std::vector<SampleMean> down(std::size(lags)), along(std::size(lags));
        const std::size_t corners[] = {0, std::size_t(columns) - 1,
                                       std::size_t(rows) * std::size_t(columns) - 1};
        std::vector<SampleMean> variances(std::size(corners));
        forEachField(*embedding, 300, 5, [&](const std::vector<double> &f) {
            QCOMPARE(f.size(), std::size_t(rows) * std::size_t(columns));
            for (std::size_t l = 0; l < std::size(lags); ++l) {
                down[l].add(fbm ? meanOverPairs(f, rows, columns, lags[l], 0, squaredDifference)
                                : meanOverPairs(f, rows, columns, lags[l], 0, product));
                along[l].add(fbm ? meanOverPairs(f, rows, columns, 0, lags[l], squaredDifference)
                                 : meanOverPairs(f, rows, columns, 0, lags[l], product));
            }
            for (std::size_t c = 0; c < std::size(corners); ++c)
                variances[c].add(f[corners[c]] * f[corners[c]]);
        });
        QCOMPARE(down[0].count, 300);
        for (std::size_t l = 0; l < std::size(lags); ++l) {
            const double expected = fbm ? 2.0 * std::pow(lags[l], 2.0 * model.hurst)
                                        : CirculantEmbedding::covariance(model, lags[l]);
            const QByteArray lag = "lag " + QByteArray::number(lags[l]);
            QVERIFY2(down[l].mismatch(expected).isEmpty(),
                     lag + " down: " + down[l].mismatch(expected));
            QVERIFY2(along[l].mismatch(expected).isEmpty(),
                     lag + " along: " + along[l].mismatch(expected));
        }
        // Every cell has unit variance; fbm is 0 at the origin, so a cell's
        // square is its increment from there, of mean 2 d^(2H).
        for (std::size_t c = 0; c < std::size(corners); ++c) {
            const double i = double(corners[c] / std::size_t(columns));
            const double j = double(corners[c] % std::size_t(columns));
            const double expected = fbm ? 2.0 * std::pow(i * i + j * j, model.hurst) : 1.0;
            if (fbm && c == 0) {
                QCOMPARE(variances[c].sum, 0.0);
                continue;
            }
            QVERIFY2(variances[c].mismatch(expected).isEmpty(), variances[c].mismatch(expected));
        }
    }

    // A rectangular field is drawn on a periodic grid of its own sides, not
    // cropped from the square of its longer side; where the wrap cuts the
    // covariance across the shorter side, that side alone grows, and a
    // field the square would serve is served.
    void rectangularGridsFollowTheirSides()
    {
        const FieldModel shortRange = modelOf(CovarianceModel::Exponential, 2.0);
        for (const auto &[rows, columns] :
             {std::pair{16, 40}, std::pair{40, 16}, std::pair{7, 300}}) {
            const auto embedding = built(shortRange, rows, columns);
            QVERIFY(embedding);
            QCOMPARE(embedding->sides().rows, CirculantEmbedding::fastSide(2 * rows));
            QCOMPARE(embedding->sides().columns, CirculantEmbedding::fastSide(2 * columns));
        }
        // Across two rows, a range of 10 needs more than the 4 points of
        // the first grid; the square of 100 cells is served at 200 a side.
        const FieldModel longRange = modelOf(CovarianceModel::Exponential, 10.0);
        QVERIFY(built(longRange, 100));
        const auto thin = built(longRange, 2, 100);
        QVERIFY(thin);
        QCOMPARE(thin->sides().columns, 200);
        QVERIFY2(thin->sides().rows > 4 && thin->sides().rows < 200,
                 QByteArray::number(thin->sides().rows));
        // fbm: the spacing the field's diagonal allows, on less than the
        // square's grid in both directions.
        const FieldModel fbm = modelOf(CovarianceModel::Fbm, 1.0, 1.0, 0.3);
        const auto square = built(fbm, 300);
        const auto oblong = built(fbm, 300, 40);
        QVERIFY(square && oblong);
        QVERIFY(oblong->sides().rows < square->side());
        QVERIFY(oblong->sides().columns < oblong->sides().rows);
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

    // Square fields keep their bits: the fingerprints were taken from the
    // square-only engine, before fields had rows and columns, and must never
    // change, since every square map of a seed is made from them. The cases
    // take in sizes 2 and odd ones, grids that grew, and both of Stein's
    // constructions.
    void squareFieldsKeepTheirBits_data()
    {
        QTest::addColumn<FieldModel>("model");
        QTest::addColumn<int>("size");
        QTest::addColumn<FieldStream>("stream");
        QTest::addColumn<quint64>("expected");
        const FieldStream first{1, 1000, 50, 1};
        const FieldStream second{9, 250, 3, 17};
        QTest::newRow("exponential 3, 2 cells, grown") << modelOf(CovarianceModel::Exponential, 3.0)
                                                       << 2 << first << quint64(0x83bd102bd51021d9);
        QTest::newRow("exponential 25, 16 cells, grown")
            << modelOf(CovarianceModel::Exponential, 25.0) << 16 << second
            << quint64(0x1d7e8a4379a24801);
        QTest::newRow("gaussian 2.5, 7 cells")
            << modelOf(CovarianceModel::Gaussian, 2.5) << 7 << first << quint64(0xede22bf8ecf257c0);
        QTest::newRow("matern 0.5, 3 cells") << modelOf(CovarianceModel::Matern, 4.0, 0.5) << 3
                                             << second << quint64(0xc9f57bce2684a442);
        QTest::newRow("matern 1.5, 33 cells") << modelOf(CovarianceModel::Matern, 5.0, 1.5) << 33
                                              << first << quint64(0x9cadaf27e2666755);
        QTest::newRow("matern 2.5, 100 cells") << modelOf(CovarianceModel::Matern, 2.0, 2.5) << 100
                                               << second << quint64(0x1c3913ae2dfb0776);
        QTest::newRow("fbm 0.3, 16 cells") << modelOf(CovarianceModel::Fbm, 1.0, 1.0, 0.3) << 16
                                           << first << quint64(0x80b8630aaed36c84);
        QTest::newRow("fbm 0.9, 5 cells") << modelOf(CovarianceModel::Fbm, 1.0, 1.0, 0.9) << 5
                                          << second << quint64(0x8803dfcd60af062b);
    }
    void squareFieldsKeepTheirBits()
    {
        QFETCH(FieldModel, model);
        QFETCH(int, size);
        QFETCH(FieldStream, stream);
        QFETCH(quint64, expected);
        for (const auto &embedding : {built(model, size), built(model, size, size)}) {
            QVERIFY(embedding);
            std::vector<double> field;
            QVERIFY(embedding->draw(stream, field));
            QCOMPARE(QByteArray::number(fingerprint(field), 16), QByteArray::number(expected, 16));
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
