// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gaussian/gaussianbatchrequest.h"
#include "widgets/familydialog.h"

#include <QDialog>
#include <QString>

class BatchDialogFrame;

namespace Ui {
class dialogGrf;
}

// Collects a Gaussian field batch: the model (and nu for the Matern
// model), the range of correlation ranges (of H for fbm), the covers, size,
// replicates, seed, cut and the prefix of the files, and shows the number of
// files the batch is expected to write. config.txt keeps the prefixes of the
// two older families only, so this family's prefix is remembered with the
// dialog's other values. The main window holds one instance for the whole
// process, so values persist between uses.
class dialogGrf final : public FamilyDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(dialogGrf)

public:
    explicit dialogGrf(QWidget *parent = nullptr);
    ~dialogGrf() override;

    // The values as a request, prefix included; the caller adds the codes
    // the settings hold.
    GaussianBatchRequest request() const;
    std::unique_ptr<FamilyRequest> familyRequest() const override;

private Q_SLOTS:
    void on_pushButton_clicked();

private:
    void showModel();
    void updateTotal();

    BatchDialogFrame *m_frame = nullptr;
    Ui::dialogGrf *ui;
};
