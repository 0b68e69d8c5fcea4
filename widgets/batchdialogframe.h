// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "widgets/refusalline.h"

#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

#include <optional>

class OutputGroup;
class QAbstractSpinBox;
class QBoxLayout;
class QDialog;
class QDialogButtonBox;
class QLineEdit;
class QSpinBox;
class FamilyRequest;

// What both batch dialogs do around their own values: the output folder,
// which comes back from the last accepted batch and counts as much typed as
// chosen; the total of files the batch will write; and OK, which stays off
// with the reason beside it while the values cannot run. Between the folder
// and the buttons it adds the Output group (see OutputGroup).
class BatchDialogFrame final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchDialogFrame)

public:
    // The widgets of the form the frame looks after.
    struct Form {
        QDialog *dialog;
        // The dialog's own layout; the reason goes in right above the buttons.
        QBoxLayout *layout;
        QLineEdit *folder;
        QSpinBox *total;
        QDialogButtonBox *buttons;
    };
    // The dialog's values are kept under `group` with QSettings.
    BatchDialogFrame(const Form &form, const QString &group);

    QString folder() const;
    // The folder and the Output group's choices. A value of the group that
    // the request cannot take keeps OK off, with why, at the next show().
    void applyTo(FamilyRequest &request) const;
    // Brings back the values of `boxes` from the last accepted batch, each
    // kept under its object name, and keeps them again at every OK. Values
    // are set without signals; the dialog computes its total afterwards.
    void remember(const QList<QAbstractSpinBox *> &boxes);
    // Asks for a folder, starting from the one shown. A cancelled chooser
    // clears the field on purpose: the folder shown is always the last one
    // chosen.
    void chooseFolder(const QString &caption);
    // Shows the total and lets OK through when nothing refuses the request
    // and a folder is given.
    void show(qint64 total, std::optional<Phrase> refusal);

Q_SIGNALS:
    // The user changed something the frame holds.
    void edited();

private:
    static OutputGroup *addOutputGroup(const Form &form);
    QString key(const QString &name) const;
    // An open Output group needs more height than the form allows.
    void fitOutputGroup(bool open);

    Form m_form;
    QString m_group;
    OutputGroup *m_output;
    RefusalLine m_refusal;
    mutable std::optional<Phrase> m_outputMistake;
    int m_closedMaximumHeight;
    QSize m_closedSize;
    QList<QAbstractSpinBox *> m_remembered;
};
