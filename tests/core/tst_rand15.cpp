// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/rng/rand15.h"

#include <QTest>

#include <vector>

class TestRand15 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void knownSequences_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("seed 1") << 1u << QList<int>{41, 18467, 6334, 26500, 19169};
        QTest::newRow("seed 0") << 0u << QList<int>{38, 7719, 21238, 2437, 8855};
        QTest::newRow("seed 5") << 5u << QList<int>{54, 28693, 12255, 24449, 27660};
    }

    void knownSequences()
    {
        QFETCH(quint32, seed);
        QFETCH(QList<int>, expected);
        Rand15 rng(seed);
        for (int value : expected)
            QCOMPARE(rng.next(), value);
    }

    void negativeSeedUsesItsBitPattern()
    {
        Rand15 a(static_cast<quint32>(-7));
        Rand15 b(0xFFFFFFF9u);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(a.next(), b.next());
    }

    void outputStaysInFifteenBits()
    {
        Rand15 rng(123456789u);
        for (int i = 0; i < 100000; ++i) {
            const int v = rng.next();
            QVERIFY(v >= 0 && v <= Rand15::maxValue);
        }
    }

    void jumpAheadMatchesStepping_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<quint64>("steps");
        QTest::newRow("zero steps") << 5u << quint64(0);
        QTest::newRow("one step") << 5u << quint64(1);
        QTest::newRow("odd count") << 0u << quint64(12345);
        QTest::newRow("one full surface") << 199u << quint64(83927045);
        QTest::newRow("beyond the period") << 1u << (quint64(1) << 32) + 17;
    }

    void jumpAheadMatchesStepping()
    {
        QFETCH(quint32, seed);
        QFETCH(quint64, steps);
        Rand15 stepped(seed);
        // The period is 2^32, so stepping the reduced count is the same walk.
        const quint64 reduced = steps % (quint64(1) << 32);
        for (quint64 i = 0; i < reduced; ++i)
            stepped.next();
        Rand15 jumped(seed);
        jumped.discard(steps);
        QCOMPARE(jumped.state(), stepped.state());
        QCOMPARE(jumped.next(), stepped.next());
    }

    // Rows drawn many lanes at a time are the draws of next(), in order,
    // for any length, and leave the state where next() would.
    void rowsInLanesAreTheSequence()
    {
        for (const int length : {0, 1, 7, 8, 9, 63, 1000}) {
            for (const int limit : {-1, 0, 16383, 32767}) {
                Rand15 lanes(quint32(length * 7919 + limit));
                Rand15 stepped = lanes;
                std::vector<std::uint8_t> row(std::size_t(length) + 1, 7);
                lanes.fillAtMost(row.data(), length, limit);
                for (int i = 0; i < length; ++i)
                    QCOMPARE(row[std::size_t(i)], std::uint8_t(stepped.next() <= limit));
                QCOMPARE(row.back(), std::uint8_t(7));
                QCOMPARE(lanes.state(), stepped.state());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRand15)
#include "tst_rand15.moc"
