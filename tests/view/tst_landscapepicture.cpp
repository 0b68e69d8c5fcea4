// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/grids.h"
#include "tests/support/literalpicture.h"
#include "view/landscapepicture.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <map>
#include <optional>
#include <set>
#include <vector>

Q_DECLARE_METATYPE(PictureView)

namespace {

Rows randomRows(quint32 seed, int rowCount, int minLength, int maxLength,
                const std::vector<qint32> &codes)
{
    QRandomGenerator random(seed);
    Rows rows(static_cast<std::size_t>(rowCount));
    for (auto &row : rows) {
        row.resize(std::size_t(random.bounded(minLength, maxLength + 1)));
        for (qint32 &cell : row)
            cell = codes[std::size_t(random.bounded(int(codes.size())))];
    }
    return rows;
}

Rows squareRows(quint32 seed, int n)
{
    return randomRows(seed, n, n, n, {0, 1});
}

// The picture for a view whose cells are whole pixels, drawn the plain way:
// the background, then one filled block per cell at `map`, clipped to the
// drawing area.
QImage blockImage(const LandscapeGrid &grid, const PictureView &view, QSize size,
                  const QRect &frame, const QRect &map, int cellWidth, int cellHeight)
{
    QImage image = literalImage(LandscapeGrid(), 0, size, frame);
    QPainter painter(&image);
    painter.setClipRect(LandscapePicture::drawingArea(frame));
    for (std::size_t k = 0; k < grid.rowCount(); ++k) {
        const auto row = grid.row(k);
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int across = int(view.rowsAsRows ? i : k);
            const int down = int(view.rowsAsRows ? k : i);
            painter.fillRect(map.x() + across * cellWidth, map.y() + down * cellHeight, cellWidth,
                             cellHeight, row[i] == 0 ? Qt::white : Qt::black);
        }
    }
    return image;
}

QImage transposed(const QImage &image)
{
    QImage result(image.height(), image.width(), image.format());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            result.setPixel(y, x, image.pixel(x, y));
    return result;
}

} // namespace

class TestLandscapePicture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matchesCellByCellDrawing_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<qint32>("matrixValue");
        QTest::addColumn<QSize>("imageSize");
        QTest::addColumn<QRect>("frame");

        const QSize image(420, 320);
        QTest::newRow("cells of 30 x 20")
            << squareRows(1, 10) << 0 << image << QRect(10, 20, 300, 200);
        QTest::newRow("cells of 3 x 2")
            << squareRows(2, 100) << 1 << image << QRect(0, 0, 300, 200);
        QTest::newRow("n divides neither side")
            << squareRows(3, 7) << 0 << image << QRect(3, 5, 101, 67);
        QTest::newRow("odd offsets, fractional cells")
            << squareRows(4, 37) << 1 << image << QRect(7, 13, 251, 173);
        QTest::newRow("cells 0 high") << squareRows(5, 150) << 0 << image << QRect(4, 9, 300, 100);
        QTest::newRow("cells 0 wide") << squareRows(6, 150) << 1 << image << QRect(9, 4, 100, 270);
        QTest::newRow("cells 0 wide and 0 high")
            << squareRows(7, 400) << 0 << image << QRect(0, 0, 300, 200);
        QTest::newRow("1 x 1 grid") << Rows{{0}} << 0 << image << QRect(5, 5, 300, 200);
        QTest::newRow("1 x 1 cover cell") << Rows{{1}} << 0 << image << QRect(5, 5, 300, 200);
        QTest::newRow("empty grid") << Rows{} << 0 << image << QRect(10, 20, 300, 200);
        QTest::newRow("all matrix")
            << Rows(12, std::vector<qint32>(12, 7)) << 7 << image << QRect(2, 3, 250, 190);
        QTest::newRow("no matrix")
            << Rows(12, std::vector<qint32>(12, 6)) << 7 << image << QRect(2, 3, 250, 190);
        QTest::newRow("values neither code") << randomRows(8, 20, 20, 20, {0, 1, 2, -5, 1 << 30})
                                             << 1 << image << QRect(1, 1, 222, 181);
        QTest::newRow("negative matrix value")
            << randomRows(9, 20, 20, 20, {-1, 1, 0}) << -1 << image << QRect(1, 1, 222, 181);
        QTest::newRow("short and empty rows")
            << randomRows(10, 25, 0, 25, {0, 1}) << 0 << image << QRect(6, 2, 275, 150);
        QTest::newRow("short rows, cells 0 high")
            << randomRows(11, 180, 0, 180, {0, 1}) << 0 << image << QRect(6, 2, 350, 130);
        QTest::newRow("short rows, cells 0 wide")
            << randomRows(12, 180, 0, 180, {0, 1}) << 1 << image << QRect(6, 2, 130, 250);
        QTest::newRow("rows longer than n")
            << randomRows(13, 9, 9, 40, {0, 1}) << 0 << image << QRect(0, 0, 200, 200);
        QTest::newRow("frame beyond the image")
            << squareRows(14, 33) << 0 << QSize(150, 120) << QRect(20, 10, 300, 200);
        QTest::newRow("frame left of and above the image")
            << squareRows(15, 33) << 1 << QSize(150, 120) << QRect(-47, -90, 300, 200);
        QTest::newRow("frame of size 0") << squareRows(16, 5) << 0 << image << QRect(40, 40, 0, 0);
        QTest::newRow("frame one pixel wide")
            << squareRows(17, 5) << 0 << image << QRect(40, 40, 1, 90);
    }

    void matchesCellByCellDrawing()
    {
        QFETCH(Rows, rows);
        QFETCH(qint32, matrixValue);
        QFETCH(QSize, imageSize);
        QFETCH(QRect, frame);

        const LandscapeGrid grid = gridOf(rows);
        const QImage picture =
            LandscapePicture::render(grid, matrixValue, imageSize, frame, clearColour);
        COMPARE_IMAGES(picture, literalImage(grid, matrixValue, imageSize, frame));
    }

    // Rows run left to right and the positions of a row top to bottom: with
    // cells of 3 x 2 pixels the top left pixel of cell (k, i) lies at
    // (X0 + 3k, Y0 + 2i) and shows that cell, whatever its neighbours' outlines
    // cover.
    void rowsRunAcrossAndPositionsDown()
    {
        const Rows rows = randomRows(50, 100, 100, 100, {0, 1});
        const QRect frame(11, 4, 300, 200);
        const QImage picture =
            LandscapePicture::render(gridOf(rows), 1, QSize(330, 250), frame, clearColour);
        for (int k = 0; k < 100; ++k)
            for (int i = 0; i < 100; ++i)
                QCOMPARE(picture.pixel(11 + 3 * k, 4 + 35 + 2 * i),
                         rows[std::size_t(k)][std::size_t(i)] == 1 ? qRgb(255, 255, 255)
                                                                   : qRgb(0, 0, 0));
    }

    // Many small random shapes reach the rounding corners that hand-picked
    // cases miss: cell sizes just below or above whole pixels, gaps and
    // overlaps between neighbouring cells, ragged rows against both axes.
    void matchesCellByCellDrawingForRandomShapes()
    {
        QRandomGenerator random(2024);
        for (int round = 0; round < 400; ++round) {
            const int n = random.bounded(1, 70);
            const bool ragged = random.bounded(3) == 0;
            const Rows rows =
                randomRows(random.generate(), n, ragged ? 0 : n, ragged ? n + 3 : n, {0, 1, 2});
            const QRect frame(random.bounded(-30, 40), random.bounded(-60, 30),
                              random.bounded(0, 160), random.bounded(0, 160));
            const QSize size(random.bounded(1, 200), random.bounded(1, 230));
            const qint32 matrixValue = random.bounded(3);

            const LandscapeGrid grid = gridOf(rows);
            const QImage picture =
                LandscapePicture::render(grid, matrixValue, size, frame, clearColour);
            const QString difference =
                firstDifference(picture, literalImage(grid, matrixValue, size, frame));
            QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("round %1, n %2, frame "
                                                                     "(%3, %4, %5 x %6): %7")
                                                          .arg(round)
                                                          .arg(n)
                                                          .arg(frame.x())
                                                          .arg(frame.y())
                                                          .arg(frame.width())
                                                          .arg(frame.height())
                                                          .arg(difference)));
        }
    }

    void matchesUnderPainterState_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QPoint>("translation");
        QTest::addColumn<int>("pixelRatio");
        QTest::addColumn<QRect>("clip");

        const Rows square = squareRows(20, 40);
        const Rows ragged = randomRows(21, 40, 0, 45, {0, 1});
        const QRect frame(10, 10, 260, 180);
        QTest::newRow("translated") << square << frame << QPoint(-60, 25) << 1 << QRect();
        QTest::newRow("translated, ragged") << ragged << frame << QPoint(-61, 7) << 1 << QRect();
        QTest::newRow("clipped") << square << frame << QPoint() << 1 << QRect(30, 50, 101, 77);
        QTest::newRow("double pixel ratio") << square << frame << QPoint() << 2 << QRect();
        QTest::newRow("double pixel ratio, translated")
            << ragged << frame << QPoint(-43, -20) << 2 << QRect();
        QTest::newRow("double pixel ratio, cells 0 wide")
            << squareRows(22, 150) << QRect(3, 3, 120, 170) << QPoint() << 2 << QRect();
        QTest::newRow("triple pixel ratio")
            << squareRows(23, 31) << QRect(-20, 3, 120, 90) << QPoint() << 3 << QRect();
    }

    void matchesUnderPainterState()
    {
        QFETCH(Rows, rows);
        QFETCH(QRect, frame);
        QFETCH(QPoint, translation);
        QFETCH(int, pixelRatio);
        QFETCH(QRect, clip);

        const LandscapeGrid grid = gridOf(rows);
        QImage expected(QSize(200, 150) * pixelRatio, QImage::Format_ARGB32_Premultiplied);
        expected.setDevicePixelRatio(pixelRatio);
        expected.fill(clearColour);
        QImage actual = expected;
        const auto prepare = [&](QPainter &painter) {
            painter.translate(translation);
            if (!clip.isNull())
                painter.setClipRect(clip);
        };
        {
            QPainter painter(&expected);
            prepare(painter);
            paintOneByOne(painter, grid, 1, frame);
        }
        {
            QPainter painter(&actual);
            prepare(painter);
            LandscapePicture picture;
            picture.setGrid(&grid);
            picture.paint(painter, frame, 1);
        }
        COMPARE_IMAGES(actual, expected);
    }

    void cellsAreRenderedOnlyWhenSomethingChanged()
    {
        LandscapeGrid grid = gridOf(squareRows(30, 50));
        const QSize size(400, 300);
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        LandscapePicture picture;
        picture.setGrid(&grid);

        const auto paintAndCheck = [&](const QRect &frame, qint32 matrixValue) {
            image.fill(clearColour);
            QPainter painter(&image);
            picture.paint(painter, frame, matrixValue);
            painter.end();
            return firstDifference(image, literalImage(grid, matrixValue, size, frame));
        };
        const QRect frame(5, 6, 300, 200);

        QCOMPARE(paintAndCheck(frame, 0), QString());
        QCOMPARE(picture.renderCount(), 1u);
        QCOMPARE(paintAndCheck(frame, 0), QString());
        QCOMPARE(picture.renderCount(), 1u);

        QCOMPARE(paintAndCheck(frame, 1), QString());
        QCOMPARE(picture.renderCount(), 2u);

        const QRect moved = frame.translated(3, 0);
        QCOMPARE(paintAndCheck(moved, 1), QString());
        QCOMPARE(picture.renderCount(), 3u);
        QCOMPARE(paintAndCheck(moved.adjusted(0, 0, 0, -40), 1), QString());
        QCOMPARE(picture.renderCount(), 4u);

        picture.invalidate();
        QCOMPARE(paintAndCheck(moved, 1), QString());
        QCOMPARE(picture.renderCount(), 5u);

        // A new map in the same object, as a reload does.
        grid = gridOf(squareRows(31, 23));
        picture.setGrid(&grid);
        QCOMPARE(paintAndCheck(moved, 1), QString());
        QCOMPARE(picture.renderCount(), 6u);
        QCOMPARE(paintAndCheck(moved, 1), QString());
        QCOMPARE(picture.renderCount(), 6u);
    }

    // Cells of whole pixels leave no rounding to argue about: each view is
    // then exactly a block per cell. The grid has a short middle row, whose
    // missing positions show the background.
    void viewsDrawWholePixelCellsAsBlocks_data()
    {
        QTest::addColumn<PictureView>("view");
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("map");
        QTest::addColumn<QSize>("cell");
        PictureView rows;
        rows.rowsAsRows = true;
        PictureView square;
        square.squareCells = true;
        PictureView both = rows;
        both.squareCells = true;
        PictureView zoomed;
        zoomed.zoom = 2;
        zoomed.centre = QPointF(0.25, 0.75);
        // 3 rows, the longest 4 long.
        QTest::newRow("rows as rows, stretched")
            << rows << QRect(10, 5, 120, 90) << QRect(10, 40, 120, 90) << QSize(30, 30);
        QTest::newRow("rows as rows, square cells, centred down")
            << both << QRect(10, 5, 120, 120) << QRect(10, 55, 120, 90) << QSize(30, 30);
        QTest::newRow("square cells, centred across")
            << square << QRect(10, 5, 120, 120) << QRect(25, 40, 90, 120) << QSize(30, 30);
        // Zoomed alone, the map is the default 3 x 3, each cell 2 x 40 / 3
        // wide: 24 x 24 pixels in a 36 x 36 area, shown from its left and
        // bottom edges.
        QTest::newRow("zoomed twice about a corner")
            << zoomed << QRect(10, 5, 36, 36) << QRect(10, 40 - 36, 72, 72) << QSize(24, 24);
    }

    void viewsDrawWholePixelCellsAsBlocks()
    {
        QFETCH(PictureView, view);
        QFETCH(QRect, frame);
        QFETCH(QRect, map);
        QFETCH(QSize, cell);
        const LandscapeGrid grid = gridOf({{0, 1, 0, 1}, {1, 0}, {1, 1, 0, 0}});
        const QSize size(160, 180);
        const QRectF area = LandscapePicture::drawingArea(frame);
        QCOMPARE(LandscapePicture::mapRect(grid, area, view), QRectF(map));
        // Rows past the default picture's n x n are not drawn when zoomed.
        LandscapeGrid shown = grid;
        if (!view.squareCells && !view.rowsAsRows)
            shown = gridOf({{0, 1, 0}, {1, 0}, {1, 1, 0}});
        COMPARE_IMAGES(LandscapePicture::render(grid, 0, size, frame, clearColour, view),
                       blockImage(shown, view, size, frame, map, cell.width(), cell.height()));
    }

    // With cells of whole pixels the default picture's outlines are all
    // overdrawn by the next cell, so the top-row drawing is its transpose.
    void rowsAsRowsTransposesTheDefaultPicture()
    {
        PictureView rows;
        rows.rowsAsRows = true;
        for (const int n : {1, 7, 40}) {
            for (const int scale : {1, 3}) {
                const LandscapeGrid grid = gridOf(randomRows(60 + n, n, n, n, {0, 1, 2}));
                const QSize size(n * scale, n * scale);
                COMPARE_IMAGES(LandscapePicture::preview(grid, 1, size, rows),
                               transposed(LandscapePicture::preview(grid, 1, size)));
            }
        }
    }

    // A two-class preview is still the grey image of white matrix cells on
    // black that it has always been; only NoData cells, which no earlier
    // map held, add their grey.
    void twoClassPreviewIsTheGreyImageItWas()
    {
        const LandscapeGrid grid = gridOf(randomRows(90, 37, 37, 37, {3, 5}));
        for (const QSize size : {QSize(37, 37), QSize(100, 61)}) {
            const QImage preview = LandscapePicture::preview(grid, 5, size);
            QCOMPARE(preview.format(), QImage::Format_Grayscale8);
            const QImage window = literalImage(
                grid, 5, size,
                QRect(0, -LandscapePicture::frameTopOffset, size.width(), size.height()),
                Qt::black);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    QCOMPARE(qGray(preview.pixel(x, y)),
                             window.pixel(x, y) == qRgb(255, 255, 255) ? 255 : 0);
        }
    }

    // Five codes inside a NoData hole: each code one colour of its own, the
    // hole light grey, and the same codes the same colours in another map of
    // them. Two codes inside the same
    // hole keep white and black.
    void classesAndNoDataGetColoursOfTheirOwn()
    {
        const qint32 noData = -9999;
        const auto masked = [&](quint32 seed, const std::vector<qint32> &codes) {
            Rows rows = randomRows(seed, 30, 30, 30, codes);
            for (std::size_t r = 10; r < 20; ++r)
                for (std::size_t c = 5; c < 25; ++c)
                    rows[r][c] = noData;
            return rows;
        };
        const Rows rows = masked(91, {1, 2, 3, 4, 5});
        const QImage preview =
            LandscapePicture::preview(gridOf(rows), 0, QSize(30, 30), {}, double(noData));
        std::map<qint32, QRgb> colourOf;
        for (int x = 0; x < 30; ++x) {
            for (int y = 0; y < 30; ++y) {
                const qint32 code = rows[std::size_t(x)][std::size_t(y)];
                const QRgb pixel = preview.pixel(x, y);
                const auto [at, inserted] = colourOf.try_emplace(code, pixel);
                QCOMPARE(pixel, at->second);
            }
        }
        QCOMPARE(colourOf.size(), std::size_t(6));
        const QRgb grey = colourOf.at(noData);
        QVERIFY(qRed(grey) == qGreen(grey) && qGreen(grey) == qBlue(grey) && qGray(grey) > 200 &&
                qGray(grey) < 255);
        std::set<QRgb> distinct;
        for (const auto &[code, colour] : colourOf)
            distinct.insert(colour);
        QCOMPARE(distinct.size(), colourOf.size());

        const Rows again = randomRows(92, 9, 9, 9, {5, 4, 3, 2, 1});
        const QImage other = LandscapePicture::preview(gridOf(again), 0, QSize(9, 9));
        for (int x = 0; x < 9; ++x)
            for (int y = 0; y < 9; ++y)
                QCOMPARE(other.pixel(x, y), colourOf.at(again[std::size_t(x)][std::size_t(y)]));

        const Rows two = masked(93, {0, 1});
        const QImage twoPreview =
            LandscapePicture::preview(gridOf(two), 0, QSize(30, 30), {}, double(noData));
        QCOMPARE(twoPreview.format(), QImage::Format_Grayscale8);
        for (int x = 0; x < 30; ++x)
            for (int y = 0; y < 30; ++y) {
                const qint32 code = two[std::size_t(x)][std::size_t(y)];
                QCOMPARE(twoPreview.pixel(x, y), code == noData
                                                     ? qRgb(qGray(grey), qGray(grey), qGray(grey))
                                                 : code == 0 ? qRgb(255, 255, 255)
                                                             : qRgb(0, 0, 0));
            }
    }

    // The legend lists the codes present in ascending order and NoData last,
    // in the colours the cells are drawn in. Past 64 codes the search stops,
    // yet NoData in a row it never reached is still found, and the colours
    // repeat every 64 codes.
    void legendListsTheCodesAndNoData()
    {
        const LandscapeGrid grid = gridOf({{7, -2, 7, 30}, {-2, 12, -9999, 30}});
        const MapColours colours(MapCodes::of(grid, -9999.0), 0);
        std::vector<std::optional<qint32>> listed;
        for (const MapColours::LegendEntry &entry : colours.legend()) {
            listed.push_back(entry.code);
            QCOMPARE(entry.colour, colours(entry.code.value_or(-9999)));
        }
        QCOMPARE(listed, (std::vector<std::optional<qint32>>{-2, 7, 12, 30, std::nullopt}));
        QVERIFY(!MapColours(MapCodes::of(grid, 0.5), 0).hasNoDataCells());

        Rows many(3);
        for (qint32 code = 0; code < 200; ++code)
            many[0].push_back(code * 3);
        many[2] = {-1};
        const MapCodes codes = MapCodes::of(gridOf(many), -1.0);
        QCOMPARE(codes.codes.size(), MapCodes::maximumClasses + 1);
        QVERIFY(codes.hasNoDataCells);
        const MapColours wrapped(codes, 0);
        QVERIFY(wrapped.tooManyToList());
        QCOMPARE(wrapped.legend().size(), std::size_t(1));
        QCOMPARE(wrapped(5), wrapped(5 + 64));
        QVERIFY(wrapped(5) != wrapped(6));
    }

    void zoomHoldsTheAnchorAndKeepsTheMapOverTheArea()
    {
        const LandscapeGrid grid = gridOf(squareRows(70, 30));
        const QRectF area(10, 20, 300, 200);
        const QPointF anchor(70, 150);
        const auto fractionAt = [&](const PictureView &view) {
            const QRectF map = LandscapePicture::mapRect(grid, area, view);
            return QPointF((anchor.x() - map.left()) / map.width(),
                           (anchor.y() - map.top()) / map.height());
        };
        PictureView view;
        const QPointF before = fractionAt(view);
        view = LandscapePicture::zoomed(grid, area, view, 3, anchor);
        QCOMPARE(view.zoom, 3.0);
        QVERIFY(qFuzzyCompare(fractionAt(view).x(), before.x()));
        QVERIFY(qFuzzyCompare(fractionAt(view).y(), before.y()));

        // However far it is dragged, the map still covers the area.
        for (const QPointF offset : {QPointF(1e6, 0), QPointF(-1e6, 1e6), QPointF(0, -1e6)}) {
            view = LandscapePicture::panned(grid, area, view, offset);
            const QRectF map = LandscapePicture::mapRect(grid, area, view);
            QVERIFY(map.contains(area));
            QVERIFY(map.left() == area.left() || map.right() == area.right());
        }
        view = LandscapePicture::zoomed(grid, area, view, 1e9, anchor);
        QCOMPARE(view.zoom, PictureView::maximumZoom);
        // Zooming out stops at the whole map, which is the default drawing.
        view = LandscapePicture::zoomed(grid, area, view, 1e-9, anchor);
        QVERIFY(view.isDefault());
        QVERIFY(LandscapePicture::panned(grid, area, view, QPointF(40, 40)) == view);
    }

    // Any other view and back: the cached picture returns to the default
    // drawing pixel for pixel, and only a change of view renders again.
    void leavingAViewRestoresTheDefaultPicture()
    {
        const LandscapeGrid grid = gridOf(randomRows(80, 37, 30, 37, {0, 1}));
        const QSize size(330, 260);
        const QRect frame(7, 13, 251, 173);
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        LandscapePicture picture;
        picture.setGrid(&grid);
        const auto paint = [&] {
            image.fill(clearColour);
            QPainter painter(&image);
            picture.paint(painter, frame, 0);
        };
        PictureView other;
        other.rowsAsRows = true;
        other.squareCells = true;
        other.zoom = 2.5;
        picture.setView(other);
        paint();
        const QImage otherImage = image;
        QCOMPARE(picture.renderCount(), 1u);
        paint();
        QCOMPARE(picture.renderCount(), 1u);
        picture.setView(PictureView());
        paint();
        QCOMPARE(picture.renderCount(), 2u);
        QVERIFY(image != otherImage);
        COMPARE_IMAGES(image, literalImage(grid, 0, size, frame));
    }

    void withoutAGridOnlyTheBackgroundIsDrawn()
    {
        QImage actual(200, 150, QImage::Format_ARGB32_Premultiplied);
        actual.fill(clearColour);
        {
            QPainter painter(&actual);
            LandscapePicture picture;
            picture.paint(painter, QRect(10, 10, 100, 80), 0);
        }
        COMPARE_IMAGES(actual,
                       literalImage(LandscapeGrid(), 0, actual.size(), QRect(10, 10, 100, 80)));
    }

    // The background keeps its black outline whatever pen the caller left
    // on the painter, and the caller gets its pen and brush back.
    void callersPenAndBrushNeitherShowNorLeak()
    {
        const LandscapeGrid grid = gridOf(squareRows(40, 10));
        const QRect frame(4, 0, 50, 50);
        QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
        image.fill(clearColour);
        QPainter painter(&image);
        const QPen pen(Qt::red, 3);
        painter.setPen(pen);
        painter.setBrush(Qt::blue);
        LandscapePicture picture;
        picture.setGrid(&grid);
        picture.paint(painter, frame, 0);
        QCOMPARE(painter.pen(), pen);
        QCOMPARE(painter.brush(), QBrush(Qt::blue));
        painter.end();
        COMPARE_IMAGES(image, literalImage(grid, 0, image.size(), frame));
    }
};

QTEST_MAIN(TestLandscapePicture)
#include "tst_landscapepicture.moc"
