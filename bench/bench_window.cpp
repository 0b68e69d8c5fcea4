// SPDX-License-Identifier: GPL-3.0-or-later
// From the click on a map in the window's list to its picture on screen:
// a 4096 x 4096 plain map, read on the window's reader thread, handed back,
// and painted into a window of 1000 x 700 pixels. Each iteration first
// shows a small map, so that every timed click reads and draws the large
// one anew. Run it with QT_QPA_PLATFORM=offscreen on a machine with no
// display.
#include "app/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

QString writeMap(const QTemporaryDir &dir, const QString &name, int size)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray row;
    for (int c = 0; c < size; ++c)
        row.append((c * 7 + c / 13) % 3 ? "1 " : "0 ");
    row.append('\n');
    for (int r = 0; r < size; ++r)
        file.write(row);
    return path;
}

void BM_ClickToPicture(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString small = writeMap(dir, QStringLiteral("small.txt"), 4);
    const QString large = writeMap(dir, QStringLiteral("large.txt"), int(state.range(0)));
    MainWindow window;
    window.resize(1000, 700);
    window.show();
    window.addFiles({small, large});
    auto *list = window.findChild<QListWidget *>(QStringLiteral("fileListView"));
    for (auto _ : state) {
        list->setCurrentRow(0);
        QCoreApplication::processEvents();
        QEventLoop shown;
        const auto connection = QObject::connect(&window, &MainWindow::mapShown, &shown,
                                                 [&shown](const QString &) { shown.quit(); });
        const auto start = std::chrono::steady_clock::now();
        list->setCurrentRow(1);
        if (window.currentGrid().rowCount() != std::size_t(state.range(0)))
            shown.exec();
        window.repaint();
        const auto end = std::chrono::steady_clock::now();
        QObject::disconnect(connection);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}
BENCHMARK(BM_ClickToPicture)->Arg(1024)->Arg(4096)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
