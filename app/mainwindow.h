// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/manifestlookup.h"
#include "core/batch/batchjob.h"
#include "core/batch/mapfamily.h"
#include "core/files/readstop.h"
#include "core/grid/landscapegrid.h"
#include "fractal/dialogfbm.h"
#include "random/dialogrnd.h"
#include "settings/appsettings.h"
#include "settings/setings.h"
#include "view/landscapepicture.h"
#include "widgets/familydialog.h"

#include <QMainWindow>
#include <QPoint>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <map>
#include <memory>
#include <optional>

namespace Ui {
class MainWindow;
}

class QLabel;
class QListWidgetItem;

// The one window of the application: a list of map files on the left, the
// selected map drawn on the right, and the menus that run the batches of
// every family. It owns the settings and the dialogs for the whole life of
// the process so that their values persist from one use to the next.
//
// What a user arranges (the view options, the folders last used, the
// window's size and the split between list and map) is kept with QSettings
// for the next start; config.txt holds only what batches need.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Read-only views for tests and for the status line.
    const LandscapeGrid &currentGrid() const { return grid; }
    const AppSettings &appSettings() const { return settings; }
    const QStringList &listedFileNames() const { return fileNames; }
    const PictureView &pictureView() const { return picture.view(); }

    // Appends map files to the list: each entry shows the file's name and
    // holds its full path.
    void addFiles(const QStringList &paths);
    // Appends what File > Open and dropping are given: a map file as it is,
    // the maps a batch list names in its order, and the map files of a
    // folder sorted by name.
    void openPaths(const QStringList &paths);
    // The full path of a list entry.
    static QString pathOf(const QListWidgetItem *item);
    // The frame the picture is laid out in, in the coordinates of the
    // central widget, which the picture takes to lie frameTopOffset below
    // the window's top.
    QRect mapFrame() const;
    // What Help > About Patchwright... says: the release, the licence, how
    // to cite it and the Qt it runs on.
    static QString aboutText();

Q_SIGNALS:
    // A map chosen in the list is shown, or why it could not be.
    void mapShown(const QString &path);

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private Q_SLOTS:
    void on_actionOpen_triggered();
    void on_actionParametros_triggered();
    void on_actionRandom_triggered();
    void on_actionFractal_triggered();
    // Loading follows the current row, not clicks, so that clicking the
    // entry already shown does not read its file again.
    void on_fileListView_currentRowChanged(int currentRow);
    void on_actionExportPicture_triggered();
    void on_actionSquareCells_toggled(bool on);
    void on_actionRowsAsRows_toggled(bool on);
    void on_actionZoomIn_triggered();
    void on_actionZoomOut_triggered();
    void on_actionZoomToFit_triggered();

private:
    void loadMap(QString path);
    // Shows what a read of `path` gave, unless another map was chosen since.
    void showLoadedMap(quint64 load, const QString &path, LandscapeGrid &loaded,
                       const FileResult &error, std::optional<double> noData);
    void stopLoading();
    // What opening some paths gives: the maps in the order to list them,
    // and why some could not be read.
    struct Expansion {
        QStringList maps;
        QStringList problems;
    };
    static Expansion expandPaths(const QStringList &paths, const ReadStop &stop);
    // Lists what `paths` give: at once when no batch list is among them and
    // none is being read, otherwise once they are read on a thread of their
    // own, in the order they were opened. What File > Open chose (`chosen`)
    // is also remembered as the files last opened.
    void openInOrder(const QStringList &paths, bool chosen);
    void showExpansion(const Expansion &expansion, bool chosen);
    void removeSelectedEntry();

    // Adds to the Create menu every family the form has no entry for.
    void addFamilyActions();
    // Runs the batches a family's dialog asks for, from the registry's
    // families that have no entry in the form.
    void runFamilyDialog(const MapFamily &family);
    // The request a dialog gave with what the settings hold: the codes, and
    // the prefix and post-string of a family that config.txt keeps.
    void applySettings(FamilyRequest &request) const;
    // Runs a batch behind the progress dialog, then lists its maps and says
    // what went wrong, if anything did. False when the batch was refused
    // before it started, so that the dialog can be shown again.
    bool runBatch(const FamilyRequest &request);
    void showReport(const QString &title, const BatchReport &report);
    // What the status bar says once a batch has ended.
    static QString batchSummary(const QString &title, const BatchReport &report);
    void showNoMap();
    // The loaded map's name, extent and cover: the share of cells that are
    // not matrix, so every code other than the matrix code counts, among
    // the cells that are not NoData; for a map of more than two codes their
    // number; how many cells are NoData, if any; and what its batch's
    // manifest says of it, when there is one beside it.
    QString mapSummary(const QString &path);
    // The map's rows by columns, as the status bar and the list give it.
    QString mapShape() const;
    void showFailure(const QString &title, const QString &message);

    void setView(const PictureView &view);
    void zoomBy(double factor, QPointF anchor);
    QRectF drawingArea() const;
    void updateLegend();
    void showPointerCell(std::optional<QPointF> at);

    QStringList fileNames;
    Ui::MainWindow *ui;
    LandscapeGrid grid;
    setings settingsDialog;
    DialogRnd randomDialog;
    dialogFbm fractalDialog;
    // The dialogs of the other families, made when first asked for and
    // kept, like the two above, so that their values persist.
    std::map<const MapFamily *, std::unique_ptr<FamilyDialog>> familyDialogs;
    AppSettings settings;
    LandscapePicture picture;
    ManifestLookup manifests;
    // The NoData value of the file shown, whose cells are drawn grey.
    std::optional<double> mapNoData;
    // The codes and colours of the map shown, rebuilt with every map and
    // every change of the matrix code.
    QWidget *legendBox = nullptr;
    // The cell under the pointer and the zoom, beside the legend.
    QLabel *pointerCell = nullptr;
    QLabel *zoomLevel = nullptr;
    // What the status bar says of the map shown, or of why it is not.
    QString mapMessage;
    // Where the last drag of a zoomed map was, in the frame's coordinates.
    std::optional<QPoint> dragFrom;
    // Large maps are read on a thread of their own, so that the window stays
    // live; only the map chosen last is shown, and the reading of one chosen
    // before it is stopped.
    QThreadPool mapReaders;
    quint64 loadCount = 0;
    std::shared_ptr<std::atomic<bool>> loadStop;
    // Batch lists are read on a thread of their own too, one at a time, so
    // that a list on a slow disk, or a long one, never holds the window.
    QThreadPool listReaders;
    int listsBeingRead = 0;
    const std::shared_ptr<std::atomic<bool>> listsStop = std::make_shared<std::atomic<bool>>(false);
};
