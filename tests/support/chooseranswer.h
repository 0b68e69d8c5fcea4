// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTimer>

// Answers the next modal file dialog from inside its own event loop: accepts
// it on `directory`, or rejects it when `directory` is empty. It polls
// because the dialog only exists once the slot under test has opened it;
// if no dialog comes up within a few seconds it gives up, and `shown` stays
// false.
class ChooserAnswer {
public:
    explicit ChooserAnswer(const QString &directory = QString())
        : m_directory(directory)
    {
        m_clock.start();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { poll(); });
        m_timer.start();
    }

    bool shown = false;
    QString caption;
    QObject *parent = nullptr;
    bool directoriesOnly = false;

private:
    void poll()
    {
        auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!chooser) {
            if (m_clock.hasExpired(5000))
                m_timer.stop();
            return;
        }
        m_timer.stop();
        shown = true;
        caption = chooser->windowTitle();
        parent = chooser->parent();
        directoriesOnly = chooser->fileMode() == QFileDialog::Directory &&
                          chooser->testOption(QFileDialog::ShowDirsOnly);
        if (m_directory.isEmpty()) {
            chooser->reject();
        } else {
            chooser->setDirectory(m_directory);
            // QFileDialog narrows accept() to protected; QDialog's is public.
            static_cast<QDialog *>(chooser)->accept();
        }
    }

    QString m_directory;
    QTimer m_timer;
    QElapsedTimer m_clock;
};
