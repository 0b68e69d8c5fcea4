// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of a repaint of the map view in a window of about 1000 x 700 pixels:
// with the cached cells (a resize-free expose, a menu closing) and with the
// cells rendered again (a new map, a new matrix code, a resize).
#include "view/landscapepicture.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <map>
#include <vector>

namespace {

// Where the form puts the frame in a 1000 x 700 window; the drawing area
// is 830 x 620 pixels.
const QRect frame(160, 0, 830, 620);

const LandscapeGrid &randomGrid(int size)
{
    static std::map<int, LandscapeGrid> grids;
    auto [it, inserted] = grids.try_emplace(size);
    if (inserted) {
        QRandomGenerator random(size);
        std::vector<qint32> row(static_cast<std::size_t>(size));
        for (int r = 0; r < size; ++r) {
            for (qint32 &cell : row)
                cell = qint32(random.bounded(2));
            it->second.appendRow(row);
        }
    }
    return it->second;
}

QImage windowImage()
{
    QImage image(1000, 700, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(239, 239, 239));
    return image;
}

void BM_PaintCached(benchmark::State &state)
{
    const LandscapeGrid &grid = randomGrid(int(state.range(0)));
    QImage image = windowImage();
    LandscapePicture picture;
    picture.setGrid(&grid);
    {
        QPainter painter(&image);
        picture.paint(painter, frame, 0);
    }
    for (auto _ : state) {
        QPainter painter(&image);
        picture.paint(painter, frame, 0);
    }
    state.counters["renders"] = double(picture.renderCount());
}
BENCHMARK(BM_PaintCached)
    ->Arg(4096)
    ->Arg(600)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PaintRebuilt(benchmark::State &state)
{
    const LandscapeGrid &grid = randomGrid(int(state.range(0)));
    QImage image = windowImage();
    LandscapePicture picture;
    picture.setGrid(&grid);
    for (auto _ : state) {
        picture.invalidate();
        QPainter painter(&image);
        picture.paint(painter, frame, 0);
    }
    state.counters["renders"] = double(picture.renderCount());
}
BENCHMARK(BM_PaintRebuilt)
    ->Arg(4096)
    ->Arg(600)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A repaint under another view than the default: arg 0 the view options
// alone (square cells, rows as rows), arg 1 also zoomed eight times, with the
// view moved a little before every paint as a drag moves it, so that the
// cells are rendered again each time. Only the visible part is rendered,
// so the cost follows the drawing area, not the map.
void BM_PaintView(benchmark::State &state)
{
    const LandscapeGrid &grid = randomGrid(int(state.range(0)));
    QImage image = windowImage();
    LandscapePicture picture;
    picture.setGrid(&grid);
    PictureView view;
    view.squareCells = true;
    view.rowsAsRows = true;
    view.zoom = state.range(1) ? 8 : 1;
    double step = 0;
    for (auto _ : state) {
        step = step > 0.5 ? 0 : step + 1e-3;
        view.centre = QPointF(0.25 + step, 0.5);
        picture.setView(view);
        QPainter painter(&image);
        picture.paint(painter, frame, 0);
    }
    state.counters["renders"] = double(picture.renderCount());
}
BENCHMARK(BM_PaintView)
    ->Args({4096, 0})
    ->Args({4096, 1})
    ->Args({100, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same 4096 x 4096 map in a drawing area of 4200 x 4200 pixels, where
// every cell is at least one pixel: the worst case of the rendering itself.
void BM_RenderLarge(benchmark::State &state)
{
    const LandscapeGrid &grid = randomGrid(4096);
    QImage image(4200, 4240, QImage::Format_ARGB32_Premultiplied);
    LandscapePicture picture;
    picture.setGrid(&grid);
    for (auto _ : state) {
        picture.invalidate();
        QPainter painter(&image);
        picture.paint(painter, QRect(0, 0, 4200, 4200), 0);
    }
}
BENCHMARK(BM_RenderLarge)->Unit(benchmark::kMillisecond)->UseRealTime();

// One rectangle per cell, as the picture was drawn before the cache, for
// comparison at a size where that is still bearable.
void BM_PaintCellByCell(benchmark::State &state)
{
    const int n = int(state.range(0));
    const LandscapeGrid &grid = randomGrid(n);
    QImage image = windowImage();
    for (auto _ : state) {
        QPainter painter(&image);
        const double cw = double(frame.width()) / n;
        const double ch = double(frame.height()) / n;
        for (int k = 0; k < n; ++k) {
            for (int i = 0; i < n; ++i) {
                const QColor colour =
                    grid.at(std::size_t(k), std::size_t(i)) == 0 ? Qt::white : Qt::black;
                painter.setBrush(QBrush(colour));
                painter.setPen(QPen(QBrush(colour), 0));
                const QRect cell(int(k * cw + frame.x()), int(i * ch + frame.y() + 35), int(cw),
                                 int(ch));
                painter.drawRects(&cell, 1);
            }
        }
    }
}
BENCHMARK(BM_PaintCellByCell)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a new map adds before its first paint: finding its codes, once, on a
// 4096 x 4096 map of arg 0 codes (2, or 5 classes; 100 stops the search
// early), and then a rendered paint of a map of 5 classes against the
// two-class BM_PaintRebuilt/4096.
const LandscapeGrid &classGrid(int classes)
{
    static std::map<int, LandscapeGrid> grids;
    auto [it, inserted] = grids.try_emplace(classes);
    if (inserted) {
        QRandomGenerator random(classes);
        std::vector<qint32> row(4096);
        for (int r = 0; r < 4096; ++r) {
            for (qint32 &cell : row)
                cell = qint32(random.bounded(classes));
            it->second.appendRow(row);
        }
    }
    return it->second;
}

void BM_FindCodes(benchmark::State &state)
{
    const LandscapeGrid &grid = classGrid(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(MapCodes::of(grid, -9999.0));
}
BENCHMARK(BM_FindCodes)->Arg(2)->Arg(5)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PaintRebuiltClasses(benchmark::State &state)
{
    const LandscapeGrid &grid = classGrid(5);
    QImage image = windowImage();
    LandscapePicture picture;
    picture.setGrid(&grid);
    for (auto _ : state) {
        picture.invalidate();
        QPainter painter(&image);
        picture.paint(painter, frame, 0);
    }
}
BENCHMARK(BM_PaintRebuiltClasses)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    // Painting wants a GUI application; the offscreen platform needs no
    // display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
