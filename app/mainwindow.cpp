#include "app/mainwindow.h"

#include "app/dialogprogress.h"
#include "app/mapfilereader.h"
#include "app/outputpaths.h"
#include "random/randommapgenerator.h"
#include "settings/batchlist.h"
#include "ui_mainwindow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>

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
    if (const auto refusal = prepareOutputFolder(folder)) {
        showFailure(tr("Random landscapes"), *refusal);
        return;
    }

    fileNames.clear();
    ui->fileListView->clear();

    const quint32 seed = quint32(settingsDialog.seed());
    const QString stem = nameStem(folder, settings.randomPrefix);
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
    if (result.status == BatchResult::Status::WriteFailed)
        showFailure(tr("Random landscapes"),
                    tr("The batch stopped because a map could not be written. The %n map(s) "
                       "written before it are listed.\n\n%1",
                       nullptr, int(fileNames.size()))
                        .arg(result.message));
}

void MainWindow::on_actionFractal_triggered()
{}

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
    const FileResult error = MapFileReader::read(path, grid);
    picture.setGrid(&grid);
    if (error)
        statusBar()->showMessage(tr("Could not open %1").arg(error->message()));
    else
        statusBar()->clearMessage();
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
