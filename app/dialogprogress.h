// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchjob.h"
#include "core/batch/batchprogress.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>

#include <atomic>

// Shows a batch's progress in a window-modal QProgressDialog with a Cancel
// button, while the batch itself runs on a worker thread so that the window
// keeps repainting and the dialog stays responsive however long a map takes.
//
// The worker reports through the BatchProgress calls, which only record the
// latest state and post one update at a time to the GUI thread: a batch of
// tiny maps reports thousands of times a second, and queueing every report
// would flood the event loop. A click on Cancel sets a flag the worker reads
// after each map or surface.
class DialogProgress final : public QObject, public BatchProgress {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DialogProgress)

public:
    explicit DialogProgress(QWidget *parent);
    ~DialogProgress() override;

    // Called from the worker thread.
    void setMaximum(int maximum) override;
    void setLabelText(const QString &text) override;
    void setValue(int value) override;
    bool wasCanceled() const override;

    // Runs the job on a worker thread and returns its report once it ends;
    // the GUI's event loop turns meanwhile.
    BatchReport run(BatchJob &job);

    QProgressDialog *dialog() const { return m_dialog; }

private:
    struct State {
        int maximum = 0;
        int value = 0;
        QString label;
    };
    // Worker side: records a change and makes sure an update is on its way.
    template <typename Change> void record(Change change);
    // GUI side: shows the latest state.
    void apply();

    QPointer<QProgressDialog> m_dialog;
    std::atomic_bool m_canceled = false;

    QMutex m_mutex;
    State m_state;
    bool m_updatePosted = false;

    // Setting the value of a modal progress dialog processes events, which
    // can deliver the next update while this one is being shown.
    bool m_applying = false;
    bool m_applyAgain = false;
};
