// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"

#include "app/dialogprogress.h"
#include "core/batch/batchlist.h"
#include "core/batch/mapsource.h"
#include "core/grid/mapreader.h"
#include "core/version.h"
#include "ui_mainwindow.h"
#include "view/maplegend.h"
#include "widgets/refusalline.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QString openFolderKey = QStringLiteral("open/folder");
const QString geometryKey = QStringLiteral("window/geometry");
const QString splitterKey = QStringLiteral("window/splitter");
const QString squareCellsKey = QStringLiteral("view/squareCells");
const QString rowsAsRowsKey = QStringLiteral("view/rowsAsRows");

// A key press doubles or halves the scale; a notch of the wheel (120
// eighths of a degree) changes it by a quarter, so that zooming by wheel
// can stop in between.
constexpr double keyZoom = 2;
constexpr double notchZoom = 1.25;

// The names of the files a batch writes as maps, for File > Open and for a
// folder opened whole.
const QStringList mapNameFilters = mapFileFilters();

// The object name of a family's entry in the Create menu: actionRandom for
// random.
QString actionName(const MapFamily &family)
{
    const QString word = QLatin1String(family.word());
    return QStringLiteral("action") + word.left(1).toUpper() + word.mid(1);
}

bool isBatchList(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("fbt"), Qt::CaseInsensitive) == 0;
}

QPixmap swatch(QRgb colour)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(QColor(colour));
    QPainter painter(&pixmap);
    painter.setPen(Qt::gray);
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return pixmap;
}

// Where a list entry keeps the shape of its map once the map was shown.
constexpr int shapeRole = Qt::UserRole + 1;

// Shows a list entry's name followed by its map's shape, when known, while
// the entry's own text stays the file's name.
class FileEntryDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString shape = index.data(shapeRole).toString();
        if (!shape.isEmpty())
            option->text = QStringLiteral("%1 (%2)").arg(option->text, shape);
    }
};

// The legend lists at most this many codes in the status bar; the rest are
// in its tooltip, which lists them all.
constexpr std::size_t legendCodesShown = 8;

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // One read at a time: a read that is no longer wanted stops within a
    // block of its file and makes way for the next.
    mapReaders.setMaxThreadCount(1);
    ConfigSupply supply;
    if (const auto problem = loadConfig(settings, defaultConfigFileName(), &supply))
        statusBar()->showMessage(
            tr("Could not read %1; the default settings are in use.").arg(*problem));
    else if (QFileInfo::exists(defaultConfigFileName()))
        if (const auto gaps =
                configGaps(supply, settings,
                           {ConfigValue::RandomPrefix, ConfigValue::RandomPostString,
                            ConfigValue::FractalPrefix, ConfigValue::FractalPostString,
                            ConfigValue::CoverValue, ConfigValue::MatrixValue}))
            statusBar()->showMessage(*gaps + QLatin1Char('.'));

    // Both follow the window's width, the map three times as much as the
    // list, so that long names get room too.
    ui->splitter->setStretchFactor(0, 1);
    ui->splitter->setStretchFactor(1, 3);
    connect(ui->actionQuit, &QAction::triggered, this, &QWidget::close);
    // Ctrl+= is where Ctrl++ is on keyboards that need Shift for "+".
    ui->actionZoomIn->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    // Delete acts on the list only, so that it never removes an entry while
    // the user types elsewhere.
    auto *remove = new QAction(tr("Remove from list"), ui->fileListView);
    remove->setObjectName(QStringLiteral("actionRemoveEntry"));
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this, &MainWindow::removeSelectedEntry);
    ui->fileListView->addAction(remove);

    ui->fileListView->setItemDelegate(new FileEntryDelegate(ui->fileListView));
    legendBox = new QWidget(this);
    legendBox->setObjectName(QStringLiteral("legend"));
    auto *legendLayout = new QHBoxLayout(legendBox);
    legendLayout->setContentsMargins(0, 0, 0, 0);
    pointerCell = new QLabel(this);
    pointerCell->setObjectName(QStringLiteral("pointerCell"));
    statusBar()->addPermanentWidget(pointerCell);
    zoomLevel = new QLabel(this);
    zoomLevel->setObjectName(QStringLiteral("zoomLevel"));
    zoomLevel->hide();
    statusBar()->addPermanentWidget(zoomLevel);
    statusBar()->addPermanentWidget(legendBox);
    updateLegend();

    addFamilyActions();

    // Help comes after the form's menus, which stay as they are.
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    QAction *about = help->addAction(tr("&About Patchwright..."));
    about->setObjectName(QStringLiteral("actionAbout"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this,
            [this] { QMessageBox::about(this, tr("About Patchwright"), aboutText()); });

    // Menus clear the status bar while the pointer passes over their items;
    // what the bar says of the shown map comes back afterwards.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString &message) {
        if (message.isEmpty() && !mapMessage.isEmpty())
            statusBar()->showMessage(mapMessage);
    });

    // The map is painted on the window under the frame, so the frame only
    // passes on what the mouse does there.
    ui->frameView->installEventFilter(this);
    // Moves without a button pressed too, for the cell under the pointer.
    ui->frameView->setMouseTracking(true);
    setAcceptDrops(true);

    const QSettings stored;
    restoreGeometry(stored.value(geometryKey).toByteArray());
    ui->splitter->restoreState(stored.value(splitterKey).toByteArray());
    // Set before the slots see them, and then handed to the picture once.
    {
        const QSignalBlocker squareBlocker(ui->actionSquareCells);
        const QSignalBlocker rowsBlocker(ui->actionRowsAsRows);
        ui->actionSquareCells->setChecked(stored.value(squareCellsKey, false).toBool());
        ui->actionRowsAsRows->setChecked(stored.value(rowsAsRowsKey, false).toBool());
    }
    PictureView view;
    view.squareCells = ui->actionSquareCells->isChecked();
    view.rowsAsRows = ui->actionRowsAsRows->isChecked();
    picture.setView(view);
}

MainWindow::~MainWindow()
{
    // A read still running would post its map to a window that is gone.
    stopLoading();
    mapReaders.waitForDone();
    *listsStop = true;
    listReaders.waitForDone();
    delete ui;
}

namespace {

// What the About box says the families make, from their summaries.
QString familyTitles()
{
    QStringList titles;
    for (const MapFamily *family : mapFamilies())
        titles.append(family->summary().section(QLatin1Char(':'), 0, 0));
    return titles.join(QStringLiteral("; "));
}

} // namespace

QString MainWindow::aboutText()
{
    const QString version = QString::fromLatin1(patchwrightVersion);
    return tr("<h3>Patchwright %1</h3>"
              "<p>Batches of synthetic landscape maps for landscape ecology: %4.</p>"
              "<p>Licensed under the GNU General Public License, version 3 or (at your "
              "option) any later version (GPL-3.0-or-later). It comes with no warranty.</p>"
              "<p>To cite it: The Patchwright developers. <i>Patchwright: synthetic "
              "landscape maps</i>, version %1. The CITATION.cff file of the source gives "
              "the full entry; the manifest of every batch names the version that made "
              "it.</p>"
              "<p>Qt %2 (built with Qt %3).</p>")
        .arg(version, QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR),
             familyTitles());
}

void MainWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    picture.paint(painter, mapFrame(), settings.matrixValue);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings stored;
    stored.setValue(geometryKey, saveGeometry());
    stored.setValue(splitterKey, ui->splitter->saveState());
    QMainWindow::closeEvent(event);
}

QRect MainWindow::mapFrame() const
{
    return QRect(ui->frameView->mapTo(ui->centralWidget, QPoint(0, 0)), ui->frameView->size());
}

QRectF MainWindow::drawingArea() const
{
    return LandscapePicture::drawingArea(mapFrame());
}

void MainWindow::addFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        auto *item = new QListWidgetItem(QFileInfo(path).fileName());
        item->setData(Qt::UserRole, path);
        item->setToolTip(QDir::toNativeSeparators(path));
        ui->fileListView->addItem(item);
    }
}

QString MainWindow::pathOf(const QListWidgetItem *item)
{
    return item->data(Qt::UserRole).toString();
}

void MainWindow::on_actionOpen_triggered()
{
    fileNames.clear();
    QSettings stored;
    const QStringList chosen = QFileDialog::getOpenFileNames(
        this, tr("Choose file(s) do open"), stored.value(openFolderKey).toString(),
        tr("Maps (%1);;Batch lists (*.fbt);;All files (*)")
            .arg(mapNameFilters.join(QLatin1Char(' '))));
    if (!chosen.isEmpty())
        stored.setValue(openFolderKey, QFileInfo(chosen.first()).absolutePath());
    openInOrder(chosen, true);
}

void MainWindow::openPaths(const QStringList &paths)
{
    openInOrder(paths, false);
}

void MainWindow::openInOrder(const QStringList &paths, bool chosen)
{
    if (listsBeingRead == 0 && std::none_of(paths.begin(), paths.end(), isBatchList)) {
        showExpansion(expandPaths(paths, {}), chosen);
        return;
    }
    // One thread reads them in turn, so what was opened later is listed
    // later, whichever took longer to read.
    listReaders.setMaxThreadCount(1);
    ++listsBeingRead;
    listReaders.start([this, paths, chosen, stop = listsStop] {
        const Expansion expansion = expandPaths(paths, [&stop] { return stop->load(); });
        // The window waits for this read before it goes, so it is still
        // there to post to.
        if (!*stop)
            QMetaObject::invokeMethod(
                this,
                [this, expansion, chosen] {
                    --listsBeingRead;
                    showExpansion(expansion, chosen);
                },
                Qt::QueuedConnection);
    });
}

void MainWindow::showExpansion(const Expansion &expansion, bool chosen)
{
    if (chosen)
        fileNames = expansion.maps;
    addFiles(expansion.maps);
    if (!expansion.problems.isEmpty())
        statusBar()->showMessage(
            tr("Could not open %1").arg(expansion.problems.join(QStringLiteral("; "))));
}

MainWindow::Expansion MainWindow::expandPaths(const QStringList &paths, const ReadStop &stop)
{
    Expansion expansion;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QDir folder(path);
            for (const QString &name : folder.entryList(mapNameFilters, QDir::Files, QDir::Name))
                expansion.maps << QDir::toNativeSeparators(folder.absoluteFilePath(name));
        } else if (isBatchList(path)) {
            QStringList named;
            if (const FileResult error = readBatchList(path, named, stop))
                expansion.problems << error->message();
            expansion.maps << named;
        } else {
            expansion.maps << path;
        }
    }
    return expansion;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), [](const QUrl &url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    if (paths.isEmpty())
        return;
    openPaths(paths);
    event->acceptProposedAction();
}

void MainWindow::removeSelectedEntry()
{
    const int row = ui->fileListView->currentRow();
    if (row < 0)
        return;
    delete ui->fileListView->takeItem(row);
    // The list moves the selection to a neighbour and shows it; with no
    // entry left there is nothing to show.
    if (ui->fileListView->count() == 0)
        showNoMap();
}

void MainWindow::showNoMap()
{
    stopLoading();
    grid.clear();
    mapNoData.reset();
    picture.setGrid(&grid);
    updateLegend();
    ui->actionExportPicture->setEnabled(false);
    mapMessage.clear();
    statusBar()->clearMessage();
    zoomLevel->hide();
    pointerCell->clear();
    update();
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
    // The matrix code decides which cells of a two-class map are drawn white.
    picture.invalidate();
    updateLegend();
    update();

    if (const FileResult error = saveConfig(settings))
        showFailure(tr("Settings not saved"),
                    tr("The settings are in use but could not be saved for the next start.\n\n%1")
                        .arg(error->message()));
}

void MainWindow::on_actionRandom_triggered()
{
    // A batch refused before it started brings the dialog back with the
    // values the user typed, so that only what was wrong needs changing.
    while (randomDialog.exec() == QDialog::Accepted) {
        RandomBatchRequest request = randomDialog.request();
        request.seed = settingsDialog.seed();
        if (runBatch(request))
            return;
    }
}

void MainWindow::on_actionFractal_triggered()
{
    while (fractalDialog.exec() == QDialog::Accepted)
        if (runBatch(fractalDialog.request()))
            return;
}

void MainWindow::addFamilyActions()
{
    for (const MapFamily *family : mapFamilies()) {
        if (findChild<QAction *>(actionName(*family)))
            continue;
        auto *action = new QAction(family->menuText(), this);
        action->setObjectName(actionName(*family));
        ui->menuCreate->addAction(action);
        connect(action, &QAction::triggered, this, [this, family] { runFamilyDialog(*family); });
    }
}

void MainWindow::runFamilyDialog(const MapFamily &family)
{
    std::unique_ptr<FamilyDialog> &dialog = familyDialogs[&family];
    if (!dialog)
        dialog = makeFamilyDialog(family);
    while (dialog->exec() == QDialog::Accepted)
        if (runBatch(*dialog->familyRequest()))
            return;
}

void MainWindow::applySettings(FamilyRequest &request) const
{
    BatchOutput &output = request.output;
    // A family config.txt has no lines for keeps the dialog's prefix.
    if (const int line = request.family().configLine(); line >= 0) {
        output.prefix = configText(settings, ConfigValue(line));
        output.postString = configText(settings, ConfigValue(line + 1));
    } else {
        output.postString.clear();
    }
    output.coverValue = settings.coverValue;
    output.matrixValue = settings.matrixValue;
}

bool MainWindow::runBatch(const FamilyRequest &asked)
{
    const std::unique_ptr<FamilyRequest> request = asked.clone();
    applySettings(*request);
    const MapFamily &family = request->family();
    const QString title = family.title();
    BatchJob job(family.source(*request));
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
            showFailure(title, asSentence(refusal->message.text()));
        return false;
    }
    fileNames.clear();
    ui->fileListView->clear();
    BatchReport report;
    {
        DialogProgress progress(this);
        report = progress.run(job);
    }
    fileNames = report.fileNames();
    addFiles(fileNames);
    // The batch list keeps the order the maps were written in; names sort
    // as their paths do, since a batch writes into one folder.
    if (family.listsByName())
        ui->fileListView->sortItems(Qt::AscendingOrder);
    // The first new map replaces whatever was shown before the run.
    if (ui->fileListView->count() > 0)
        ui->fileListView->setCurrentRow(0);
    else
        showNoMap();
    statusBar()->showMessage(batchSummary(title, report));
    showReport(title, report);
    return true;
}

QString MainWindow::batchSummary(const QString &title, const BatchReport &report)
{
    const int written = int(report.maps.size());
    const QString folder = QDir::toNativeSeparators(QFileInfo(report.batchListPath).absolutePath());
    QString summary;
    switch (report.result.status) {
    case BatchResult::Status::Completed:
        summary = tr("%1: %n map(s) written to %2", nullptr, written).arg(title, folder);
        break;
    case BatchResult::Status::Canceled:
        summary = tr("%1: cancelled after %n map(s), listed and kept in %2", nullptr, written)
                      .arg(title, folder);
        break;
    case BatchResult::Status::Failed:
        summary = tr("%1: stopped at a map that could not be written, after %n map(s) in %2",
                     nullptr, written)
                      .arg(title, folder);
        break;
    }
    if (!report.shortfalls.isEmpty())
        summary += tr("; some covers fell short");
    return summary + QLatin1Char('.');
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
    for (const Phrase &shortfall : report.shortfalls)
        parts << asSentence(shortfall);
    if (parts.isEmpty())
        return;
    const bool trouble = failed || report.batchListError || report.manifestError;
    if (trouble)
        showFailure(title, parts.join(QStringLiteral("\n\n")));
    else
        QMessageBox::information(this, title, parts.join(QStringLiteral("\n\n")));
}

void MainWindow::on_fileListView_currentRowChanged(int currentRow)
{
    if (currentRow < 0)
        return;
    const QListWidgetItem *item = ui->fileListView->currentItem();
    if (!item)
        return;
    loadMap(pathOf(item));
    repaint();
}

void MainWindow::stopLoading()
{
    ++loadCount;
    if (loadStop)
        *loadStop = true;
    loadStop.reset();
}

void MainWindow::loadMap(QString path)
{
    stopLoading();
    const quint64 load = loadCount;
    // A text file's size bounds the cells it can hold, so a small one is
    // read at once, as the window always has, without a passing "Loading"
    // message; a GeoTIFF of a few kilobytes can declare a billion cells.
    const QFileInfo file(path);
    constexpr qint64 readAtOnce = qint64(4) << 20;
    if (file.size() <= readAtOnce &&
        !file.suffix().startsWith(QLatin1String("tif"), Qt::CaseInsensitive)) {
        LandscapeGrid loaded;
        MapFileInfo info;
        const FileResult error = readMap(path, loaded, {}, &info);
        showLoadedMap(load, path, loaded, error, info.noData);
        return;
    }
    mapMessage = tr("Loading %1 ...").arg(QDir::toNativeSeparators(path));
    statusBar()->showMessage(mapMessage);
    auto stop = loadStop = std::make_shared<std::atomic<bool>>(false);
    mapReaders.start([this, path, load, stop] {
        auto loaded = std::make_shared<LandscapeGrid>();
        MapFileInfo info;
        const FileResult error = readMap(
            path, *loaded, [&stop] { return stop->load(); }, &info);
        // The window waits for this read before it goes, so it is still
        // there to post to.
        if (!*stop)
            QMetaObject::invokeMethod(
                this,
                [this, load, path, loaded, error, noData = info.noData] {
                    showLoadedMap(load, path, *loaded, error, noData);
                },
                Qt::QueuedConnection);
    });
}

void MainWindow::showLoadedMap(quint64 load, const QString &path, LandscapeGrid &loaded,
                               const FileResult &error, std::optional<double> noData)
{
    if (load != loadCount)
        return;
    loadStop.reset();
    // Grids written for GIS tools are shown as the maps they hold; anything
    // else is read with the lenient rules of the plain format, unless it is
    // no map at all.
    grid = std::move(loaded);
    // A plain map of a study area says its outside in its batch's manifest.
    if (!error && !noData)
        if (const auto entry = manifests.find(path); entry && entry->noData)
            noData = *entry->noData;
    mapNoData = error ? std::nullopt : noData;
    picture.setGrid(&grid, mapNoData);
    updateLegend();
    ui->actionExportPicture->setEnabled(!error && !grid.isEmpty());
    mapMessage = error ? tr("Could not open %1").arg(error->message()) : mapSummary(path);
    if (QListWidgetItem *item = ui->fileListView->currentItem();
        item && pathOf(item) == path && !error && !grid.isEmpty())
        item->setData(shapeRole, mapShape());
    statusBar()->showMessage(mapMessage);
    setView(picture.view());
    update();
    Q_EMIT mapShown(path);
}

QString MainWindow::mapShape() const
{
    // Hand-made files can have rows of any length; the extent is then told
    // as it is rather than squeezed into a rectangle it does not have.
    std::size_t shortest = grid.isEmpty() ? 0 : grid.row(0).size();
    std::size_t longest = 0;
    for (std::size_t r = 0; r < grid.rowCount(); ++r) {
        shortest = std::min(shortest, grid.row(r).size());
        longest = std::max(longest, grid.row(r).size());
    }
    const QString rows = QString::number(grid.rowCount());
    return shortest == longest
               ? tr("%1 × %2").arg(rows, QString::number(longest))
               : tr("%1 rows of %2 to %3")
                     .arg(rows, QString::number(shortest), QString::number(longest));
}

QString MainWindow::mapSummary(const QString &path)
{
    const MapCodes &codes = picture.codes();
    qint64 cover = 0;
    qint64 noDataCells = 0;
    for (std::size_t r = 0; r < grid.rowCount(); ++r) {
        for (const qint32 value : grid.row(r)) {
            const bool outside = codes.noData && value == *codes.noData;
            noDataCells += outside;
            cover += !outside && value != settings.matrixValue;
        }
    }
    const QString name = QFileInfo(path).fileName();
    const qint64 cells = qint64(grid.cellCount());
    if (cells == 0)
        return tr("%1: no cells in this file").arg(name);
    // NoData cells are outside the map, so the cover is a share of the
    // others, as the manifest's shares are.
    const qint64 inside = cells - noDataCells;
    QString content;
    if (inside == 0) {
        content = tr("every cell NoData");
    } else {
        content =
            tr("cover %1 %").arg(QString::asprintf("%.2f", 100.0 * double(cover) / double(inside)));
        if (codes.tooManyToList())
            content += tr(", more than %1 classes").arg(MapCodes::maximumClasses);
        else if (codes.codes.size() > 2)
            content += tr(", %1 classes").arg(codes.codes.size());
        if (noDataCells > 0)
            content += tr(", %1 NoData cells").arg(noDataCells);
    }
    // Joined, not given to arg(), so that a "%1" in a file name stays as it is.
    QString summary = name + QStringLiteral(": ") + tr("%1 cells, %2").arg(mapShape(), content);
    if (const auto entry = manifests.find(path)) {
        // The family's own words (a field's model and range) after the
        // kind, then what every map has.
        QString kind = entry->kind;
        for (const auto &[column, value] : entry->details)
            kind += QStringLiteral(", %1 %2").arg(column, value);
        summary +=
            entry->H.isEmpty()
                ? tr(" · %1, requested cover %2 %, seed %3, replicate %4")
                      .arg(kind, entry->requestedCover, entry->seed, entry->replicate)
                : tr(" · %1, H %2, requested cover %3 %, seed %4, replicate %5")
                      .arg(kind, entry->H, entry->requestedCover, entry->seed, entry->replicate);
    }
    return summary;
}

void MainWindow::showFailure(const QString &title, const QString &message)
{
    QMessageBox::warning(this, title, message);
}

void MainWindow::updateLegend()
{
    // Rebuilt whole: the entries follow the map's codes.
    auto *layout = static_cast<QHBoxLayout *>(legendBox->layout());
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto addEntry = [&](QRgb colour, const QString &text) {
        auto *swatchLabel = new QLabel(legendBox);
        swatchLabel->setPixmap(swatch(colour));
        layout->addWidget(swatchLabel);
        layout->addWidget(new QLabel(text, legendBox));
    };
    const MapColours colours(picture.codes(), settings.matrixValue);
    legendBox->setToolTip(QString());
    if (colours.twoClass()) {
        // The legend the window has always had, whatever two codes there are.
        addEntry(LandscapePicture::habitatPixel, tr("habitat"));
        addEntry(LandscapePicture::matrixPixel, tr("matrix (code %1)").arg(settings.matrixValue));
    } else if (colours.tooManyToList()) {
        layout->addWidget(new QLabel(maplegend::tooManyText(), legendBox));
    } else {
        // A long list keeps to the status bar's corner; its tooltip gives
        // every code.
        QString table;
        std::size_t shown = 0;
        for (const MapColours::LegendEntry &entry : colours.legend()) {
            if (!entry.code)
                continue;
            const QString text = maplegend::label(entry, colours, settings.matrixValue);
            table +=
                QStringLiteral("<tr><td bgcolor=\"%1\">&nbsp;&nbsp;&nbsp;</td><td>%2</td></tr>")
                    .arg(QColor(entry.colour).name(), text.toHtmlEscaped());
            if (++shown <= legendCodesShown)
                addEntry(entry.colour, text);
        }
        if (shown > legendCodesShown)
            layout->addWidget(new QLabel(tr("… %1 more").arg(shown - legendCodesShown), legendBox));
        legendBox->setToolTip(QStringLiteral("<table cellspacing=\"3\">%1</table>").arg(table));
    }
    if (colours.hasNoDataCells())
        addEntry(MapColours::noDataPixel, tr("NoData"));
}

void MainWindow::on_actionExportPicture_triggered()
{
    const QListWidgetItem *item = ui->fileListView->currentItem();
    if (grid.isEmpty() || !item)
        return;
    const QFileInfo map(pathOf(item));
    const QString target = QFileDialog::getSaveFileName(
        this, tr("Export picture"),
        map.dir().filePath(map.completeBaseName() + QStringLiteral(".png")),
        tr("PNG images (*.png)"));
    if (target.isEmpty())
        return;
    // The whole map, as `patchwright-cli render` draws it with the same
    // matrix code and orientation; the zoom is only for looking.
    PictureView view;
    view.rowsAsRows = picture.view().rowsAsRows;
    const QSize size = LandscapePicture::previewSize(grid.rowCount());
    const QImage image =
        LandscapePicture::preview(grid, settings.matrixValue, size, view, mapNoData);
    const FileResult error =
        image.isNull()
            ? FileResult(FileError{QDir::toNativeSeparators(target), tr("not enough memory")})
            : LandscapePicture::saveImage(image, target);
    if (error)
        showFailure(tr("Export picture"),
                    tr("The picture could not be saved:\n%1").arg(error->message()));
    else
        statusBar()->showMessage(tr("Picture saved to %1").arg(QDir::toNativeSeparators(target)),
                                 5000);
}

void MainWindow::setView(const PictureView &view)
{
    picture.setView(view);
    zoomLevel->setText(tr("Zoom %1 %").arg(qRound(view.zoom * 100)));
    zoomLevel->setVisible(!grid.isEmpty());
    // The hand says that a zoomed map can be dragged.
    if (!dragFrom) {
        if (view.zoom > 1)
            ui->frameView->setCursor(Qt::OpenHandCursor);
        else
            ui->frameView->unsetCursor();
    }
    update();
}

void MainWindow::showPointerCell(std::optional<QPointF> at)
{
    const auto cell =
        at ? LandscapePicture::cellAt(grid, drawingArea(), picture.view(), *at) : std::nullopt;
    // Counted from 1, as the lines of a map file are.
    if (cell) {
        const qint32 code = grid.row(cell->row)[cell->column];
        const auto noData = picture.codes().noData;
        pointerCell->setText(tr("Row %1, column %2: %3")
                                 .arg(cell->row + 1)
                                 .arg(cell->column + 1)
                                 .arg(noData && code == *noData ? tr("NoData (%1)").arg(code)
                                                                : QString::number(code)));
    } else
        pointerCell->clear();
}

void MainWindow::on_actionSquareCells_toggled(bool on)
{
    PictureView view = picture.view();
    view.squareCells = on;
    QSettings().setValue(squareCellsKey, on);
    setView(view);
}

void MainWindow::on_actionRowsAsRows_toggled(bool on)
{
    PictureView view = picture.view();
    view.rowsAsRows = on;
    QSettings().setValue(rowsAsRowsKey, on);
    setView(view);
}

void MainWindow::zoomBy(double factor, QPointF anchor)
{
    setView(LandscapePicture::zoomed(grid, drawingArea(), picture.view(), factor, anchor));
}

void MainWindow::on_actionZoomIn_triggered()
{
    zoomBy(keyZoom, drawingArea().center());
}

void MainWindow::on_actionZoomOut_triggered()
{
    zoomBy(1 / keyZoom, drawingArea().center());
}

void MainWindow::on_actionZoomToFit_triggered()
{
    zoomBy(0, drawingArea().center());
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != ui->frameView)
        return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        auto *wheel = static_cast<QWheelEvent *>(event);
        if (!(wheel->modifiers() & Qt::ControlModifier))
            break;
        const double notches = wheel->angleDelta().y() / 120.0;
        const QPoint at = ui->frameView->mapTo(this, wheel->position().toPoint());
        zoomBy(std::pow(notchZoom, notches), at);
        showPointerCell(at);
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || picture.view().zoom <= 1)
            break;
        dragFrom = mouse->position().toPoint();
        ui->frameView->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        showPointerCell(ui->frameView->mapTo(this, mouse->position()));
        if (!dragFrom)
            break;
        const QPoint at = mouse->position().toPoint();
        setView(LandscapePicture::panned(grid, drawingArea(), picture.view(), at - *dragFrom));
        dragFrom = at;
        return true;
    }
    case QEvent::Leave:
        showPointerCell(std::nullopt);
        break;
    case QEvent::MouseButtonRelease:
        if (!dragFrom)
            break;
        dragFrom.reset();
        setView(picture.view());
        return true;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}
