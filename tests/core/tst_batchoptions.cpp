// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchmanifest.h"
#include "core/batch/batchoptions.h"
#include "core/batch/mapsource.h"
#include "core/batch/maptargets.h"
#include "fractal/fractalbatchrequest.h"
#include "fractal/fractalfamily.h"
#include "gaussian/gaussianbatchrequest.h"
#include "gaussian/gaussianfamily.h"
#include "random/randombatchrequest.h"
#include "random/randomfamily.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Sets one option of a request of the family, or says why it cannot.
std::optional<OptionError> set(FamilyRequest &request, const MapFamily &family, const char *key,
                               const OptionValue &value)
{
    const BatchOption *option = findBatchOption(family, QLatin1String(key));
    Q_ASSERT(option);
    return setOption(request, *option, value);
}

// A request written down whole, option by option.
QStringList written(const FamilyRequest &request, const MapFamily &family)
{
    QStringList texts;
    for (const BatchOption &option : family.options())
        texts.append(optionText(request, option));
    return texts;
}

template <typename Request> void checkDefaultsReadBack(const MapFamily &family)
{
    Request untouched;
    untouched.output.prefix = family.defaultPrefix();
    for (const BatchOption &option : family.options()) {
        const QString text = optionDefaultText(family, option);
        if (text.isEmpty())
            continue;
        Request fromText = untouched, fromValue = untouched;
        QVERIFY2(!setOption(fromText, option, text), option.key);
        QVERIFY2(!setOption(fromValue, option, optionDefault(family, option)), option.key);
        QCOMPARE(written(fromText, family), written(untouched, family));
        QCOMPARE(written(fromValue, family), written(untouched, family));
    }
}

} // namespace

class TestBatchOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The default a front end shows must be what the request holds: read
    // back through the parser, every default leaves the request as it was.
    void defaultsReadBackAsDefaults()
    {
        checkDefaultsReadBack<RandomBatchRequest>(randomFamily());
        checkDefaultsReadBack<FractalBatchRequest>(fractalFamily());
        checkDefaultsReadBack<GaussianBatchRequest>(gaussianFamily());
    }

    // The Gaussian family sweeps its ranges as H is swept, lists included,
    // and its messages name what is swept; its fields come from Philox
    // alone, so it has no generator to choose.
    void gaussianRangesAreSweptAsH()
    {
        GaussianBatchRequest request;
        QVERIFY(!set(request, gaussianFamily(), "range", std::vector<double>{2.5, 10, 40}));
        QCOMPARE(request.ranges.values(), (std::vector<double>{2.5, 10, 40}));
        QCOMPARE(optionText(request, *findBatchOption(gaussianFamily(), "range")),
                 QStringLiteral("2.5,10,40"));
        QVERIFY(!request.refusal());
        const auto empty = set(request, gaussianFamily(), "range", std::vector<double>{});
        QVERIFY(empty && empty->reason.contains(QStringLiteral("range")));
        QVERIFY(!set(request, gaussianFamily(), "range", QStringLiteral("1:5:0.333")));
        QVERIFY(
            request.refusal()->text().contains(QStringLiteral("range values have at most two")));
        // H is the sweep of fbm, and the range is then not looked at.
        QVERIFY(!set(request, gaussianFamily(), "model", QStringLiteral("fbm")));
        QVERIFY(!request.refusal());
        QCOMPARE(request.axisValues().size(), std::size_t(9));
        QVERIFY(!set(request, gaussianFamily(), "hurst", QStringLiteral("1")));
        QVERIFY(request.refusal());
        QVERIFY(set(request, gaussianFamily(), "model", QStringLiteral("cauchy")));
        QVERIFY(!findBatchOption(gaussianFamily(), "generator"));
        QCOMPARE(optionDefaultText(gaussianFamily(), *findBatchOption(gaussianFamily(), "cut")),
                 QStringLiteral("exact"));
        // Ladder cuts tie a map to a threshold, not to a draw of its own.
        GaussianBatchRequest chosen;
        QVERIFY(!set(chosen, gaussianFamily(), "target", QStringLiteral("np=1:5")));
        QVERIFY(!chosen.refusal());
        chosen.cut = FractalCut::Ladder;
        QVERIFY(chosen.refusal());
    }

    // The command line's text, Python's ints and R's doubles are one value.
    void textAndTypedValuesAgree()
    {
        RandomBatchRequest text, list, doubles, single;
        QVERIFY(!set(text, randomFamily(), "cover", QStringLiteral("10:90:20")));
        QVERIFY(!set(list, randomFamily(), "cover", std::vector<double>{10, 30, 50, 70, 90}));
        QVERIFY(!set(doubles, randomFamily(), "size", 64.0));
        QVERIFY(doubles.shape == (MapShape{64, 64}));
        RandomBatchRequest shapeText, shapeList;
        QVERIFY(!set(shapeText, randomFamily(), "size", QStringLiteral("300x200")));
        QVERIFY(!set(shapeList, randomFamily(), "size", std::vector<double>{300, 200}));
        QVERIFY(shapeText.shape == (MapShape{300, 200}));
        QCOMPARE(written(shapeText, randomFamily()), written(shapeList, randomFamily()));
        for (const char *bad : {"300x", "x200", "3x2x1", "300x2.5", "300 by 200"})
            QVERIFY2(set(shapeText, randomFamily(), "size", QString::fromLatin1(bad)), bad);
        QCOMPARE(written(text, randomFamily()), written(list, randomFamily()));
        QVERIFY(!set(single, randomFamily(), "cover", QStringLiteral("50")));
        QCOMPARE(single.covers.count(), 1);
        QCOMPARE(single.covers.first, 50);

        FractalBatchRequest fromSeq, fromText;
        // What R's seq(0.1, 0.9, 0.2) and numpy.arange hold.
        QVERIFY(!set(fromSeq, fractalFamily(), "hurst",
                     std::vector<double>{0.1, 0.30000000000000004, 0.5, 0.7000000000000001, 0.9}));
        QVERIFY(!set(fromText, fractalFamily(), "hurst", QStringLiteral("0.1:0.9:0.2")));
        QCOMPARE(fromSeq.hurst.values(), fromText.hurst.values());
        QVERIFY(!fromSeq.refusal());
        QVERIFY(!set(fromText, fractalFamily(), "cut", QStringLiteral("exact")));
        QCOMPARE(fromText.cut, FractalCut::Exact);
        QVERIFY(!set(fromText, fractalFamily(), "no_sync", true));
        QVERIFY(!fromText.output.sync);
        QVERIFY(!set(fromText, fractalFamily(), "origin", QStringLiteral("-5.5,2")));
        QCOMPARE(fromText.output.georeference.originX, -5.5);
    }

    // Values no step reaches are a list, visited as given and written back
    // as given; a list that does not increase is refused before it runs.
    void listsThatNoStepReaches()
    {
        RandomBatchRequest fromText, fromList;
        QVERIFY(!set(fromText, randomFamily(), "cover", QStringLiteral("10,25,50")));
        QVERIFY(!set(fromList, randomFamily(), "cover", std::vector<double>{10, 25, 50}));
        QCOMPARE(fromText.covers.values(), (std::vector<int>{10, 25, 50}));
        QCOMPARE(written(fromText, randomFamily()), written(fromList, randomFamily()));
        QCOMPARE(fromText.mapCount(), 3);
        QVERIFY(!fromText.refusal());
        QVERIFY(!fromText.covers.contains(20));
        QVERIFY(!set(fromText, randomFamily(), "cover", std::vector<double>{50, 40}));
        QVERIFY(fromText.refusal());
        QVERIFY(!set(fromText, randomFamily(), "cover", std::vector<double>{10, 101}));
        QVERIFY(fromText.refusal());

        FractalBatchRequest hurst;
        QVERIFY(!set(hurst, fractalFamily(), "hurst", QStringLiteral("0.3,0.45,0.9")));
        QCOMPARE(hurst.hurst.values(), (std::vector<double>{0.3, 0.45, 0.9}));
        QVERIFY(!hurst.refusal());
        QVERIFY(!set(hurst, fractalFamily(), "hurst", std::vector<double>{0.3, 0.333}));
        QVERIFY(hurst.refusal());
        // A range given again is a range, not the list before it.
        QVERIFY(!set(hurst, fractalFamily(), "hurst", QStringLiteral("0.1:0.9:0.1")));
        QCOMPARE(hurst.hurst.values().size(), std::size_t(9));
    }

    // K/N from the command line and (K, N) from Python are one share; the
    // request refuses a share that does not exist.
    void sharesAreReadAndChecked()
    {
        RandomBatchRequest text, list;
        QVERIFY(!set(text, randomFamily(), "shard", QStringLiteral("2/3")));
        QVERIFY(!set(list, randomFamily(), "shard", std::vector<double>{2, 3}));
        QCOMPARE(text.output.shard, list.output.shard);
        QCOMPARE(text.output.shard, (std::optional<BatchShard>(BatchShard{2, 3})));
        QVERIFY(!text.refusal());
        for (const char *bad : {"2", "2/3/4", "a/3", "2/", "2.5/3"}) {
            const auto error = set(text, randomFamily(), "shard", QString::fromLatin1(bad));
            QVERIFY2(error && error->kind == OptionError::Kind::Value, bad);
        }
        QCOMPARE(set(text, randomFamily(), "shard", std::vector<double>{2.5, 3})->kind,
                 OptionError::Kind::Value);
        QCOMPARE(set(text, randomFamily(), "shard", qint64(2))->kind, OptionError::Kind::Type);
        for (const char *missing : {"0/3", "4/3", "1/0", "1/100001"}) {
            QVERIFY(!set(text, randomFamily(), "shard", QString::fromLatin1(missing)));
            QVERIFY2(text.refusal(), missing);
        }
        QVERIFY(!set(text, randomFamily(), "resume", true));
        QVERIFY(!set(text, randomFamily(), "overwrite", true));
        QVERIFY(!set(text, randomFamily(), "shard", QStringLiteral("1/3")));
        QVERIFY2(text.refusal() &&
                     text.refusal()->text().contains(QStringLiteral("one of the two")),
                 qPrintable(text.refusal().value_or(Phrase()).text()));

        // Shares of a batch take every unit once, in order, and differ by at
        // most one.
        for (const qint64 units : {qint64(1), qint64(7), qint64(100)}) {
            for (int count = 1; count <= 9; ++count) {
                qint64 next = 0;
                for (int k = 1; k <= count; ++k) {
                    const BatchShard shard{k, count};
                    QCOMPARE(shard.begin(units), next);
                    QVERIFY(shard.end(units) - shard.begin(units) <= units / count + 1);
                    next = shard.end(units);
                }
                QCOMPARE(next, units);
            }
        }
    }

    // A request written down as a run records it reads back as itself, every
    // digit of its numbers kept; the options of how one run goes are not in
    // it, so a share and the run that finishes it record the same request.
    void requestRecordsTellRequestsApart()
    {
        FractalBatchRequest request;
        request.output.prefix = fractalFamily().defaultPrefix();
        QVERIFY(!set(request, fractalFamily(), "hurst", QStringLiteral("0.3,0.45,0.9")));
        QVERIFY(!set(request, fractalFamily(), "cell_size", QStringLiteral("0.1234567891")));
        QVERIFY(!set(request, fractalFamily(), "origin", QStringLiteral("4321000.25,0.5")));
        QVERIFY(!set(request, fractalFamily(), "target", QStringLiteral("np=5:10")));
        const QStringList record = requestRecord(request);
        FractalBatchRequest back;
        for (const QString &line : record) {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            const BatchOption *option = findBatchOption(fractalFamily(), line.left(equals));
            QVERIFY2(option && option->role == OptionRole::Request, qPrintable(line));
            const QString text = line.mid(equals + 1);
            if (!text.isEmpty())
                QVERIFY2(!setOption(back, *option,
                                    option->type == OptionType::Flag ? OptionValue(true)
                                                                     : OptionValue(text)),
                         qPrintable(line));
        }
        QCOMPARE(requestRecord(back), record);
        QCOMPARE(back.output.georeference.cellSize, 0.1234567891);

        FractalBatchRequest run = request;
        QVERIFY(!set(run, fractalFamily(), "shard", QStringLiteral("2/5")));
        QVERIFY(!set(run, fractalFamily(), "resume", true));
        QVERIFY(!set(run, fractalFamily(), "out", QStringLiteral("elsewhere")));
        QCOMPARE(requestRecord(run), record);
        QVERIFY(!set(run, fractalFamily(), "cell_size", QStringLiteral("0.12345678910000002")));
        QVERIFY(requestRecord(run) != record);
    }

    void badValuesAreRefusedWithTheirKind()
    {
        RandomBatchRequest request;
        const auto expectError = [&](const char *key, const OptionValue &value,
                                     OptionError::Kind kind) {
            const auto error = set(request, randomFamily(), key, value);
            QVERIFY2(error, key);
            QCOMPARE(error->kind, kind);
        };
        expectError("size", 64.5, OptionError::Kind::Value);
        expectError("size", QStringLiteral("6x"), OptionError::Kind::Value);
        expectError("size", true, OptionError::Kind::Type);
        expectError("metrics", qint64(1), OptionError::Kind::Type);
        expectError("generator", QStringLiteral("mt19937"), OptionError::Kind::Value);
        expectError("cover", std::vector<double>{}, OptionError::Kind::Value);
        expectError("cover", std::vector<double>{10.5}, OptionError::Kind::Value);
        expectError("cover", QStringLiteral("10:20"), OptionError::Kind::Value);
        expectError("cell_size", std::numeric_limits<double>::infinity(), OptionError::Kind::Value);
        expectError("origin", std::vector<double>{1}, OptionError::Kind::Value);
        // Numbers beyond 32 bits reach the request's limits, not a wrapped
        // value inside them.
        QVERIFY(!set(request, randomFamily(), "size", qint64(1) << 40));
        QVERIFY(request.refusal());
    }

    // Targets given once each on the command line, or as one list, are the
    // same request, and read back as they were written.
    void targetsAreOneListHoweverGiven()
    {
        RandomBatchRequest request;
        QVERIFY(!set(request, randomFamily(), "target", QStringLiteral("np=5:10,LPI=20:")));
        QCOMPARE(request.output.targets.size(), std::size_t(2));
        QCOMPARE(request.output.targets[0].max, std::optional<double>(10));
        QVERIFY(!request.output.targets[1].max);
        const BatchOption *target = findBatchOption(randomFamily(), "target");
        QCOMPARE(optionText(request, *target), QStringLiteral("np=5:10,lpi=20:"));
        // A metric named again says two things, and is refused.
        QVERIFY(set(request, randomFamily(), "target", QStringLiteral("np=1:2,NP=3:")));
        QVERIFY(!set(request, randomFamily(), "target", QStringLiteral("np=3:")));
        for (const char *bad : {"np", "np=5", "patches=1:2", "np=10:5", "np=a:b", "np=1:2:3",
                                "1:contag=1:2", "landscape:pland=1:2", "matrix:np=1:2",
                                "1:np=1:2,1:NP=3:", "landscape:np=1:,landscape:NP=:9"}) {
            const auto error = set(request, randomFamily(), "target", QString::fromLatin1(bad));
            QVERIFY2(error && error->kind == OptionError::Kind::Value, bad);
        }
        QVERIFY(set(request, randomFamily(), "target", QStringLiteral("patches=1:2"))
                    ->reason.contains(QStringLiteral("contag")));
        // The text is only stored when it is good.
        QCOMPARE(request.output.targets.size(), std::size_t(1));
        // Dependent draws cannot be chosen from.
        QVERIFY(request.refusal());
        request.generator = Generator::Philox;
        QVERIFY(!request.refusal());
        request.output.maxDraws = 0;
        QVERIFY(request.refusal());

        // Any metric, at either level, of the habitat class or a named one.
        QVERIFY(!set(request, randomFamily(), "target",
                     QStringLiteral("contag=50:70, landscape:NP=5:20,0:pland=10:,cohesion=90:,"
                                    "np=:3,1:np=:4")));
        const std::vector<MetricTarget> &any = request.output.targets;
        QCOMPARE(any.size(), std::size_t(6));
        using Metric = decltype(MetricTarget::metric);
        QVERIFY(any[0].metric == Metric(LandscapeMetric::Contag));
        QVERIFY(any[1].metric == Metric(LandscapeMetric::Np));
        QCOMPARE(any[2].classCode, std::optional<qint32>(0));
        QVERIFY(any[3].metric == Metric(ClassMetric::Cohesion) && !any[3].classCode);
        QCOMPARE(optionText(request, *target),
                 QStringLiteral("contag=50:70,landscape:np=5:20,0:pland=10:,cohesion=90:,np=:3,"
                                "1:np=:4"));

        // What a map lacks meets no bound: an undefined mean, a class it
        // does not have, a metric the reference tool gives as NA.
        const auto meets = [](const char *text, const LandscapeMetrics &habitat,
                              std::span<const MetricRow> rows) {
            std::vector<MetricTarget> targets;
            return !parseTargets(QString::fromLatin1(text), targets) &&
                   meetsTarget(targets[0], targetValue(targets[0], habitat, rows, 1));
        };
        const LandscapeMetrics empty;
        QVERIFY(!meets("area_mn=:", empty, {}));
        QVERIFY(meets("np=0:0", empty, {}));
        QVERIFY(!meets("pland=0:0", empty, {}));
        const MetricRow na{MetricLevel::Landscape, 0, "pafrac", std::nan("")};
        QVERIFY(!meets("pafrac=:", empty, {&na, 1}));

        // Maps written with codes 7 and 2: a class named by its code, the
        // landscape and the manifest's NP of the habitat read the one map.
        std::vector<MetricTarget> mixed;
        QVERIFY(!parseTargets(u"2:pland=70:,pr=2:2,np=1:1", mixed));
        MapSelector selector(mixed, 2, 8, 1.0, 7, 2);
        const auto accepts = [&selector](std::array<std::uint8_t, 4> cells) {
            return selector.accepts(2, [&cells](int row, std::uint8_t *out) {
                std::copy_n(cells.begin() + 2 * row, 2, out);
            });
        };
        QVERIFY(accepts({1, 0, 0, 0}));
        QVERIFY(!accepts({0, 0, 0, 0}));
        QVERIFY(!accepts({1, 0, 0, 1}));
        QVERIFY(accepts({0, 0, 0, 1}));
    }

    // Every choice reads back as its word, and an option that changes maps
    // says where the manifest of its family shows it.
    void choicesAndManifestColumnsAreOneTable()
    {
        for (const MapFamily *family : mapFamilies()) {
            // Every switch on, every choice at its last word: the request
            // whose manifest has every column the family can give.
            const std::unique_ptr<FamilyRequest> request = family->newRequest();
            for (const BatchOption &option : family->options()) {
                for (const ChoiceWord &word : option.choices)
                    QCOMPARE(choiceValue(option.choices, QLatin1String(word.word)), word.value);
                if ((option.type == OptionType::Flag || option.type == OptionType::Metrics) &&
                    option.role == OptionRole::Request)
                    QVERIFY(!setOption(*request, option, true));
                if (option.type == OptionType::Choice)
                    QVERIFY(!setOption(*request, option, option.words().constLast()));
            }
            QVERIFY(!set(*request, *family, "target", QStringLiteral("np=1:2")));
            QList<QByteArray> columns =
                manifestHeader(family->source(*request)->manifestColumns()).trimmed().split(',');
            // Classes and blends bring columns of their own.
            QVERIFY(!set(*request, *family, "proportions", QStringLiteral("50,30,20")));
            if (family->blends())
                QVERIFY(!set(*request, *family, "blend", QStringLiteral("planar:weight=0")));
            columns +=
                manifestHeader(family->source(*request)->manifestColumns()).trimmed().split(',');
            for (const BatchOption &option : family->options())
                if (option.scope == OptionScope::Maps) {
                    QVERIFY2(option.manifestColumn, option.key);
                    QVERIFY2(columns.contains(option.manifestColumn), option.manifestColumn);
                }
        }
        QCOMPARE(wordOf(Generator::Philox), QStringLiteral("philox"));
        QCOMPARE(choiceValue(cutWords(), wordOf(FractalCut::Exact)), int(FractalCut::Exact));
    }

    // A phrase names options apart from its words, which no front end has
    // to search: user text with braces and %1 stays text, and each front
    // end writes a mention its own way.
    void phrasesNameTheirOptions()
    {
        const Phrase phrase =
            Phrase::marked(QStringLiteral("{target} needs %1: add {generator philox} (%2)"))
                .arg(QStringLiteral("{cut} %1"))
                .arg(Phrase::mention(QStringLiteral("max_draws"), QStringLiteral("7")));
        QCOMPARE(phrase.text(), QStringLiteral("--target needs {cut} %1: add --generator philox "
                                               "(--max-draws 7)"));
        const auto marked = [](const QString &key, const QString &value) {
            return QStringLiteral("<%1|%2>").arg(key, value);
        };
        QCOMPARE(
            phrase.spelled(marked),
            QStringLiteral("<target|> needs {cut} %1: add <generator|philox> (<max_draws|7>)"));
        QCOMPARE(phrase.mentions().size(), 3);
        // What a request refuses names what it concerns.
        RandomBatchRequest request;
        QVERIFY(!set(request, randomFamily(), "target", QStringLiteral("np=1:2")));
        QStringList named;
        for (const Phrase::Mention &mention : request.refusal()->mentions())
            named.append(mention.key + QLatin1Char(' ') + mention.value);
        QCOMPARE(named,
                 (QStringList{QStringLiteral("target "), QStringLiteral("generator philox")}));
    }
};

QTEST_GUILESS_MAIN(TestBatchOptions)
#include "tst_batchoptions.moc"
