// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/dialogs/contextmarkingtranslator.h"
#include "tests/dialogs/formprobe.h"
#include "ui_mainwindow.h"

#include <QPainter>
#include <QTest>

namespace {

// Stands in for the real main window, which paints the map under the frame:
// a solid colour is enough to see whether anything on top covers it.
class PaintedWindow : public QMainWindow {
public:
    static constexpr QRgb mapColour = qRgb(255, 0, 255);

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(mapColour));
    }
};

} // namespace

class TestMainWindowForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void window()
    {
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        QCOMPARE(window.objectName(), "MainWindow");
        QCOMPARE(window.size(), QSize(535, 370));
        QCOMPARE(window.windowTitle(), "Patchwright");
        QCOMPARE(window.centralWidget(), ui.centralWidget);
        QCOMPARE(window.menuBar(), ui.menuBar);
        QCOMPARE(window.statusBar(), ui.statusBar);
        QVERIFY(ui.statusBar->currentMessage().isEmpty());
        QCOMPARE(window.toolBarArea(ui.mainToolBar), Qt::TopToolBarArea);
        QVERIFY(ui.mainToolBar->actions().isEmpty());
    }

    void actions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        // Without a tool tip of its own an action shows its text.
        QTest::newRow("actionRandom") << "actionRandom"
                                      << "&Random…"
                                      << "Random…";
        QTest::newRow("actionFractal") << "actionFractal"
                                       << "&Fractal…"
                                       << "Fractal…";
        QTest::newRow("actionOpen") << "actionOpen"
                                    << "&Open…"
                                    << "Open map files";
        QTest::newRow("actionParametros") << "actionParametros"
                                          << "&Parameters…"
                                          << "Parameters…";
    }

    void actions()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        auto *action = window.findChild<QAction *>(name);
        QVERIFY(action);
        QCOMPARE(action->parent(), &window);
        QCOMPARE(action->text(), text);
        QCOMPARE(action->toolTip(), toolTip);
    }

    void menus()
    {
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        QCOMPARE(ui.menuBar->geometry(), QRect(0, 0, 535, 20));

        QStringList menuNames;
        QStringList titles;
        for (QAction *entry : ui.menuBar->actions()) {
            QVERIFY(entry->menu());
            menuNames << entry->menu()->objectName();
            titles << entry->text();
        }
        QCOMPARE(menuNames,
                 QStringList({"menuOpen", "menuCreate", "menuView", "menuConfigura_es"}));
        QCOMPARE(titles, QStringList({"&File", "&Create", "&View", "&Settings"}));

        const QList<QAction *> file = ui.menuOpen->actions();
        QCOMPARE(file.size(), 4);
        QCOMPARE(file.at(0), ui.actionOpen);
        QCOMPARE(file.at(1), ui.actionExportPicture);
        QVERIFY(file.at(2)->isSeparator());
        QCOMPARE(file.at(3), ui.actionQuit);
        QCOMPARE(ui.menuCreate->actions(), QList<QAction *>({ui.actionRandom, ui.actionFractal}));
        QCOMPARE(ui.menuConfigura_es->actions(), QList<QAction *>({ui.actionParametros}));
    }

    void layouts()
    {
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        QCOMPARE(ui.centralWidget->layout(), ui.horizontalLayout);
        QCOMPARE(ui.horizontalLayout->spacing(), 6);
        QCOMPARE(ui.horizontalLayout->contentsMargins(), QMargins(11, 11, 11, 11));
        // The list and the map share the window through a splitter.
        QCOMPARE(itemNames(ui.horizontalLayout), QStringList({"splitter"}));
        QCOMPARE(ui.splitter->widget(0), ui.listPane);
        QCOMPARE(ui.splitter->widget(1), ui.mapPane);
        QCOMPARE(ui.listPane->layout(), ui.verticalLayout);
        QCOMPARE(ui.mapPane->layout(), ui.verticalLayout_3);

        QCOMPARE(ui.verticalLayout->spacing(), 6);
        QCOMPARE(itemNames(ui.verticalLayout), QStringList({"label", "fileListView"}));
        QCOMPARE(ui.verticalLayout_3->spacing(), 6);
        QCOMPARE(itemNames(ui.verticalLayout_3), QStringList({"label_2", "frameView"}));

        QCOMPARE(ui.frameView->layout(), ui.horizontalLayout_2);
        QCOMPARE(ui.horizontalLayout_2->spacing(), 6);
        QCOMPARE(ui.horizontalLayout_2->contentsMargins(), QMargins(11, 11, 11, 11));
        QCOMPARE(itemNames(ui.horizontalLayout_2), QStringList({"spacer"}));
        QSpacerItem *spacer = ui.horizontalLayout_2->itemAt(0)->spacerItem();
        QCOMPARE(spacer->sizeHint(), QSize(187, 20));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    }

    void widgets()
    {
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        QCOMPARE(ui.label->text(), "File list");
        QCOMPARE(ui.label_2->text(), "Map");
        QCOMPARE(ui.label_2->maximumSize(), QSize(16777215, 11));

        QVERIFY(ui.fileListView->inherits("QListWidget"));
        QCOMPARE(ui.fileListView->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(ui.fileListView->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(ui.fileListView->maximumSize(), QSize(16777215, 16777215));
        QCOMPARE(ui.fileListView->count(), 0);

        QCOMPARE(ui.frameView->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(ui.frameView->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(ui.frameView->minimumSize(), QSize(300, 0));
        QCOMPARE(ui.frameView->maximumSize(), QSize(999999, 16777215));
        QCOMPARE(ui.frameView->frameShape(), QFrame::StyledPanel);
        QCOMPARE(ui.frameView->frameShadow(), QFrame::Raised);
    }

    void frameLeavesTheMapVisible()
    {
        PaintedWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Sample well inside the frame, away from its border and the spacer.
        const QImage shot = window.grab().toImage();
        const QRect frame(ui.frameView->mapTo(&window, QPoint(0, 0)), ui.frameView->size());
        QVERIFY(frame.width() > 40 && frame.height() > 40);
        const qreal scale = shot.devicePixelRatio();
        for (const QPoint &p : {frame.center(), frame.topLeft() + QPoint(20, 20),
                                frame.bottomRight() - QPoint(20, 20)}) {
            QCOMPARE(shot.pixel(QPoint(p.x() * scale, p.y() * scale)), PaintedWindow::mapColour);
        }
        QVERIFY(!ui.frameView->autoFillBackground());
        QVERIFY(ui.frameView->styleSheet().isEmpty());
    }

    void textsUseWindowContext()
    {
        ContextMarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        QMainWindow window;
        Ui::MainWindow ui;
        ui.setupUi(&window);
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(window.windowTitle(), "MainWindow|Patchwright");
        QCOMPARE(ui.actionOpen->toolTip(), "MainWindow|Open map files");
        QCOMPARE(ui.menuConfigura_es->title(), "MainWindow|&Settings");
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
