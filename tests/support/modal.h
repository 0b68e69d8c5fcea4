// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

// Runs `handle` on the next modal widget of type T once it is up. Modal
// dialogs block inside the slot under test, so they are answered from the
// event loop they spin.
template <typename T> void whenModal(std::function<void(T *)> handle, int attemptsLeft = 500)
{
    QTimer::singleShot(10, [handle, attemptsLeft] {
        if (auto *widget = qobject_cast<T *>(QApplication::activeModalWidget())) {
            handle(widget);
            // A file dialog can refuse an answer while it is still reading
            // its folder in the background; then it is asked again.
            if (QApplication::activeModalWidget() != widget || attemptsLeft == 0)
                return;
        }
        if (attemptsLeft > 0)
            whenModal<T>(handle, attemptsLeft - 1);
    });
}

// Presses OK, as a user does, so that whatever the dialog checks on OK runs.
inline void clickOk(QDialog *dialog)
{
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
}
