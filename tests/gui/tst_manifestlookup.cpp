// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/manifestlookup.h"
#include "core/batch/batchmanifest.h"
#include "fractal/fractalfamily.h"
#include "gaussian/gaussianfamily.h"
#include "random/randomfamily.h"
#include "tests/support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

MapRecord record(const QString &path, const MapFamily &family, int cover, std::optional<double> H,
                 int replicate)
{
    MapRecord map;
    map.fileName = path;
    map.family = &family;
    map.rowCount = map.columnCount = 4;
    map.cellCount = 16;
    map.habitatCells = 4;
    map.requestedCover = cover;
    map.H = H;
    map.seed = 7;
    map.replicate = replicate;
    return map;
}

} // namespace

// The manifests are written by the batch's own writer, so the lookup reads
// exactly what runs leave beside their maps.
class TestManifestLookup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void findsTheRowOfItsOwnBatch()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        // Two batches in one folder, one prefix starting the other, and a
        // name that needs quoting.
        const QString shortMap = folder.filePath(QStringLiteral("A_010_4x4_a1.txt"));
        const QString longMap = folder.filePath(QStringLiteral("A_B,C_0.50_010_00002.txt"));
        QVERIFY(!writeManifest({record(shortMap, randomFamily(), 10, std::nullopt, 1)},
                               folder.filePath(QStringLiteral("A_"))));
        QVERIFY(!writeManifest({record(longMap, fractalFamily(), 10, 0.5, 2)},
                               folder.filePath(QStringLiteral("A_B,C_"))));

        ManifestLookup lookup;
        const auto fractal = lookup.find(longMap);
        QVERIFY(fractal);
        QCOMPARE(fractal->kind, QStringLiteral("fractal"));
        QCOMPARE(fractal->H, QStringLiteral("0.50"));
        QCOMPARE(fractal->replicate, QStringLiteral("2"));
        const auto random = lookup.find(shortMap);
        QVERIFY(random);
        QCOMPARE(random->kind, QStringLiteral("random"));
        QVERIFY(random->H.isEmpty());
        QCOMPARE(random->requestedCover, QStringLiteral("10"));

        // A map no manifest lists, and a map whose manifest changed since
        // it was read.
        QVERIFY(!lookup.find(folder.filePath(QStringLiteral("A_020_4x4_a1.txt"))));
        QVERIFY(!writeManifest({record(shortMap, randomFamily(), 30, std::nullopt, 19)},
                               folder.filePath(QStringLiteral("A_"))));
        QCOMPARE(lookup.find(shortMap)->replicate, QStringLiteral("19"));
    }

    // A family's own columns that describe a map (a field's model and
    // range) come with its entry, for the status bar.
    void aFamilysOwnColumnsComeWithTheEntry()
    {
        QTemporaryDir dir;
        const QString map = dir.filePath(QStringLiteral("G_matern_r5.00_030_00001.txt"));
        MapRecord field = record(map, gaussianFamily(), 30, std::nullopt, 1);
        ManifestColumns columns;
        for (const char *name : {"model", "range", "nu"})
            columns.family.append({name, {}, ManifestType::Text});
        field.parameters = columns.family;
        field.parameters[0].value = "matern";
        field.parameters[1].value = "5.00";
        QVERIFY(!writeManifest({field}, dir.filePath(QStringLiteral("G_")), columns));
        ManifestLookup lookup;
        const auto entry = lookup.find(map);
        QVERIFY(entry);
        QCOMPARE(entry->details, (QList<std::pair<QString, QString>>{
                                     {QStringLiteral("model"), QStringLiteral("matern")},
                                     {QStringLiteral("range"), QStringLiteral("5.00")}}));
    }

    void otherFilesNamedLikeAManifestAreIgnored()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("X_manifest.csv")), "name,value\nX_1.txt,3\n");
        ManifestLookup lookup;
        QVERIFY(!lookup.find(dir.filePath(QStringLiteral("X_1.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestManifestLookup)
#include "tst_manifestlookup.moc"
