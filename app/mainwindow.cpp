#include "app/mainwindow.h"

#include "app/dialogprogress.h"
#include "core/mapreader.h"
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
    if (randomDialog.exec() != QDialog::Accepted)
        return;
    RandomBatchRequest request = randomDialog.request();
    request.seed = settingsDialog.seed();
    request.output =
        batchOutput(request.output.folder, settings.randomPrefix, settings.randomPostString);
    runBatch(randomBatchJob(request), tr("Random landscapes"), ListOrder::AsWritten);
}

void MainWindow::on_actionFractal_triggered()
{
    if (fractalDialog.exec() != QDialog::Accepted)
        return;
    FractalBatchRequest request = fractalDialog.request();
    request.output =
        batchOutput(request.output.folder, settings.fractalPrefix, settings.fractalPostString);
    runBatch(fractalBatchJob(request), tr("Fractal landscapes"), ListOrder::Sorted);
}

BatchOutput MainWindow::batchOutput(const QString &folder, const QString &prefix,
                                    const QString &postString) const
{
    BatchOutput output;
    output.folder = folder;
    output.prefix = prefix;
    output.postString = postString;
    output.coverValue = settings.coverValue;
    output.matrixValue = settings.matrixValue;
    return output;
}

void MainWindow::runBatch(BatchJob job, const QString &title, ListOrder order)
{
    // Refused before anything is cleared, so the list the user had stays.
    if (const auto refusal = job.prepare()) {
        showFailure(title, asSentence(refusal->message));
        return;
    }
    fileNames.clear();
    ui->fileListView->clear();
    BatchReport report;
    {
        DialogProgress progress(this);
        report = progress.run(job);
    }
    fileNames = report.fileNames();
    ui->fileListView->insertItems(ui->fileListView->count(), fileNames);
    // The batch list keeps the order the maps were written in.
    if (order == ListOrder::Sorted)
        ui->fileListView->sortItems(Qt::AscendingOrder);
    showReport(title, report);
}

void MainWindow::showReport(const QString &title, const BatchReport &report)
{
    if (report.batchListError)
        showFailure(tr("Batch list not written"),
                    tr("The maps were written, but their batch list could not be.\n\n%1")
                        .arg(report.batchListError->message()));
    if (report.manifestError)
        showFailure(tr("Manifest not written"),
                    tr("The maps were written, but the manifest that records how each was made "
                       "could not be.\n\n%1")
                        .arg(report.manifestError->message()));
    if (report.result.status == BatchResult::Status::Failed)
        showFailure(title, tr("The batch stopped because a map could not be written. The %n "
                              "map(s) written before it are listed.\n\n%1",
                              nullptr, int(report.maps.size()))
                               .arg(report.result.message));
}

QString MainWindow::asSentence(QString message)
{
    if (!message.isEmpty())
        message[0] = message[0].toUpper();
    if (!message.endsWith(QLatin1Char('.')))
        message += QLatin1Char('.');
    return message;
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
    const FileResult error = readMap(path, grid);
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

void MainWindow::showFailure(const QString &title, const QString &message)
{
    QMessageBox::warning(this, title, message);
}
