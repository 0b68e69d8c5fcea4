#include "app/mainwindow.h"

#include "app/dialogprogress.h"
#include "core/asciigridreader.h"
#include "core/batchlist.h"
#include "core/batchmanifest.h"
#include "core/diskspace.h"
#include "core/hsweep.h"
#include "core/mapfilereader.h"
#include "core/outputpaths.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>

#include <algorithm>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    loadConfig(settings);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    picture.paint(painter, ui->frameView->geometry(), settings.matrixValue);
}

void MainWindow::on_actionOpen_triggered()
{
    fileNames.clear();
    fileNames =
        QFileDialog::getOpenFileNames(this, tr("Choose file(s) do open"), QString(), QString());
    ui->fileListView->insertItems(ui->fileListView->count(), fileNames);
}

void MainWindow::on_fileListView_clicked(const QModelIndex &)
{
    // Loading follows the current row, not clicks: clicking the entry that
    // is already shown must not read its file again.
}

void MainWindow::on_actionParametros_triggered()
{
    settingsDialog.setRandomPrefix(settings.randomPrefix);
    settingsDialog.setRandomPostString(settings.randomPostString);
    settingsDialog.setFractalPrefix(settings.fractalPrefix);
    settingsDialog.setFractalPostString(settings.fractalPostString);
    settingsDialog.setCoverValue(settings.coverValue);
    settingsDialog.setMatrixValue(settings.matrixValue);

    if (settingsDialog.exec() != QDialog::Accepted)
        return;

    settings.randomPrefix = settingsDialog.randomPrefix();
    settings.randomPostString = settingsDialog.randomPostString();
    settings.fractalPrefix = settingsDialog.fractalPrefix();
    settings.fractalPostString = settingsDialog.fractalPostString();
    settings.coverValue = settingsDialog.coverValue();
    settings.matrixValue = settingsDialog.matrixValue();
    // The matrix code decides which cells are drawn white.
    picture.invalidate();
    update();

    if (const FileResult error = saveConfig(settings))
        showFailure(tr("Settings not saved"),
                    tr("The settings are in use but could not be saved for the next start.\n\n%1")
                        .arg(error->message()));
}

void MainWindow::on_actionRandom_triggered()
{
    RandomMapGenerator generator;
    if (randomDialog.exec() != QDialog::Accepted)
        return;

    const QString folder = randomDialog.folderText();
    // A batch the disk cannot hold is refused now, not found out hours later.
    if (const auto refusal = DiskSpace(folder).randomBatchRefusal(
            {randomDialog.initialCover(), randomDialog.finalCover(), randomDialog.coverStep(),
             randomDialog.mapSize(), randomDialog.replicateCount(), settings.matrixValue,
             settings.coverValue, nameStem(folder, settings.randomPrefix),
             settings.randomPostString})) {
        showFailure(tr("Random landscapes"), *refusal);
        return;
    }
    if (const auto refusal = prepareOutputFolder(folder)) {
        showFailure(tr("Random landscapes"), *refusal);
        return;
    }

    fileNames.clear();
    ui->fileListView->clear();

    const quint32 seed = quint32(settingsDialog.seed());
    const QString stem = nameStem(folder, settings.randomPrefix);
    QList<MapRecord> records;
    generator.setRecords(&records);
    BatchResult result;
    {
        DialogProgress progress(this);
        result = generator.runBatch(
            randomDialog.initialCover(), randomDialog.finalCover(), randomDialog.coverStep(),
            randomDialog.mapSize(), randomDialog.mapSize(), randomDialog.replicateCount(),
            settings.matrixValue, settings.coverValue, stem, seed, fileNames, progress);
    }
    if (result.status == BatchResult::Status::Refused) {
        showFailure(tr("Random landscapes"), result.message);
        return;
    }

    ui->fileListView->insertItems(ui->fileListView->count(), fileNames);
    writeBatchList(stem, settings.randomPostString);
    writeManifest(records, stem);
    if (result.status == BatchResult::Status::WriteFailed)
        showFailure(tr("Random landscapes"),
                    tr("The batch stopped because a map could not be written. The %n map(s) "
                       "written before it are listed.\n\n%1",
                       nullptr, int(fileNames.size()))
                        .arg(result.message));
}

void MainWindow::on_actionFractal_triggered()
{
    FractalMapGenerator generator;
    if (fractalDialog.exec() != QDialog::Accepted)
        return;

    // Refused before anything is cleared, so the list the user had stays.
    if (fractalDialog.mapSize() > FractalMapGenerator::maxMapSize) {
        showFailure(tr("Fractal landscapes"),
                    tr("Fractal maps can be at most %1 cells per side; %2 was requested.")
                        .arg(FractalMapGenerator::maxMapSize)
                        .arg(fractalDialog.mapSize()));
        return;
    }
    const QString folder = fractalDialog.folderText();
    if (const auto refusal = DiskSpace(folder).fractalBatchRefusal(
            {fractalDialog.initialCover(), fractalDialog.finalCover(), fractalDialog.coverStep(),
             fractalDialog.mapSize(), fractalDialog.replicateCount(), settings.matrixValue,
             settings.coverValue, nameStem(folder, settings.fractalPrefix),
             settings.fractalPostString},
            int(hValues(fractalDialog.initialH(), fractalDialog.finalH(), fractalDialog.hStep())
                    .size()))) {
        showFailure(tr("Fractal landscapes"), *refusal);
        return;
    }
    if (const auto refusal = prepareOutputFolder(folder)) {
        showFailure(tr("Fractal landscapes"), *refusal);
        return;
    }

    fileNames.clear();
    ui->fileListView->clear();

    const QString stem = nameStem(folder, settings.fractalPrefix);
    QList<MapRecord> records;
    generator.setRecords(&records);
    BatchResult result;
    {
        DialogProgress progress(this);
        result = generator.runFractalBatch(
            fractalDialog.initialH(), fractalDialog.finalH(), fractalDialog.hStep(),
            fractalDialog.initialCover(), fractalDialog.finalCover(), fractalDialog.coverStep(),
            fractalDialog.mapSize(), fractalDialog.replicateCount(), settings.matrixValue,
            settings.coverValue, stem, fileNames, progress);
    }
    if (result.status == BatchResult::Status::Refused) {
        showFailure(tr("Fractal landscapes"), result.message);
        return;
    }

    ui->fileListView->insertItems(ui->fileListView->count(), fileNames);
    ui->fileListView->sortItems(Qt::AscendingOrder);
    // The batch list keeps the order the maps were written in, and lands
    // beside them like the random run's.
    writeBatchList(stem, settings.fractalPostString);
    writeManifest(records, stem);
    if (result.status == BatchResult::Status::WriteFailed)
        showFailure(tr("Fractal landscapes"),
                    tr("The batch stopped because a map could not be written. The %n map(s) "
                       "written before it are listed.\n\n%1",
                       nullptr, int(fileNames.size()))
                        .arg(result.message));
}

void MainWindow::on_fileListView_currentRowChanged(int currentRow)
{
    if (currentRow < 0)
        return;
    const QListWidgetItem *item = ui->fileListView->currentItem();
    if (!item)
        return;
    loadMap(item->text());
    repaint();
}

void MainWindow::loadMap(QString path)
{
    // Grids written for GIS tools are shown as the maps they hold; anything
    // else is read with the lenient rules of the plain format.
    const FileResult error = AsciiGridReader::isAsciiGrid(path) ? AsciiGridReader::read(path, grid)
                                                                : MapFileReader::read(path, grid);
    picture.setGrid(&grid);
    if (error)
        statusBar()->showMessage(tr("Could not open %1").arg(error->message()));
    else
        statusBar()->showMessage(mapSummary());
}

QString MainWindow::mapSummary() const
{
    // Hand-made files can have rows of any length; the extent is then told
    // as it is rather than squeezed into a rectangle it does not have.
    std::size_t shortest = grid.isEmpty() ? 0 : grid.row(0).size();
    std::size_t longest = 0;
    qint64 cover = 0;
    for (std::size_t r = 0; r < grid.rowCount(); ++r) {
        const auto row = grid.row(r);
        shortest = std::min(shortest, row.size());
        longest = std::max(longest, row.size());
        for (const qint32 value : row)
            cover += value != settings.matrixValue;
    }
    const qint64 cells = qint64(grid.cellCount());
    if (cells == 0)
        return tr("No cells in this file");
    const QString share = QString::asprintf("%.2f", 100.0 * double(cover) / double(cells));
    if (shortest == longest)
        return tr("%1 × %2 cells, cover %3 %").arg(grid.rowCount()).arg(longest).arg(share);
    return tr("%1 rows of %2 to %3 cells, cover %4 %")
        .arg(grid.rowCount())
        .arg(shortest)
        .arg(longest)
        .arg(share);
}

bool MainWindow::writeManifest(const QList<MapRecord> &records, const QString &pathPrefix)
{
    if (const FileResult error = ::writeManifest(records, pathPrefix)) {
        showFailure(tr("Manifest not written"),
                    tr("The maps were written, but the manifest that records how each was made "
                       "could not be.\n\n%1")
                        .arg(error->message()));
        return false;
    }
    return true;
}

bool MainWindow::writeBatchList(const QString &pathPrefix, const QString &postString)
{
    if (const FileResult error = ::writeBatchList(fileNames, pathPrefix, postString)) {
        showFailure(tr("Batch list not written"),
                    tr("The maps were written, but their batch list could not be.\n\n%1")
                        .arg(error->message()));
        return false;
    }
    return true;
}

void MainWindow::showFailure(const QString &title, const QString &message)
{
    QMessageBox::warning(this, title, message);
}
