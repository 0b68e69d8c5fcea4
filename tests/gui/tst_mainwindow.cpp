// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "tests/support/files.h"
#include "tests/support/literalpicture.h"
#include "tests/support/modal.h"
#include "tests/support/settings.h"
#include "view/landscapepicture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QAction *action(MainWindow &w, const char *name)
{
    return w.findChild<QAction *>(QLatin1String(name));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
    ScratchSettings m_settings;

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        m_oldCwd = QDir::currentPath();
    }

    void init()
    {
        // Every window reads config.txt from a fresh working directory and
        // starts as on a first run.
        m_settings.clear();
        QDir(m_dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_dir.path()));
        QVERIFY(QDir::setCurrent(m_dir.path()));
    }

    void cleanupTestCase() { QDir::setCurrent(m_oldCwd); }

    void startsEmptyWithSettingsFromConfig()
    {
        writeFile(QStringLiteral("config.txt"), "R_\n;r\nF_\n;f\n3\n-4\n");
        MainWindow w;
        QCOMPARE(w.findChild<QListWidget *>(QStringLiteral("fileListView"))->count(), 0);
        QVERIFY(w.currentGrid().isEmpty());
        QCOMPARE(w.appSettings().randomPrefix, QStringLiteral("R_"));
        QCOMPARE(w.appSettings().fractalPostString, QStringLiteral(";f"));
        QCOMPARE(w.appSettings().coverValue, 3);
        QCOMPARE(w.appSettings().matrixValue, -4);
    }

    void drawingAreaShowsThroughTheFrame()
    {
        // The map is painted on the window itself; the frame and the
        // central widget must not cover it with a background of their own.
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *frame = w.findChild<QFrame *>(QStringLiteral("frameView"));
        const QPoint centre = frame->mapTo(&w, frame->rect().center());
        const QColor colour = w.grab().toImage().pixelColor(centre);
        QVERIFY2(colour.green() > colour.red() + 60 && colour.green() > colour.blue() + 60,
                 qPrintable(colour.name()));
    }

    void openAppendsWithoutDeduplicating()
    {
        writeFile(QStringLiteral("a.txt"), "1 0 \n0 1 \n");
        writeFile(QStringLiteral("b.txt"), "1 1 \n");
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        QStringList startedIn;
        for (int round = 0; round < 2; ++round) {
            whenModal<QFileDialog>([this, &startedIn](QFileDialog *dialog) {
                startedIn << dialog->directory().absolutePath();
                // Absolute names: relative ones resolve against a directory
                // the dialog may still be reading in the background.
                const QDir dir(m_dir.path());
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                    ->setText(QStringLiteral("\"%1\" \"%2\"")
                                  .arg(dir.filePath(QStringLiteral("a.txt")),
                                       dir.filePath(QStringLiteral("b.txt"))));
                static_cast<QDialog *>(dialog)->accept();
            });
            action(w, "actionOpen")->trigger();
        }
        QCOMPARE(list->count(), 4);
        // Entries show the name and hold the full path.
        QCOMPARE(list->item(2)->text(), QStringLiteral("a.txt"));
        QCOMPARE(MainWindow::pathOf(list->item(2)),
                 QDir(m_dir.path()).filePath(QStringLiteral("a.txt")));
        QCOMPARE(list->item(3)->toolTip(),
                 QDir::toNativeSeparators(MainWindow::pathOf(list->item(3))));
        // The second Open begins where the first took its files.
        QCOMPARE(startedIn.size(), 2);
        QCOMPARE(startedIn.at(1), QDir(m_dir.path()).absolutePath());
        // Opening selects nothing, so nothing is loaded yet.
        QVERIFY(w.currentGrid().isEmpty());

        // A cancelled dialog leaves the list as it was.
        whenModal<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
        action(w, "actionOpen")->trigger();
        QCOMPARE(list->count(), 4);
        QVERIFY(w.listedFileNames().isEmpty());
    }

    void selectingAnEntryLoadsItsMap()
    {
        writeFile(QStringLiteral("São.txt"), "1 0 \n0 1 \n");
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("São.txt")),
                    QDir(m_dir.path()).filePath(QStringLiteral("missing.txt"))});

        list->setCurrentRow(0);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(2));
        QCOMPARE(w.currentGrid().at(1, 1), 1);

        // A file that is gone empties the view and says why, without a box.
        list->setCurrentRow(1);
        QVERIFY(w.currentGrid().isEmpty());
        QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("missing.txt")));

        // Coming back reads the file again from disk.
        writeFile(QStringLiteral("São.txt"), "7 7 7 \n");
        list->setCurrentRow(0);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(1));
        QCOMPARE(w.currentGrid().at(0, 2), 7);
        QCOMPARE(w.statusBar()->currentMessage(),
                 QStringLiteral("São.txt: 1 × 3 cells, cover 100.00 %"));
        // A menu passing over items without a tip does not take it away.
        QStatusTipEvent tip{QString()};
        QApplication::sendEvent(&w, &tip);
        QCOMPARE(w.statusBar()->currentMessage(),
                 QStringLiteral("São.txt: 1 × 3 cells, cover 100.00 %"));

        // A picture opened by mistake is refused, not drawn as zeros.
        QImage(8, 8, QImage::Format_RGB32).save(QStringLiteral("photo.png"));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("photo.png"))});
        list->setCurrentRow(2);
        QVERIFY(w.currentGrid().isEmpty());
        QVERIFY2(w.statusBar()->currentMessage().contains(QStringLiteral("not a map file")),
                 qPrintable(w.statusBar()->currentMessage()));
        QVERIFY(!action(w, "actionExportPicture")->isEnabled());
    }

    // A large map is read while the window goes on: it still shows the map
    // it had and says what it reads; a map chosen meanwhile wins, and the
    // read it replaced never shows up.
    void largeMapLoadsWhileTheWindowGoesOn()
    {
        writeFile(QStringLiteral("small.txt"), "1 0 \n0 1 \n");
        writeFile(QStringLiteral("large.txt"),
                  QByteArray("1 0 ").repeated(1100).append('\n').repeated(1200));
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("small.txt")),
                    QDir(m_dir.path()).filePath(QStringLiteral("large.txt"))});
        list->setCurrentRow(0);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(2));
        QSignalSpy shown(&w, &MainWindow::mapShown);

        list->setCurrentRow(1);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(2));
        QVERIFY2(w.statusBar()->currentMessage().contains(QStringLiteral("large.txt")),
                 qPrintable(w.statusBar()->currentMessage()));
        QVERIFY(shown.wait(30000));
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(1200));
        QVERIFY(
            w.statusBar()->currentMessage().startsWith(QStringLiteral("large.txt: 1200 × 2200")));

        list->setCurrentRow(0);
        list->setCurrentRow(1);
        list->setCurrentRow(0);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(2));
        // Reads run one at a time, so the one below is shown after any the
        // earlier choice could still have posted.
        list->setCurrentRow(1);
        QVERIFY(shown.wait(30000));
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(1200));
        const auto large = std::count_if(shown.begin(), shown.end(), [](const QList<QVariant> &s) {
            return s.at(0).toString().endsWith(QStringLiteral("large.txt"));
        });
        QCOMPARE(large, 2);
    }

    // With both view options off and no zoom, the window draws exactly the
    // picture it always drew; after any other view it does so again.
    void defaultViewIsTodaysPicture()
    {
        QByteArray map;
        for (int r = 0; r < 37; ++r) {
            for (int i = 0; i < 37 - (r % 5 == 3 ? 9 : 0); ++i)
                map += QByteArray::number((r * 7 + i * 3) % 5 == 0 ? 0 : 1) + ' ';
            map += '\n';
        }
        writeFile(QStringLiteral("map.txt"), map);
        MainWindow w;
        w.resize(713, 487);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("map.txt"))});
        w.findChild<QListWidget *>(QStringLiteral("fileListView"))->setCurrentRow(0);
        // The window's own painting, without the child widgets over it.
        const auto shown = [&w] {
            QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            w.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
            return image;
        };
        const QImage expected = literalImage(w.currentGrid(), 0, w.size(), w.mapFrame(),
                                             w.palette().color(QPalette::Window));
        COMPARE_IMAGES(shown(), expected);

        action(w, "actionSquareCells")->trigger();
        action(w, "actionRowsAsRows")->trigger();
        action(w, "actionZoomIn")->trigger();
        QVERIFY(shown() != expected);
        action(w, "actionSquareCells")->trigger();
        action(w, "actionRowsAsRows")->trigger();
        action(w, "actionZoomToFit")->trigger();
        QVERIFY(w.pictureView().isDefault());
        COMPARE_IMAGES(shown(), expected);
    }

    // The legend's swatches are the colours the map is drawn in: five codes
    // and NoData for a masked five-class map, and back to the two of a
    // two-class map after it.
    void legendShowsTheColoursOfTheMap()
    {
        QByteArray five("ncols 30\nnrows 20\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                        "NODATA_value -9999\n");
        for (int r = 0; r < 20; ++r) {
            for (int c = 0; c < 30; ++c)
                five += QByteArray::number(r > 5 && c > 8 && c < 16 ? -9999 : 1 + (r + 2 * c) % 5) +
                        ' ';
            five += '\n';
        }
        writeFile(QStringLiteral("five.asc"), five);
        writeFile(QStringLiteral("two.txt"), "0 1 \n1 1 \n");
        MainWindow w;
        w.resize(713, 487);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("five.asc")),
                    QDir(m_dir.path()).filePath(QStringLiteral("two.txt"))});
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        const auto swatches = [&w] {
            std::set<QRgb> colours;
            for (const QLabel *label :
                 w.findChild<QWidget *>(QStringLiteral("legend"))->findChildren<QLabel *>())
                if (!label->pixmap().isNull())
                    colours.insert(label->pixmap().toImage().pixel(6, 6));
            return colours;
        };
        list->setCurrentRow(0);
        QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        w.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        // Cells are many pixels each, so a colour of a hundred pixels or more
        // is a cell's; the background's edges are thin lines.
        std::map<QRgb, int> drawn;
        const QRect area = LandscapePicture::drawingArea(w.mapFrame()).toRect();
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ++drawn[image.pixel(x, y)];
        std::set<QRgb> cells;
        for (const auto &[colour, count] : drawn)
            if (count >= 100)
                cells.insert(colour);
        QCOMPARE(cells.size(), std::size_t(6));
        QCOMPARE(swatches(), cells);

        list->setCurrentRow(1);
        QCOMPARE(swatches(), (std::set<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)}));
    }

    // The view options, the window's size and the folders come back at the
    // next start; nothing of it goes into config.txt.
    void arrangementIsRememberedAcrossStarts()
    {
        {
            MainWindow w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            // The list widens with the window, not only the map.
            auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
            const int narrow = list->width();
            w.resize(w.width() + 400, w.height());
            QTRY_VERIFY(list->width() > narrow + 50);
            QVERIFY(!w.pictureView().squareCells && !w.pictureView().rowsAsRows);
            action(w, "actionRowsAsRows")->trigger();
            w.resize(777, 555);
            w.close();
        }
        MainWindow w;
        QVERIFY(action(w, "actionRowsAsRows")->isChecked());
        QVERIFY(w.pictureView().rowsAsRows && !w.pictureView().squareCells);
        QCOMPARE(w.size(), QSize(777, 555));
        QVERIFY(!QFileInfo::exists(QStringLiteral("config.txt")));
    }

    void zoomFollowsKeysWheelAndDrag()
    {
        QByteArray map;
        for (int r = 0; r < 40; ++r)
            map += QByteArray("0 1 ").repeated(20) + '\n';
        writeFile(QStringLiteral("map.txt"), map);
        MainWindow w;
        w.resize(700, 500);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("map.txt"))});
        w.findChild<QListWidget *>(QStringLiteral("fileListView"))->setCurrentRow(0);
        auto *frame = w.findChild<QFrame *>(QStringLiteral("frameView"));

        // A drag does nothing to a map that fits.
        QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(50, 50));
        QTest::mouseMove(frame, QPoint(90, 90));
        QTest::mouseRelease(frame, Qt::LeftButton, {}, QPoint(90, 90));
        QVERIFY(w.pictureView().isDefault());

        QTest::keyClick(&w, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(w.pictureView().zoom, 2.0);
        QTest::keyClick(&w, Qt::Key_Minus, Qt::ControlModifier);
        QVERIFY(w.pictureView().isDefault());

        // Two notches of the wheel with Ctrl, near the frame's top left
        // corner: that corner of the map stays in view.
        const QPoint corner(30, 30);
        QWheelEvent wheel(corner, frame->mapToGlobal(corner), QPoint(), QPoint(0, 240),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(frame, &wheel);
        QCOMPARE(w.pictureView().zoom, 1.25 * 1.25);
        QVERIFY(w.pictureView().centre.x() < 0.5 && w.pictureView().centre.y() < 0.5);

        // Dragging the map left and up shows more of its right and bottom.
        const QPointF before = w.pictureView().centre;
        QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(200, 200));
        QTest::mouseMove(frame, QPoint(150, 170));
        QTest::mouseRelease(frame, Qt::LeftButton, {}, QPoint(150, 170));
        QVERIFY(w.pictureView().centre.x() > before.x());
        QVERIFY(w.pictureView().centre.y() > before.y());

        QTest::keyClick(&w, Qt::Key_0, Qt::ControlModifier);
        QVERIFY(w.pictureView().isDefault());
    }

    void keysOpenRemoveAndQuit()
    {
        writeFile(QStringLiteral("a.txt"), "1 0 \n0 1 \n");
        writeFile(QStringLiteral("b.txt"), "1 1 1 \n");
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        bool opened = false;
        whenModal<QFileDialog>([&opened](QFileDialog *dialog) {
            opened = true;
            dialog->reject();
        });
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QVERIFY(opened);

        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("a.txt")),
                    QDir(m_dir.path()).filePath(QStringLiteral("b.txt"))});
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        list->setFocus();
        list->setCurrentRow(0);
        // The entry goes, the next one is shown, and the files stay.
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QStringLiteral("b.txt"));
        QCOMPARE(w.currentGrid().row(0).size(), std::size_t(3));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->count(), 0);
        QVERIFY(w.currentGrid().isEmpty());
        QVERIFY(QFileInfo::exists(QStringLiteral("a.txt")));

        // Within each menu, and across the menu bar, every Alt key leads to
        // one place only.
        const auto mnemonic = [](const QString &text) {
            const qsizetype at = text.indexOf(QLatin1Char('&'));
            return at < 0 ? QChar() : text.at(at + 1).toLower();
        };
        QList<QList<QAction *>> groups{w.menuBar()->actions()};
        for (QAction *menu : w.menuBar()->actions())
            groups << menu->menu()->actions();
        for (const auto &group : groups) {
            QSet<QChar> used;
            for (const QAction *entry : group) {
                if (entry->isSeparator())
                    continue;
                const QChar key = mnemonic(entry->text());
                QVERIFY2(!key.isNull() && !used.contains(key), qPrintable(entry->text()));
                used.insert(key);
            }
        }

        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!w.isVisible());
    }

    void droppedFilesAreListedLikeOpenedOnes()
    {
        writeFile(QStringLiteral("a.txt"), "1 0 \n");
        QVERIFY(QDir().mkdir(QStringLiteral("folder")));
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        w.addFiles({QStringLiteral("/before.txt")});
        QMimeData data;
        const QString file = QDir(m_dir.path()).filePath(QStringLiteral("a.txt"));
        data.setUrls({QUrl::fromLocalFile(file), QUrl::fromLocalFile(file),
                      QUrl::fromLocalFile(QDir(m_dir.path()).filePath(QStringLiteral("folder"))),
                      QUrl(QStringLiteral("https://example.org/map.txt"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&w, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&w, &drop);
        QCOMPARE(list->count(), 3);
        QCOMPARE(MainWindow::pathOf(list->item(1)), file);
        QCOMPARE(MainWindow::pathOf(list->item(2)), file);

        // Nothing local, nothing taken.
        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.org/map.txt"))});
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &web, Qt::LeftButton, {});
        refused.setAccepted(false);
        QApplication::sendEvent(&w, &refused);
        QVERIFY(!refused.isAccepted());
    }

    void loadedMapShowsItsSizeAndCover_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("map");
        QTest::addColumn<QString>("status");
        // A batch's manifest beside the map, as the window finds it.
        QTest::addColumn<QByteArray>("manifest");
        // 99 of 200 cells are not matrix: 49.50 %.
        QByteArray twoHundred;
        for (int r = 0; r < 10; ++r) {
            for (int c = 0; c < 20; ++c)
                twoHundred += (r * 20 + c < 99) ? "1 " : "0 ";
            twoHundred += '\n';
        }
        QTest::newRow("rectangle")
            << QByteArray() << twoHundred << QStringLiteral("map.txt: 10 × 20 cells, cover 49.50 %")
            << QByteArray();
        // Every code but the matrix code counts as cover, a stray 7 too,
        // which makes three classes.
        QTest::newRow("matrix code from the settings")
            << QByteArray("R_\n\nF_\n\n1\n-2\n") << QByteArray("-2 1 \n7 -2 \n-2 -2 \n")
            << QStringLiteral("map.txt: 3 × 2 cells, cover 33.33 %, 3 classes") << QByteArray();
        QTest::newRow("ragged rows")
            << QByteArray() << QByteArray("1 0 0 \n1 \n0 0 0 1 \n")
            << QStringLiteral("map.txt: 3 rows of 1 to 4 cells, cover 37.50 %") << QByteArray();
        QTest::newRow("grid for GIS tools")
            << QByteArray()
            << QByteArray("ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 0 0\n0 0 0\n")
            << QStringLiteral("map.txt: 2 × 3 cells, cover 16.67 %") << QByteArray();
        // NoData cells are outside the map: the cover is a share of the rest.
        QTest::newRow("grid with NoData")
            << QByteArray()
            << QByteArray("ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                          "NODATA_value -1\n1 -1 0\n0 -1 0\n")
            << QStringLiteral("map.txt: 2 × 3 cells, cover 25.00 %, 2 NoData cells")
            << QByteArray();
        // A plain map of a study area says its outside in the manifest.
        QTest::newRow("plain map of a study area")
            << QByteArray() << QByteArray("1 -9 2 \n3 -9 1 \n")
            << QStringLiteral("map.txt: 2 × 3 cells, cover 100.00 %, 3 classes, 2 NoData cells · "
                              "random, requested cover 30 %, seed 5, replicate 1")
            << QByteArray("file,kind,requested_cover,H,seed,replicate,nodata\n"
                          "map.txt,random,30,,5,1,-9\n");
        QTest::newRow("no cells") << QByteArray() << QByteArray("\n\n")
                                  << QStringLiteral("map.txt: no cells in this file")
                                  << QByteArray();
    }

    void loadedMapShowsItsSizeAndCover()
    {
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, map);
        QFETCH(QString, status);
        QFETCH(QByteArray, manifest);
        if (!manifest.isEmpty())
            writeFile(QStringLiteral("manifest.csv"), manifest);
        if (!config.isEmpty())
            writeFile(QStringLiteral("config.txt"), config);
        writeFile(QStringLiteral("map.txt"), map);
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("map.txt"))});
        list->setCurrentRow(0);
        QCOMPARE(w.statusBar()->currentMessage(), status);
    }

    void settingsOkSavesAndCancelKeepsOnlyTheSeed()
    {
        MainWindow w;
        whenModal<QDialog>([](QDialog *dialog) {
            auto *prefix = dialog->findChild<QLineEdit *>(QStringLiteral("preTextRnd"));
            // The dialog shows the current (empty) settings, not its defaults.
            QVERIFY(prefix->text().isEmpty());
            prefix->setText(QStringLiteral("MY_"));
            dialog->findChild<QSpinBox *>(QStringLiteral("matrixValue"))->setValue(-9);
            clickOk(dialog);
        });
        action(w, "actionParametros")->trigger();
        QCOMPARE(w.appSettings().randomPrefix, QStringLiteral("MY_"));
        QCOMPARE(readAll(QStringLiteral("config.txt")), QByteArray("MY_\n\n\n\n1\n-9\n"));

        whenModal<QDialog>([](QDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("preTextRnd"))
                ->setText(QStringLiteral("LOST_"));
            dialog->findChild<QSpinBox *>(QStringLiteral("seedRnd"))->setValue(11);
            dialog->reject();
        });
        action(w, "actionParametros")->trigger();
        QCOMPARE(w.appSettings().randomPrefix, QStringLiteral("MY_"));
        QCOMPARE(readAll(QStringLiteral("config.txt")), QByteArray("MY_\n\n\n\n1\n-9\n"));

        // The seed typed before Cancel drives the next random run.
        whenModal<QDialog>([](QDialog *dialog) {
            QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("preTextRnd"))->text(),
                     QStringLiteral("MY_"));
            QCOMPARE(dialog->findChild<QSpinBox *>(QStringLiteral("seedRnd"))->value(), 11);
            dialog->reject();
        });
        action(w, "actionParametros")->trigger();
    }

    void randomBatchFillsTheListAndWritesTheBatchList()
    {
        writeFile(QStringLiteral("config.txt"), "RND_\n;x\nFBM_\n\n1\n0\n");
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        list->addItem(QStringLiteral("stale entry"));
        const QString folder = QDir(m_dir.path()).filePath(QStringLiteral("new/maps"));
        whenModal<QDialog>([folder](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(0);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(100);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cp"))->setValue(25);
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(10);
            dialog->findChild<QSpinBox *>(QStringLiteral("amo"))->setValue(3);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(folder);
            clickOk(dialog);
        });
        action(w, "actionRandom")->trigger();

        QCOMPARE(list->count(), 15);
        const QString stem = QDir::toNativeSeparators(folder) + QDir::separator();
        QCOMPARE(MainWindow::pathOf(list->item(0)), stem + QStringLiteral("RND_000_10x10_a1.txt"));
        QCOMPARE(MainWindow::pathOf(list->item(14)), stem + QStringLiteral("RND_100_10x10_a3.txt"));
        QCOMPARE(list->item(14)->text(), QStringLiteral("RND_100_10x10_a3.txt"));
        QByteArray expected;
        for (int i = 0; i < list->count(); ++i)
            expected += MainWindow::pathOf(list->item(i)).toLatin1() + ";x\n";
        QCOMPARE(readAll(stem + QStringLiteral("RND_ListFragStat.fbt")), expected);

        list->setCurrentRow(14);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(10));
        QCOMPARE(w.currentGrid().at(9, 9), 1);
        // The manifest beside the map says how it was made.
        QVERIFY2(w.statusBar()->currentMessage().endsWith(
                     QStringLiteral("random, requested cover 100 %, seed 5, replicate 3")),
                 qPrintable(w.statusBar()->currentMessage()));

        // The manifest lists the same maps in the same order, without their
        // folder.
        const QList<QByteArray> manifest =
            readAll(stem + QStringLiteral("RND_manifest.csv")).split('\n');
        QCOMPARE(manifest.size(), 1 + 15 + 1);
        QVERIFY(manifest.first().startsWith("file,kind,size,requested_cover,realised_cover"));
        QVERIFY(manifest.at(1).startsWith("RND_000_10x10_a1.txt,random,10,0,"));
        QVERIFY(manifest.at(15).startsWith("RND_100_10x10_a3.txt,random,10,100,100.00,,5,3,"));
    }

    // The batch runs off the GUI thread: the window keeps turning its event
    // loop while maps that take longer than a frame are written, and Cancel
    // still stops the run between maps with the finished ones listed.
    void batchKeepsTheWindowResponsiveAndStopsOnCancel()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString folder = QDir(m_dir.path()).filePath(QStringLiteral("big"));
        whenModal<QDialog>([folder](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(50);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(50);
            // About 50 MB a map: far longer to write than a tenth of a second.
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(7000);
            dialog->findChild<QSpinBox *>(QStringLiteral("amo"))->setValue(50);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(folder);
            clickOk(dialog);
        });
        // The window keeps handling events while a map is made: the ticker
        // fires several times before the first map of 50 MB is done. (How
        // long it may go without an event is measured by bench_window.)
        int ticksDuringFirstMap = 0;
        bool canceled = false;
        QTimer ticker;
        ticker.setInterval(5);
        connect(&ticker, &QTimer::timeout, &w, [&] {
            auto *progress = w.findChild<QProgressDialog *>();
            if (progress && progress->value() == 0)
                ++ticksDuringFirstMap;
            if (progress && progress->value() >= 1 && !canceled) {
                canceled = true;
                progress->findChild<QPushButton *>()->click();
            }
        });
        ticker.start();
        action(w, "actionRandom")->trigger();
        ticker.stop();

        QVERIFY(canceled);
        QVERIFY2(ticksDuringFirstMap >= 2, qPrintable(QString::number(ticksDuringFirstMap)));
        const QStringList listed = w.listedFileNames();
        QVERIFY(!listed.isEmpty() && listed.size() < 50);
        QStringList maps = filesIn(folder).filter(QStringLiteral(".txt"));
        QCOMPARE(maps.size(), listed.size());
        const QString stem = QDir::toNativeSeparators(folder) + QDir::separator();
        QCOMPARE(readAll(stem + QStringLiteral("ListFragStat.fbt")).count('\n'), listed.size());
    }

    // The settings dialog keeps only what config.txt can store and a batch
    // can use: OK stays off, with the reason above it, until the values can
    // be kept.
    void settingsDialogKeepsOkOffWhileValuesCannotBeKept()
    {
        MainWindow w;
        QStringList reasons;
        bool okAfterwards = false;
        whenModal<QDialog>([&reasons, &okAfterwards](QDialog *dialog) {
            auto *prefix = dialog->findChild<QLineEdit *>(QStringLiteral("preTextRnd"));
            auto *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
            const auto *reason = dialog->findChild<QLabel *>(QStringLiteral("reason"));
            auto refused = [&] {
                QVERIFY(!ok->isEnabled() && !reason->isHidden());
                // A reason of two lines gets their height, not that of one.
                QVERIFY(reason->height() >= reason->heightForWidth(reason->width()));
                reasons << reason->text();
                // Pressed anyway, OK changes nothing and closes nothing.
                ok->click();
                QVERIFY(dialog->isVisible());
            };
            prefix->setText(QStringLiteral("Ω_"));
            refused();
            prefix->setText(QStringLiteral("../X_"));
            refused();
            prefix->clear();
            dialog->findChild<QSpinBox *>(QStringLiteral("coverValue"))->setValue(3);
            dialog->findChild<QSpinBox *>(QStringLiteral("matrixValue"))->setValue(3);
            refused();
            dialog->findChild<QSpinBox *>(QStringLiteral("matrixValue"))->setValue(0);
            okAfterwards = ok->isEnabled() && reason->isHidden();
            dialog->reject();
        });
        action(w, "actionParametros")->trigger();
        QCOMPARE(reasons.size(), 3);
        QVERIFY2(reasons[0].contains(QStringLiteral("Latin-1")), qPrintable(reasons[0]));
        QVERIFY2(reasons[1].contains(QStringLiteral("separator")), qPrintable(reasons[1]));
        QVERIFY2(
            reasons[2].startsWith(QStringLiteral("The habitat and the matrix code are both 3")),
            qPrintable(reasons[2]));
        QVERIFY(okAfterwards);
        QVERIFY(!QFileInfo::exists(QStringLiteral("config.txt")));
    }

    // A folder typed relative still gives a list of absolute paths; a second
    // run into it asks before replacing the first, and a run that wrote no
    // map never says that maps were written.
    void rerunsAskAndReportsSayWhatHappened()
    {
        writeFile(QStringLiteral("config.txt"), "RND_\n\nFBM_\n\n1\n0\n");
        MainWindow w;
        auto runRandom = [&w](int lastCover) {
            whenModal<QDialog>([lastCover](QDialog *dialog) {
                dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(10);
                dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(lastCover);
                dialog->findChild<QSpinBox *>(QStringLiteral("Cp"))->setValue(10);
                dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(4);
                dialog->findChild<QLineEdit *>(QStringLiteral("path"))
                    ->setText(QStringLiteral("rel/out"));
                clickOk(dialog);
            });
            action(w, "actionRandom")->trigger();
        };
        runRandom(30);
        const QString folder = QDir(m_dir.path()).filePath(QStringLiteral("rel/out"));
        QCOMPARE(w.listedFileNames().size(), 3);
        for (const QString &name : w.listedFileNames())
            QVERIFY2(QDir::isAbsolutePath(name) && QFile::exists(name), qPrintable(name));
        const QByteArray firstList = readAll(folder + QStringLiteral("/RND_ListFragStat.fbt"));

        QString question;
        QString kept;
        for (const auto button : {QMessageBox::No, QMessageBox::Yes}) {
            whenModal<QMessageBox>([&question, &kept, button](QMessageBox *box) {
                question = box->text();
                // Declining brings the dialog back, with the values typed.
                if (button == QMessageBox::No)
                    whenModal<DialogRnd>([](DialogRnd *dialog) {
                        QCOMPARE(dialog->finalCover(), 20);
                        dialog->reject();
                    });
                box->button(button)->click();
                // The earlier run's third map is not rewritten; the report
                // says so once the run is done.
                if (button == QMessageBox::Yes)
                    whenModal<QMessageBox>([&kept](QMessageBox *report) {
                        kept = report->text();
                        report->accept();
                    });
            });
            runRandom(20);
            QVERIFY2(question.contains(QStringLiteral("5 file(s)")), qPrintable(question));
            if (button == QMessageBox::No) {
                QCOMPARE(w.listedFileNames().size(), 3);
                QCOMPARE(readAll(folder + QStringLiteral("/RND_ListFragStat.fbt")), firstList);
            }
        }
        QCOMPARE(w.listedFileNames().size(), 2);
        QVERIFY2(kept.contains(QStringLiteral("not rewritten")), qPrintable(kept));

        // A folder in the way of the first map: nothing is written.
        QVERIFY(QDir().mkpath(QDir(m_dir.path()).filePath(QStringLiteral("x/RND_010_4x4_a1.txt"))));
        QString report;
        whenModal<QDialog>([this](QDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))
                ->setText(QDir(m_dir.path()).filePath(QStringLiteral("x")));
            clickOk(dialog);
        });
        whenModal<QMessageBox>([&report](QMessageBox *box) {
            report = box->text();
            box->accept();
        });
        action(w, "actionRandom")->trigger();
        QVERIFY2(report.contains(QStringLiteral("No map was written")), qPrintable(report));
        QVERIFY2(!report.contains(QStringLiteral("were written")), qPrintable(report));
    }

    // OK waits for a folder; a refusal that comes only once the batch is
    // prepared (here, a file where the folder should be) is told, and the
    // dialog comes back with everything the user typed.
    void refusedBatchesKeepTheDialogOpen()
    {
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        list->addItem(QStringLiteral("kept"));
        writeFile(QStringLiteral("notafolder"), "x");
        bool okWithoutFolder = true;
        QString shown;
        QString pathAgain;
        int sizeAgain = 0;
        whenModal<QDialog>([&](QDialog *dialog) {
            auto *path = dialog->findChild<QLineEdit *>(QStringLiteral("path"));
            path->clear();
            okWithoutFolder =
                dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled();
            path->setText(QDir(m_dir.path()).filePath(QStringLiteral("notafolder")));
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(12);
            whenModal<QMessageBox>([&](QMessageBox *box) {
                shown = box->text();
                whenModal<DialogRnd>([&](DialogRnd *again) {
                    pathAgain = again->folderText();
                    sizeAgain = again->mapSize();
                    again->reject();
                });
                box->accept();
            });
            clickOk(dialog);
        });
        action(w, "actionRandom")->trigger();
        QVERIFY(!okWithoutFolder);
        QVERIFY2(shown.contains(QStringLiteral("notafolder")), qPrintable(shown));
        QCOMPARE(pathAgain, QDir(m_dir.path()).filePath(QStringLiteral("notafolder")));
        QCOMPARE(sizeAgain, 12);
        QCOMPARE(list->count(), 1);
        QCOMPARE(readAll(QStringLiteral("notafolder")), QByteArray("x"));
    }

    void rejectedRandomDialogChangesNothing()
    {
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        list->addItem(QStringLiteral("kept"));
        whenModal<QDialog>([](QDialog *dialog) { dialog->reject(); });
        action(w, "actionRandom")->trigger();
        QCOMPARE(list->count(), 1);
    }

    void fractalBatchListsSortedAndKeepsWriteOrderInTheBatchList()
    {
        writeFile(QStringLiteral("config.txt"), "RND_\n\nFBM_\n;f\n1\n0\n");
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        const QString folder = QDir(m_dir.path()).filePath(QStringLiteral("fbm"));
        whenModal<QDialog>([folder](QDialog *dialog) {
            dialog->findChild<QDoubleSpinBox *>(QStringLiteral("Hi"))->setValue(0.5);
            dialog->findChild<QDoubleSpinBox *>(QStringLiteral("Hf"))->setValue(0.6);
            dialog->findChild<QDoubleSpinBox *>(QStringLiteral("Hp"))->setValue(0.1);
            dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(30);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(60);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cp"))->setValue(30);
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(16);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(folder);
            clickOk(dialog);
        });
        action(w, "actionFractal")->trigger();

        QVERIFY(list->count() > 0);
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown << MainWindow::pathOf(list->item(i));
        QStringList sorted = shown;
        sorted.sort();
        QCOMPARE(shown, sorted);
        QCOMPARE(shown.size(), w.listedFileNames().size());
        QByteArray expected;
        for (const QString &name : w.listedFileNames())
            expected += name.toLatin1() + ";f\n";
        const QString stem = QDir::toNativeSeparators(folder) + QDir::separator();
        QCOMPARE(readAll(stem + QStringLiteral("FBM_ListFragStat.fbt")), expected);
        QVERIFY(shown.first().startsWith(stem + QStringLiteral("FBM_0.50_0")));

        // The first map is shown already; the status bar tells of the batch
        // until another map is chosen.
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(16));
        list->setCurrentRow(1);
        list->setCurrentRow(0);
        QVERIFY2(w.statusBar()->currentMessage().contains(
                     QStringLiteral("fractal, H 0.50, requested cover 30 %, seed ")),
                 qPrintable(w.statusBar()->currentMessage()));
    }

    // After a batch the status bar says what it did, and the first new map
    // replaces the one shown before; a cancel says how far the run got.
    void batchEndsWithASummaryAndTheFirstNewMap()
    {
        writeFile(QStringLiteral("old.txt"), "1 1 1 \n1 1 1 \n1 1 1 \n");
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("old.txt"))});
        list->setCurrentRow(0);
        const QString folder = QDir(m_dir.path()).filePath(QStringLiteral("out"));
        whenModal<QDialog>([folder](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(10);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(30);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cp"))->setValue(10);
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(5);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(folder);
            clickOk(dialog);
        });
        action(w, "actionRandom")->trigger();
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(w.currentGrid().rowCount(), std::size_t(5));
        QVERIFY(action(w, "actionExportPicture")->isEnabled());
        const QString summary = w.statusBar()->currentMessage();
        QVERIFY2(summary.contains(QStringLiteral("3 map(s) written to ") +
                                  QDir::toNativeSeparators(folder)),
                 qPrintable(summary));

        // Cancelled as soon as the progress shows, the run may have written
        // a map or none; either way the count is told and nothing older is
        // left on show.
        whenModal<QDialog>([folder](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(0);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(100);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cp"))->setValue(1);
            dialog->findChild<QSpinBox *>(QStringLiteral("amo"))->setValue(20);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))
                ->setText(folder + QStringLiteral("2"));
            clickOk(dialog);
        });
        QTimer canceller;
        canceller.setInterval(1);
        connect(&canceller, &QTimer::timeout, &w, [&w] {
            if (auto *progress = w.findChild<QProgressDialog *>())
                progress->findChild<QPushButton *>()->click();
        });
        canceller.start();
        action(w, "actionRandom")->trigger();
        canceller.stop();
        const qsizetype written = w.listedFileNames().size();
        QVERIFY(written < 101 * 20);
        QVERIFY2(w.statusBar()->currentMessage().contains(
                     QStringLiteral("cancelled after %1 map(s)").arg(written)),
                 qPrintable(w.statusBar()->currentMessage()));
        QCOMPARE(w.currentGrid().isEmpty(), written == 0);
        QVERIFY(w.currentGrid().isEmpty() || w.currentGrid().rowCount() == 5);
    }

    // The viewer opens what a batch writes: the maps of a batch list in its
    // order, whatever its post-string, and the map files of a folder sorted.
    void viewerOpensBatchListsAndFolders()
    {
        const QDir maps(QDir(m_dir.path()).filePath(QStringLiteral("maps")));
        QVERIFY(QDir().mkpath(maps.path()));
        for (const char *name : {"c.txt", "a.asc", "b.txt"})
            writeFile(maps.filePath(QLatin1String(name)), "1 0 \n0 1 \n");
        writeFile(maps.filePath(QStringLiteral("manifest.csv")), "file\n");
        const QString batchList = maps.filePath(QStringLiteral("ListFragStat.fbt"));
        writeFile(batchList, QFile::encodeName(maps.filePath(QStringLiteral("c.txt"))) + ";x\n" +
                                 QFile::encodeName(maps.filePath(QStringLiteral("a.asc"))) +
                                 ";x\n");
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        const auto listed = [list] {
            QStringList names;
            for (int i = 0; i < list->count(); ++i)
                names << list->item(i)->text();
            return names;
        };

        // File -> Open hands what was chosen to the same expansion.
        w.openPaths({batchList});
        QTRY_COMPARE(listed(), QStringList({"c.txt", "a.asc"}));

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(maps.path()),
                      QUrl::fromLocalFile(maps.filePath(QStringLiteral("gone.fbt")))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&w, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&w, &drop);
        QTRY_COMPARE(listed(), QStringList({"c.txt", "a.asc", "a.asc", "b.txt", "c.txt"}));
        QCOMPARE(MainWindow::pathOf(list->item(3)),
                 QDir::toNativeSeparators(maps.filePath(QStringLiteral("b.txt"))));
        QVERIFY2(w.statusBar()->currentMessage().contains(QStringLiteral("gone.fbt")),
                 qPrintable(w.statusBar()->currentMessage()));
    }

    // A batch list is read off the window's thread: a FIFO, a device or a
    // list of one endless line is named in the status bar while the window
    // goes on answering, and what was opened after it keeps its place.
    void hostileBatchListsLeaveTheWindowAnswering()
    {
        const QDir here(m_dir.path());
        const QString fifo = here.filePath(QStringLiteral("fifo.fbt"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString zero = here.filePath(QStringLiteral("zero.fbt"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
        const QString huge = here.filePath(QStringLiteral("huge.fbt"));
        {
            QFile file(huge);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(100) << 20));
        }
        writeFile(here.filePath(QStringLiteral("after.txt")), "1 0 \n");
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        // Should the window wait on the FIFO, a writer that comes and goes
        // lets it go on, so that the test fails rather than hangs.
        std::atomic<bool> returned = false;
        std::atomic<bool> rescued = false;
        std::thread rescuer([&] {
            for (int i = 0; i < 1000 && !returned; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (returned)
                return;
            rescued = true;
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
            if (fd >= 0)
                ::close(fd);
        });
        w.openPaths({fifo, zero, huge});
        returned = true;
        w.openPaths({here.filePath(QStringLiteral("after.txt"))});
        rescuer.join();
        QVERIFY(!rescued);
        for (const char *said : {"fifo.fbt", "zero.fbt", "huge.fbt: line 1"})
            QTRY_VERIFY2(w.statusBar()->currentMessage().contains(QLatin1String(said)),
                         qPrintable(w.statusBar()->currentMessage()));
        QTRY_COMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QStringLiteral("after.txt"));
    }

    // The status bar tells the cell under the pointer, counted from 1 as the
    // file's lines are, in either orientation, and the zoom.
    void pointerShowsTheCellAndTheZoom()
    {
        writeFile(QStringLiteral("map.txt"), "1 2 3 \n4 5 6 \n7 8 9 \n");
        MainWindow w;
        w.resize(700, 500);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *frame = w.findChild<QFrame *>(QStringLiteral("frameView"));
        const auto *cell = w.findChild<QLabel *>(QStringLiteral("pointerCell"));
        const auto *zoom = w.findChild<QLabel *>(QStringLiteral("zoomLevel"));
        QVERIFY(zoom->isHidden());
        w.addFiles({QDir(m_dir.path()).filePath(QStringLiteral("map.txt"))});
        w.findChild<QListWidget *>(QStringLiteral("fileListView"))->setCurrentRow(0);
        QCOMPARE(zoom->text(), QStringLiteral("Zoom 100 %"));
        QVERIFY(!zoom->isHidden());

        // The middle of the cell `across` from the left and `down` from the
        // top of the picture, where the frame receives the pointer.
        const auto pointAt = [&w, frame](int across, int down) {
            const QRectF area = LandscapePicture::drawingArea(w.mapFrame());
            const QPointF at(area.left() + (across + 0.5) * area.width() / 3,
                             area.top() + (down + 0.5) * area.height() / 3);
            return frame->mapFrom(&w, at.toPoint());
        };
        // Rows run left to right and the positions of a row top to bottom.
        QTest::mouseMove(frame, pointAt(2, 0));
        QCOMPARE(cell->text(), QStringLiteral("Row 3, column 1: 7"));
        QTest::mouseMove(frame, pointAt(0, 1));
        QCOMPARE(cell->text(), QStringLiteral("Row 1, column 2: 2"));
        action(w, "actionRowsAsRows")->trigger();
        QTest::mouseMove(frame, pointAt(2, 0));
        QCOMPARE(cell->text(), QStringLiteral("Row 1, column 3: 3"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(frame, &leave);
        QVERIFY(cell->text().isEmpty());

        QTest::keyClick(&w, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(zoom->text(), QStringLiteral("Zoom 200 %"));
        action(w, "actionRowsAsRows")->trigger();
    }

    // The Output group's choices reach the maps; a choice that cannot go
    // with the others keeps OK off, as the command line refuses it.
    void outputChoicesReachTheMaps()
    {
        writeFile(QStringLiteral("config.txt"), "RND_\n\nFBM_\n\n1\n0\n");
        MainWindow w;
        const QString folder = QDir(m_dir.path()).filePath(QStringLiteral("grids"));
        bool okWithOriginOnPlain = true;
        whenModal<QDialog>([&okWithOriginOnPlain, folder](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(50);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(50);
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(4);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(folder);
            QTest::mouseClick(dialog->findChild<QToolButton *>(QStringLiteral("outputToggle")),
                              Qt::LeftButton);
            dialog->findChild<QDoubleSpinBox *>(QStringLiteral("cellSize"))->setValue(30);
            dialog->findChild<QDoubleSpinBox *>(QStringLiteral("originX"))->setValue(1000);
            dialog->findChild<QDoubleSpinBox *>(QStringLiteral("originY"))->setValue(2000);
            auto *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
            okWithOriginOnPlain = ok->isEnabled();
            auto *format = dialog->findChild<QComboBox *>(QStringLiteral("format"));
            format->setCurrentIndex(format->findData(int(MapFormat::AsciiGrid)));
            dialog->findChild<QCheckBox *>(QStringLiteral("metrics"))->setChecked(true);
            clickOk(dialog);
        });
        action(w, "actionRandom")->trigger();
        QVERIFY(!okWithOriginOnPlain);
        const QString map = QDir(folder).filePath(QStringLiteral("RND_050_4x4_a1.asc"));
        QCOMPARE(w.listedFileNames(), QStringList{QDir::toNativeSeparators(map)});
        const QByteArray grid = readAll(map);
        QVERIFY2(grid.contains("xllcorner") && grid.contains("1000") && grid.contains("30"),
                 grid.constData());
        QVERIFY(
            readAll(QDir(folder).filePath(QStringLiteral("RND_manifest.csv"))).contains(",np,"));
    }

    void fractalSizeAboveTheLatticeIsRefused()
    {
        MainWindow w;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("fileListView"));
        list->addItem(QStringLiteral("kept"));
        bool okEnabled = true;
        QString reason;
        whenModal<QDialog>([this, &okEnabled, &reason](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(4097);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))
                ->setText(QDir(m_dir.path()).filePath(QStringLiteral("big")));
            // OK stays off, and the dialog says why, until the size fits.
            okEnabled =
                dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled();
            reason = dialog->findChild<QLabel *>(QStringLiteral("reason"))->text();
            dialog->reject();
        });
        action(w, "actionFractal")->trigger();
        QVERIFY(!okEnabled);
        QVERIFY2(reason.contains(QStringLiteral("4096")), qPrintable(reason));
        QCOMPARE(list->count(), 1);
        QVERIFY(!QFileInfo::exists(QDir(m_dir.path()).filePath(QStringLiteral("big"))));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
