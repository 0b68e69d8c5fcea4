// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/dialogprogress.h"

#include <QEventLoop>
#include <QThread>

#include <memory>

DialogProgress::DialogProgress(QWidget *parent)
    : m_dialog(new QProgressDialog(QStringLiteral("Calculando..."), QProgressDialog::tr("Cancel"),
                                   0, 0, parent))
{
    m_state.label = m_dialog->labelText();
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    connect(m_dialog, &QProgressDialog::canceled, this, [this] { m_canceled = true; });
    m_dialog->show();
    m_dialog->setValue(0);
}

DialogProgress::~DialogProgress()
{
    if (m_dialog) {
        m_dialog->close();
        delete m_dialog;
    }
}

template <typename Change> void DialogProgress::record(Change change)
{
    const QMutexLocker lock(&m_mutex);
    change(m_state);
    if (m_updatePosted)
        return;
    m_updatePosted = true;
    QMetaObject::invokeMethod(this, &DialogProgress::apply, Qt::QueuedConnection);
}

void DialogProgress::setMaximum(int maximum)
{
    record([maximum](State &state) { state.maximum = qMax(0, maximum); });
}

void DialogProgress::setLabelText(const QString &text)
{
    record([&text](State &state) { state.label = text; });
}

void DialogProgress::setValue(int value)
{
    record([value](State &state) { state.value = value; });
}

bool DialogProgress::wasCanceled() const
{
    return m_canceled;
}

void DialogProgress::apply()
{
    if (m_applying) {
        m_applyAgain = true;
        return;
    }
    m_applying = true;
    do {
        m_applyAgain = false;
        State state;
        {
            const QMutexLocker lock(&m_mutex);
            state = m_state;
            m_updatePosted = false;
        }
        if (!m_dialog)
            break;
        m_dialog->setMaximum(state.maximum);
        m_dialog->setLabelText(state.label);
        m_dialog->setValue(state.value);
    } while (m_applyAgain);
    m_applying = false;
}

BatchReport DialogProgress::run(BatchJob &job)
{
    BatchReport report;
    QEventLoop loop;
    const std::unique_ptr<QThread> worker(QThread::create([&] { report = job.run(*this); }));
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    // The last report may still be on its way; the dialog ends showing it.
    apply();
    return report;
}
