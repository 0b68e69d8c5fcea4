#pragma once

#include "app/landscapepicture.h"
#include "core/batchjob.h"
#include "core/landscapegrid.h"
#include "fractal/dialogfbm.h"
#include "random/dialogrnd.h"
#include "settings/appsettings.h"
#include "settings/setings.h"

#include <QMainWindow>
#include <QStringList>

namespace Ui {
class MainWindow;
}

class QModelIndex;

// The one window of the application: a list of map files on the left, the
// selected map drawn on the right, and the menus that run the batches. It
// owns the settings and the three dialogs for the whole life of the process
// so that their values persist from one use to the next.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Read-only views for tests and for the status line.
    const LandscapeGrid &currentGrid() const { return grid; }
    const AppSettings &appSettings() const { return settings; }
    const QStringList &listedFileNames() const { return fileNames; }

protected:
    void paintEvent(QPaintEvent *event) override;

private Q_SLOTS:
    void on_actionOpen_triggered();
    void on_fileListView_clicked(const QModelIndex &index);
    void on_actionParametros_triggered();
    void on_actionRandom_triggered();
    void on_actionFractal_triggered();
    void on_fileListView_currentRowChanged(int currentRow);

private:
    void loadMap(QString path);

    enum class ListOrder { AsWritten, Sorted };
    BatchOutput batchOutput(const QString &folder, const QString &prefix,
                            const QString &postString) const;
    // Runs a batch behind the progress dialog, then lists its maps and says
    // what went wrong, if anything did.
    void runBatch(BatchJob job, const QString &title, ListOrder order);
    void showReport(const QString &title, const BatchReport &report);
    // Core messages are phrases, as command-line tools print them; a
    // message box shows a sentence.
    static QString asSentence(QString message);
    // The loaded map's extent and its cover: the share of cells that are not
    // matrix, so every code other than the matrix code counts.
    QString mapSummary() const;
    void showFailure(const QString &title, const QString &message);

    QStringList fileNames;
    Ui::MainWindow *ui;
    LandscapeGrid grid;
    setings settingsDialog;
    DialogRnd randomDialog;
    dialogFbm fractalDialog;
    AppSettings settings;
    LandscapePicture picture;
};
