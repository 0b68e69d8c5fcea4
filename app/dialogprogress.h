#pragma once

#include "core/batchprogress.h"

#include <QPointer>
#include <QProgressDialog>

// Shows a batch's progress in a window-modal QProgressDialog with a Cancel
// button. Setting the value lets Qt process pending events, which is where a
// click on Cancel arrives; the batch looks at it after each map or surface.
class DialogProgress final : public BatchProgress {
public:
    explicit DialogProgress(QWidget *parent);
    ~DialogProgress() override;

    void setMaximum(int maximum) override;
    void setLabelText(const QString &text) override;
    void setValue(int value) override;
    bool wasCanceled() const override;

    QProgressDialog *dialog() const { return m_dialog; }

private:
    QPointer<QProgressDialog> m_dialog;
};
