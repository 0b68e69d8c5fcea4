// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "random/randombatchrequest.h"

#include <QDialog>
#include <QString>

class QComboBox;
class BatchDialogFrame;

namespace Ui {
class DialogRnd;
}

// Collects a random batch: cover range and step, map size, replicates per
// cover and output folder. It shows the number of files the batch will
// write while the user edits, and keeps its values between uses because the
// main window holds one instance for the whole process.
class DialogRnd final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DialogRnd)

public:
    explicit DialogRnd(QWidget *parent = nullptr);
    ~DialogRnd() override;

    int initialCover() const;
    int finalCover() const;
    int coverStep() const;
    int mapSize() const;
    int replicateCount() const;
    QString folderText() const;
    // The values above as a request; the caller adds the seed and what the
    // settings hold.
    RandomBatchRequest request() const;

private Q_SLOTS:
    void on_pushButton_clicked();
    void on_Ci_valueChanged(int);
    void on_Cf_valueChanged(int);
    void on_Cp_valueChanged(int);
    void on_Tam_valueChanged(int);
    void on_amo_valueChanged(int);

private:
    void updateTotal();

    BatchDialogFrame *m_frame = nullptr;
    QComboBox *m_generator = nullptr;

    Ui::DialogRnd *ui;
};
