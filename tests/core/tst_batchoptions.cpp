#include "core/batchmanifest.h"
#include "core/batchoptions.h"

#include <QTest>

namespace {

const BatchKind kinds[] = {BatchKind::Random, BatchKind::Fractal};

// Sets one option of a fresh request of the kind and returns the request's
// refusal-free state as the manifest and names would see it, or the error.
template <typename Request>
std::optional<OptionError> set(Request &request, BatchKind kind, const char *key,
                               const OptionValue &value)
{
    const BatchOption *option = findBatchOption(kind, QLatin1String(key));
    Q_ASSERT(option);
    return setOption(request, *option, value);
}

// A request written down whole, option by option.
template <typename Request> QStringList written(const Request &request, BatchKind kind)
{
    QStringList texts;
    for (const BatchOption &option : batchOptions(kind))
        texts.append(optionText(request, option));
    return texts;
}

template <typename Request> void checkDefaultsReadBack(BatchKind kind)
{
    Request untouched;
    untouched.output.prefix = defaultPrefix(kind);
    for (const BatchOption &option : batchOptions(kind)) {
        const QString text = optionDefaultText(kind, option);
        if (text.isEmpty())
            continue;
        Request fromText = untouched, fromValue = untouched;
        QVERIFY2(!setOption(fromText, option, text), option.key);
        QVERIFY2(!setOption(fromValue, option, optionDefault(kind, option)), option.key);
        QCOMPARE(written(fromText, kind), written(untouched, kind));
        QCOMPARE(written(fromValue, kind), written(untouched, kind));
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
        checkDefaultsReadBack<RandomBatchRequest>(BatchKind::Random);
        checkDefaultsReadBack<FractalBatchRequest>(BatchKind::Fractal);
    }

    // The command line's text, Python's ints and R's doubles are one value.
    void textAndTypedValuesAgree()
    {
        RandomBatchRequest text, list, doubles, single;
        QVERIFY(!set(text, BatchKind::Random, "cover", QStringLiteral("10:90:20")));
        QVERIFY(!set(list, BatchKind::Random, "cover", std::vector<double>{10, 30, 50, 70, 90}));
        QVERIFY(!set(doubles, BatchKind::Random, "size", 64.0));
        QCOMPARE(doubles.size, 64);
        QCOMPARE(written(text, BatchKind::Random), written(list, BatchKind::Random));
        QVERIFY(!set(single, BatchKind::Random, "cover", QStringLiteral("50")));
        QCOMPARE(single.covers.count(), 1);
        QCOMPARE(single.covers.first, 50);

        FractalBatchRequest fromSeq, fromText;
        // What R's seq(0.1, 0.9, 0.2) and numpy.arange hold.
        QVERIFY(!set(fromSeq, BatchKind::Fractal, "hurst",
                     std::vector<double>{0.1, 0.30000000000000004, 0.5, 0.7000000000000001, 0.9}));
        QVERIFY(!set(fromText, BatchKind::Fractal, "hurst", QStringLiteral("0.1:0.9:0.2")));
        QCOMPARE(fromSeq.hurst.values(), fromText.hurst.values());
        QVERIFY(!fromSeq.refusal());
        QVERIFY(!set(fromText, BatchKind::Fractal, "cut", QStringLiteral("exact")));
        QCOMPARE(fromText.cut, FractalCut::Exact);
        QVERIFY(!set(fromText, BatchKind::Fractal, "no_sync", true));
        QVERIFY(!fromText.output.sync);
        QVERIFY(!set(fromText, BatchKind::Fractal, "origin", QStringLiteral("-5.5,2")));
        QCOMPARE(fromText.output.georeference.originX, -5.5);
    }

    void badValuesAreRefusedWithTheirKind()
    {
        RandomBatchRequest request;
        const auto expectError = [&](const char *key, const OptionValue &value,
                                     OptionError::Kind kind) {
            const auto error = set(request, BatchKind::Random, key, value);
            QVERIFY2(error, key);
            QCOMPARE(error->kind, kind);
        };
        expectError("size", 64.5, OptionError::Kind::Value);
        expectError("size", QStringLiteral("6x"), OptionError::Kind::Value);
        expectError("size", true, OptionError::Kind::Type);
        expectError("metrics", qint64(1), OptionError::Kind::Type);
        expectError("generator", QStringLiteral("mt19937"), OptionError::Kind::Value);
        expectError("cover", std::vector<double>{}, OptionError::Kind::Value);
        expectError("cover", std::vector<double>{10, 20, 40}, OptionError::Kind::Value);
        expectError("cover", std::vector<double>{50, 40}, OptionError::Kind::Value);
        expectError("cover", std::vector<double>{10.5}, OptionError::Kind::Value);
        expectError("cover", QStringLiteral("10:20"), OptionError::Kind::Value);
        expectError("cell_size", std::numeric_limits<double>::infinity(), OptionError::Kind::Value);
        expectError("origin", std::vector<double>{1}, OptionError::Kind::Value);
        // Numbers beyond 32 bits reach the request's limits, not a wrapped
        // value inside them.
        QVERIFY(!set(request, BatchKind::Random, "size", qint64(1) << 40));
        QVERIFY(request.refusal());
    }

    void choicesAndManifestColumnsAreOneTable()
    {
        const QList<QByteArray> columns = manifestHeader({true, true, true}).trimmed().split(',');
        for (const BatchKind kind : kinds) {
            for (const BatchOption &option : batchOptions(kind)) {
                for (const ChoiceWord &word : option.choices)
                    QCOMPARE(choiceValue(option.choices, QLatin1String(word.word)), word.value);
                // An option that changes maps says where the manifest shows it.
                if (option.scope == OptionScope::Maps) {
                    QVERIFY2(option.manifestColumn, option.key);
                    QVERIFY2(columns.contains(option.manifestColumn), option.manifestColumn);
                }
            }
        }
        QCOMPARE(wordOf(Generator::Philox), QStringLiteral("philox"));
        QCOMPARE(choiceValue(cutWords(), wordOf(FractalCut::Exact)), int(FractalCut::Exact));
    }
};

QTEST_GUILESS_MAIN(TestBatchOptions)
#include "tst_batchoptions.moc"
