// SPDX-License-Identifier: GPL-3.0-or-later
// From the click on a map in the window's list to its picture on screen:
// a 4096 x 4096 plain map, read on the window's reader thread, handed back,
// and painted into a window of 1000 x 700 pixels. Each iteration first
// shows a small map, so that every timed click reads and draws the large
// one anew. Run it with QT_QPA_PLATFORM=offscreen on a machine with no
// display.
#include "app/mainwindow.h"
#include "tests/support/modal.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
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

void BM_EventGapDuringBatch(benchmark::State &state)
{
    MainWindow window;
    window.show();
    auto *random = window.findChild<QAction *>(QStringLiteral("actionRandom"));
    double longest = 0;
    int run = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QString::number(++run));
        whenModal<QDialog>([folder](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("Ci"))->setValue(50);
            dialog->findChild<QSpinBox *>(QStringLiteral("Cf"))->setValue(50);
            dialog->findChild<QSpinBox *>(QStringLiteral("Tam"))->setValue(3000);
            dialog->findChild<QSpinBox *>(QStringLiteral("amo"))->setValue(4);
            dialog->findChild<QLineEdit *>(QStringLiteral("path"))->setText(folder);
            clickOk(dialog);
        });
        auto last = std::chrono::steady_clock::now();
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&last, &longest] {
            const auto now = std::chrono::steady_clock::now();
            longest =
                std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        ticker.start();
        random->trigger();
        ticker.stop();
    }
    state.counters["longest_gap_ms"] = longest;
}
BENCHMARK(BM_EventGapDuringBatch)->Unit(benchmark::kMillisecond)->Iterations(3);

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
