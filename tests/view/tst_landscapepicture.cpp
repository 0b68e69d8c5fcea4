#include "app/landscapepicture.h"
#include "tests/support/grids.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <vector>

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

// The picture exactly as the window drew it before there was a cache: one
// background rectangle, then one rectangle per cell, rows outer and positions
// inner, with a fresh brush and pen for every cell. Positions past the end of
// a short row are skipped.
void paintOneByOne(QPainter &painter, const LandscapeGrid &grid, qint32 matrixValue,
                   const QRect &frame)
{
    const double x0 = frame.x();
    const double y0 = frame.y() + 35;
    const double w = frame.width();
    const double h = frame.height();
    painter.setBrush(QBrush(QColor(0, 255, 0, 120), Qt::SolidPattern));
    const QRectF background(x0, y0, w, h);
    painter.drawRects(&background, 1);

    const int n = int(grid.rowCount());
    if (n == 0)
        return;
    const double cw = w / n;
    const double ch = h / n;
    for (int k = 0; k < n; ++k) {
        const auto row = grid.row(std::size_t(k));
        for (int i = 0; i < n; ++i) {
            if (std::size_t(i) >= row.size())
                continue;
            const QColor colour = row[std::size_t(i)] == matrixValue ? Qt::white : Qt::black;
            painter.setBrush(QBrush(colour, Qt::SolidPattern));
            painter.setPen(QPen(QBrush(colour), 0));
            const QRect cell(int(k * cw + x0), int(i * ch + y0), int(cw), int(ch));
            // Qt draws nothing for a rectangle with no width and no height;
            // the view marks the cell's pixel so that big maps stay visible.
            if (cell.width() == 0 && cell.height() == 0)
                painter.drawPoint(cell.topLeft());
            else
                painter.drawRects(&cell, 1);
        }
    }
}

const QColor clearColour(120, 130, 140);

QImage literalImage(const LandscapeGrid &grid, qint32 matrixValue, QSize size, const QRect &frame)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(clearColour);
    QPainter painter(&image);
    paintOneByOne(painter, grid, matrixValue, frame);
    return image;
}

// Says where the first differing pixel is instead of only that the images
// differ.
QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16)
                    .arg(expected.pixel(x, y), 8, 16);
    return QString();
}

#define COMPARE_IMAGES(actual, expected)                                                           \
    do {                                                                                           \
        const QString difference = firstDifference(actual, expected);                              \
        QVERIFY2(difference.isEmpty(), qPrintable(difference));                                    \
    } while (false)

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
