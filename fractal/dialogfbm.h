// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fractal/fractalbatchrequest.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class BatchDialogFrame;
class QSpinBox;

namespace Ui {
class dialogFbm;
}

// Collects a fractal batch: the range and step of the Hurst exponent H, the
// cover range and step, map size, replicates and output folder, and shows
// the number of files the batch is expected to write. The main window holds
// one instance for the whole process, so values persist between uses.
class dialogFbm final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(dialogFbm)

public:
    explicit dialogFbm(QWidget *parent = nullptr);
    ~dialogFbm() override;

    double initialH() const;
    double finalH() const;
    double hStep() const;
    int initialCover() const;
    int finalCover() const;
    int coverStep() const;
    int mapSize() const;
    int replicateCount() const;
    QString folderText() const;
    // The values above as a request; the caller adds what the settings
    // hold.
    FractalBatchRequest request() const;

private Q_SLOTS:
    void on_pushButton_clicked();
    void on_Hi_valueChanged(double);
    void on_Hf_valueChanged(double);
    void on_Hp_valueChanged(double);
    void on_Ci_valueChanged(int);
    void on_Cf_valueChanged(int);
    void on_Cp_valueChanged(int);
    void on_amo_valueChanged(int);

private:
    void updateTotal();
    void addSamplingRow();

    BatchDialogFrame *m_frame = nullptr;
    QComboBox *m_generator = nullptr;
    QComboBox *m_cut = nullptr;
    QCheckBox *m_distinct = nullptr;
    QSpinBox *m_surfaces = nullptr;
    QSpinBox *m_firstSeed = nullptr;

    Ui::dialogFbm *ui;
};
