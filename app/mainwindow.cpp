#include "app/mainwindow.h"

#include "app/dialogprogress.h"
#include "core/mapreader.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>

#include <algorithm>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    if (const auto problem = loadConfig(settings))
        statusBar()->showMessage(
            tr("Could not read %1; the default settings are in use.").arg(*problem));
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
    auto refusal = job.prepare();
    if (refusal && refusal->kind == BatchRefusal::Kind::ExistingFiles &&
        QMessageBox::question(
            this, title,
            tr("The folder already holds %n file(s) of an earlier run with the same prefix. "
               "Replace them?\n\nThe earlier batch list and manifest are removed first; "
               "earlier maps this batch does not write stay in the folder, in no list.",
               nullptr, int(refusal->existingFiles))) == QMessageBox::Yes) {
        job.allowOverwrite();
        refusal = job.prepare();
    }
    if (refusal) {
        if (refusal->kind != BatchRefusal::Kind::ExistingFiles)
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
    // One message, in the order things happened; nothing to say after a
    // clean run or a cancel.
    QStringList parts;
    const bool failed = report.result.status == BatchResult::Status::Failed;
    if (failed)
        parts << tr("The batch stopped at a map that could not be written:\n%1")
                     .arg(report.result.message);
    if (failed || report.batchListError || report.manifestError) {
        parts << (report.maps.isEmpty() ? tr("No map was written.")
                                        : tr("%n map(s) were written and are listed.", nullptr,
                                             int(report.maps.size())));
    }
    if (report.batchListError)
        parts << tr("Their batch list could not be written:\n%1")
                     .arg(report.batchListError->message());
    if (report.manifestError)
        parts << tr("The manifest that records how each map was made could not be written:\n%1")
                     .arg(report.manifestError->message());
    if (report.olderMapsKept > 0)
        parts << tr("%n map(s) of the earlier run with this prefix were not rewritten; they "
                    "are still in the folder, but in no batch list.",
                    nullptr, int(report.olderMapsKept));
    for (const QString &shortfall : report.shortfalls)
        parts << asSentence(shortfall);
    if (parts.isEmpty())
        return;
    const bool trouble = failed || report.batchListError || report.manifestError;
    if (trouble)
        showFailure(title, parts.join(QStringLiteral("\n\n")));
    else
        QMessageBox::information(this, title, parts.join(QStringLiteral("\n\n")));
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
