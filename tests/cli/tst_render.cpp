// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "core/grid/mapreader.h"
#include "tests/support/cli.h"
#include "tests/support/files.h"
#include "tests/support/modal.h"
#include "tests/support/settings.h"
#include "view/landscapepicture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <set>

namespace {

// The render command, run as a user runs it.
CliRun render(const QStringList &arguments, const QString &workingDirectory,
              const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    CliOptions options;
    options.workingDirectory = workingDirectory;
    options.environment = environment;
    return runCli(QStringList{QStringLiteral("render")} + arguments, options);
}

// A plain map of `rows` lines holding `value(row, position)`.
QByteArray plainMap(int rows, int length, const std::function<int(int, int)> &value)
{
    QByteArray bytes;
    for (int r = 0; r < rows; ++r) {
        for (int i = 0; i < length; ++i)
            bytes += QByteArray::number(value(r, i)) + ' ';
        bytes += '\n';
    }
    return bytes;
}

bool isWhite(QRgb pixel)
{
    return (pixel & 0xffffffu) == 0xffffffu;
}

bool isBlack(QRgb pixel)
{
    return (pixel & 0xffffffu) == 0;
}

} // namespace

class TestRender : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCwd;
    ScratchSettings m_settings;

    QString path(const QString &name) const { return m_dir->filePath(name); }

private Q_SLOTS:
    void initTestCase() { m_oldCwd = QDir::currentPath(); }

    // Every test works in a fresh folder, which is also the working
    // directory where the window and the command line look for config.txt.
    void init()
    {
        m_settings.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
    }

    void cleanup()
    {
        QDir::setCurrent(m_oldCwd);
        m_dir.reset();
    }

    void previewIsWhatTheWindowShows_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("strayCode");
        QTest::newRow("two codes") << QByteArray() << 5;
        QTest::newRow("three codes") << QByteArray() << 0;
        QTest::newRow("three codes and NoData")
            << QByteArray("ncols 7\nnrows 7\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                          "NODATA_value -9\n")
            << 0;
    }

    void previewIsWhatTheWindowShows()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, strayCode);
        // Matrix code 5 from config.txt, read by the window and by the
        // command line alike. Cells hold the matrix code, the cover code 3
        // or a stray code; row 4 is short, so part of its column is left to
        // the window's background, which the preview shows black. In the
        // grid, whose rows cannot be short, that part is NoData.
        writeFile(path(QStringLiteral("config.txt")), "R_\n\nF_\n\n3\n5\n");
        QByteArray map = plainMap(7, 7, [strayCode](int r, int i) {
            const int k = (r * 5 + i * 3) % 7;
            return k < 3 ? 5 : (k < 6 ? 3 : strayCode);
        });
        QList<QByteArray> lines = map.split('\n');
        lines[4] = header.isEmpty() ? "5 3 5 " : "5 3 5 -9 -9 -9 -9 ";
        writeFile(path(QStringLiteral("mixed.txt")), header + lines.join('\n'));
        LandscapeGrid grid;
        MapFileInfo info;
        QVERIFY(!readMap(path(QStringLiteral("mixed.txt")), grid, {}, &info));
        const MapColours colours(MapCodes::of(grid, info.noData), 5);
        std::set<QRgb> cellColours;
        for (const MapColours::LegendEntry &entry : colours.legend())
            cellColours.insert(entry.colour | 0xff000000u);

        MainWindow window;
        window.resize(900, 760);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *list = window.findChild<QListWidget *>(QStringLiteral("fileListView"));
        window.addFiles({path(QStringLiteral("mixed.txt"))});
        list->setCurrentRow(0);
        QCOMPARE(window.currentGrid().rowCount(), std::size_t(7));
        // The window's own painting, without the frame's border and the
        // other child widgets drawn over it.
        QImage shown(window.size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(Qt::transparent);
        window.render(&shown, QPoint(), QRegion(), QWidget::DrawWindowBackground);

        const QRect area = LandscapePicture::drawingArea(window.mapFrame()).toRect();
        // Odd sizes, so that cells are not whole numbers of pixels.
        QVERIFY(area.width() % 7 != 0 || area.height() % 7 != 0);
        QVERIFY2(shown.rect().contains(area), "the drawing area must lie inside the window");

        const CliRun run = render({path(QStringLiteral("mixed.txt")), QStringLiteral("--out"),
                                   path(QStringLiteral("mixed.png")), QStringLiteral("--width"),
                                   QString::number(area.width()), QStringLiteral("--height"),
                                   QString::number(area.height())},
                                  m_dir->path());
        QCOMPARE(run.exitCode, 0);
        const QImage preview(path(QStringLiteral("mixed.png")));
        QCOMPARE(preview.size(), area.size());

        // Every colour of cell the window shows is in the preview, where the
        // window shows anything else the preview is black.
        std::set<QRgb> seen;
        int background = 0;
        for (int y = 0; y < area.height(); ++y) {
            for (int x = 0; x < area.width(); ++x) {
                const QRgb inWindow = shown.pixel(area.x() + x, area.y() + y);
                const QRgb inPreview = preview.pixel(x, y);
                const QString where = QStringLiteral("%1,%2").arg(x).arg(y);
                if (cellColours.count(inWindow)) {
                    seen.insert(inWindow);
                    QVERIFY2(inPreview == inWindow, qPrintable(where));
                } else {
                    ++background;
                    QVERIFY2(isBlack(inPreview), qPrintable(where));
                }
            }
        }
        QCOMPARE(seen, cellColours);
        if (header.isEmpty())
            QVERIFY(background > 0);
    }

    // File > Export picture writes what render writes for the same map,
    // matrix code and orientation, whatever the zoom.
    void exportIsWhatRenderWrites_data()
    {
        QTest::addColumn<bool>("rowsAsRows");
        QTest::newRow("default") << false;
        QTest::newRow("rows as rows") << true;
    }

    void exportIsWhatRenderWrites()
    {
        QFETCH(bool, rowsAsRows);
        writeFile(path(QStringLiteral("config.txt")), "R_\n\nF_\n\n3\n5\n");
        QByteArray map = plainMap(9, 6, [](int r, int i) { return (r * 3 + i) % 4 ? 3 : 5; });
        writeFile(path(QStringLiteral("map.txt")), map);
        MainWindow window;
        window.addFiles({path(QStringLiteral("map.txt"))});
        window.findChild<QListWidget *>(QStringLiteral("fileListView"))->setCurrentRow(0);
        if (rowsAsRows)
            window.findChild<QAction *>(QStringLiteral("actionRowsAsRows"))->trigger();
        window.findChild<QAction *>(QStringLiteral("actionZoomIn"))->trigger();
        const QString exported = path(QStringLiteral("exported.png"));
        whenModal<QFileDialog>([&exported](QFileDialog *dialog) {
            // Typed, as the Open test does: a selection can be replaced by
            // the suggested name while the dialog still reads its folder.
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(exported);
            static_cast<QDialog *>(dialog)->accept();
        });
        window.findChild<QAction *>(QStringLiteral("actionExportPicture"))->trigger();

        QStringList arguments{path(QStringLiteral("map.txt")), QStringLiteral("--out"),
                              path(QStringLiteral("rendered.png"))};
        if (rowsAsRows)
            arguments << QStringLiteral("--rows-as-rows");
        QCOMPARE(render(arguments, m_dir->path()).exitCode, 0);
        const QImage fromWindow(exported);
        QVERIFY(!fromWindow.isNull());
        QCOMPARE(fromWindow, QImage(path(QStringLiteral("rendered.png"))));
        QCOMPARE(filesIn(m_dir->path()).filter(QStringLiteral("exported")),
                 QStringList{QStringLiteral("exported.png")});
    }

    void firstLineIsTheLeftColumn()
    {
        // One pixel per cell: pixel (x, y) is position y of line x.
        writeFile(path(QStringLiteral("three.txt")), "0 1 1 \n1 0 1 \n1 1 1 \n");
        const CliRun run = render({QStringLiteral("three.txt"), QStringLiteral("--out"),
                                   QStringLiteral("three.png"), QStringLiteral("--quiet")},
                                  m_dir->path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.isEmpty());
        const QImage image(path(QStringLiteral("three.png")));
        QCOMPARE(image.size(), QSize(3, 3));
        const char *expected[3] = {"W..", ".W.", "..."};
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                QCOMPARE(isWhite(image.pixel(x, y)), expected[y][x] == 'W');

        // As GIS tools show it, pixel (x, y) is position x of line y.
        const CliRun rows = render({QStringLiteral("three.txt"), QStringLiteral("--out"),
                                    QStringLiteral("rows.png"), QStringLiteral("--rows-as-rows")},
                                   m_dir->path());
        QCOMPARE(rows.exitCode, 0);
        const QImage top(path(QStringLiteral("rows.png")));
        QCOMPARE(top.size(), QSize(3, 3));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                QCOMPARE(isWhite(top.pixel(x, y)), expected[x][y] == 'W');
    }

    // --legend adds the codes' colours and NoData's grey beside the map,
    // and leaves the map's pixels as they were.
    void legendAddsTheColoursBesideTheMap()
    {
        QByteArray map("ncols 40\nnrows 40\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                       "NODATA_value -9999\n");
        map += plainMap(40, 40, [](int r, int i) {
            return r > 10 && r < 20 && i > 5 ? -9999 : 1 + (r * 7 + i * 3) % 5;
        });
        writeFile(path(QStringLiteral("five.asc")), map);
        QCOMPARE(render({QStringLiteral("five.asc"), QStringLiteral("--out"),
                         QStringLiteral("plain.png")},
                        m_dir->path())
                     .exitCode,
                 0);
        const CliRun run = render({QStringLiteral("five.asc"), QStringLiteral("--out"),
                                   QStringLiteral("legend.png"), QStringLiteral("--legend")},
                                  m_dir->path());
        QCOMPARE(run.exitCode, 0);
        const QImage plain =
            QImage(path(QStringLiteral("plain.png"))).convertToFormat(QImage::Format_RGB32);
        const QImage legend =
            QImage(path(QStringLiteral("legend.png"))).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(plain.size(), QSize(40, 40));
        QVERIFY(legend.width() > plain.width() && legend.height() >= plain.height());
        QCOMPARE(legend.copy(plain.rect()), plain);
        std::set<QRgb> inMap;
        std::set<QRgb> inLegend;
        for (int y = 0; y < legend.height(); ++y) {
            for (int x = 0; x < legend.width(); ++x) {
                if (x >= plain.width())
                    inLegend.insert(legend.pixel(x, y));
                else if (y < plain.height())
                    inMap.insert(legend.pixel(x, y));
            }
        }
        QCOMPARE(inMap.size(), std::size_t(6));
        for (const QRgb colour : inMap)
            QVERIFY2(inLegend.count(colour), qPrintable(QString::number(colour, 16)));
    }

    void sizes_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QSize>("size");
        QTest::newRow("a pixel per cell") << 40 << QStringList{} << QSize(40, 40);
        QTest::newRow("scaled down above 1024") << 1100 << QStringList{} << QSize(1024, 1024);
        QTest::newRow("width alone") << 40 << QStringList{"--width", "90"} << QSize(90, 90);
        QTest::newRow("height alone") << 40 << QStringList{"--height", "7"} << QSize(7, 7);
        QTest::newRow("both, stretched")
            << 40 << QStringList{"--width", "30", "--height", "100"} << QSize(30, 100);
    }

    void sizes()
    {
        QFETCH(int, rows);
        QFETCH(QStringList, options);
        QFETCH(QSize, size);
        // Rows of different length: the row count alone decides.
        writeFile(path(QStringLiteral("sized.txt")),
                  plainMap(rows, 3, [](int r, int i) { return (r + i) % 2; }));
        const CliRun run = render(QStringList{QStringLiteral("sized.txt"), QStringLiteral("--out"),
                                              QStringLiteral("sized.png")} +
                                      options,
                                  m_dir->path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QImage(path(QStringLiteral("sized.png"))).size(), size);
    }

    void severalMapsGoIntoAFolder()
    {
        writeFile(path(QStringLiteral("a.txt")), "1 0 \n0 0 \n");
        writeFile(path(QStringLiteral("b.asc")),
                  "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 0\n0 0\n");
        const CliRun run = render({QStringLiteral("a.txt"), QStringLiteral("b.asc"),
                                   QStringLiteral("--out"), QStringLiteral("new/previews"),
                                   QStringLiteral("--width"), QStringLiteral("64")},
                                  m_dir->path());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QStringLiteral("2 previews")), qPrintable(run.out));
        const QImage a(path(QStringLiteral("new/previews/a.png")));
        const QImage b(path(QStringLiteral("new/previews/b.png")));
        QCOMPARE(a.size(), QSize(64, 64));
        // The grid is drawn as the map it holds, like the plain file.
        QVERIFY(a == b);
        QVERIFY(isBlack(a.pixel(10, 10)) && isWhite(a.pixel(40, 10)));

        // One map into an existing folder takes its name too.
        const CliRun into = render({QStringLiteral("a.txt"), QStringLiteral("--out"),
                                    QStringLiteral("new"), QStringLiteral("--quiet")},
                                   m_dir->path());
        QCOMPARE(into.exitCode, 0);
        QCOMPARE(QImage(path(QStringLiteral("new/a.png"))).size(), QSize(2, 2));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no map") << QStringList{"--out", "x.png"} << "no map";
        QTest::newRow("no out") << QStringList{"ok.txt"} << "--out";
        QTest::newRow("width 0") << QStringList{"ok.txt", "--out", "x.png", "--width", "0"}
                                 << "--width";
        QTest::newRow("height too large")
            << QStringList{"ok.txt", "--out", "x.png", "--height", "8193"} << "--height";
        QTest::newRow("width text")
            << QStringList{"ok.txt", "--out", "x.png", "--width", "big"} << "--width";
        QTest::newRow("matrix value text")
            << QStringList{"ok.txt", "--out", "x.png", "--matrix-value", "white"}
            << "--matrix-value";
        QTest::newRow("same name twice")
            << QStringList{"ok.txt", "sub/ok.txt", "--out", "folder"} << "both";
        QTest::newRow("unknown option")
            << QStringList{"ok.txt", "--out", "x.png", "--dpi", "3"} << "dpi";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("ok.txt")), "1 0 \n0 1 \n");
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        writeFile(dir.filePath(QStringLiteral("sub/ok.txt")), "1 0 \n0 1 \n");
        const CliRun run = render(arguments, dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("ok.txt"), QStringLiteral("sub")}));
    }

    void failuresNameThePathAndSpareTheRest()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("good.txt")), "1 0 \n0 1 \n");
        writeFile(dir.filePath(QStringLiteral("empty.txt")), "\n\n");
        writeFile(dir.filePath(QStringLiteral("broken.asc")), "ncols 2\nnrows 2\n1 0\n");
        writeFile(dir.filePath(QStringLiteral("image.txt")),
                  QByteArrayLiteral("\x89PNG\r\n\x1a\n\0\0\0\rIHDR 1 "));
        const CliRun run =
            render({QStringLiteral("missing.txt"), QStringLiteral("empty.txt"),
                    QStringLiteral("broken.asc"), QStringLiteral("image.txt"),
                    QStringLiteral("good.txt"), QStringLiteral("--out"), QStringLiteral("out")},
                   dir.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("missing.txt: No such file")),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("empty.txt: no map rows")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("broken.asc: the grid ends after 2 of its 4")),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("image.txt: not a map file")),
                 qPrintable(run.err));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("good.png")});

        // A preview that cannot be written leaves nothing under its name.
        const CliRun unwritable = render({QStringLiteral("good.txt"), QStringLiteral("--out"),
                                          QStringLiteral("no/such/folder.png")},
                                         dir.path());
        QCOMPARE(unwritable.exitCode, 1);
        QVERIFY2(unwritable.err.contains(QStringLiteral("folder.png")), qPrintable(unwritable.err));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("no"))));
    }

    void drawsWithoutADisplay_data()
    {
        QTest::addColumn<QString>("display");
        QTest::newRow("no display at all") << QString();
        QTest::newRow("a display that cannot be reached") << QStringLiteral(":97");
    }

    void drawsWithoutADisplay()
    {
        QFETCH(QString, display);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("m.txt")), "1 0 \n0 1 \n");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
            environment.remove(QLatin1String(name));
        if (!display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), display);
        const CliRun run = render({QStringLiteral("m.txt"), QStringLiteral("--out"),
                                   QStringLiteral("m.png"), QStringLiteral("--quiet")},
                                  dir.path(), environment);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        QCOMPARE(QImage(dir.filePath(QStringLiteral("m.png"))).size(), QSize(2, 2));
    }
};

QTEST_MAIN(TestRender)
#include "tst_render.moc"
