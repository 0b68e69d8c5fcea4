// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/phrase.h"

#include <QString>

#include <optional>

class QBoxLayout;
class QDialogButtonBox;
class QLabel;

// Core messages are phrases, as command-line tools print them; a dialog or a
// message box shows a sentence: capitalised, with a full stop. An option a
// phrase names is written in words, as the dialogs' fields are ("max draws
// 5").
QString asSentence(QString phrase);
QString asSentence(const Phrase &phrase);

// Keeps a dialog's OK off while its values cannot be used, with the reason in
// a label just above the buttons. The label is hidden otherwise, so a dialog
// with usable values looks as it always has.
class RefusalLine final {
public:
    // The label goes into `layout` right before `buttons`.
    RefusalLine(QBoxLayout *layout, QDialogButtonBox *buttons);

    void show(const std::optional<QString> &phrase);
    void show(const std::optional<Phrase> &phrase);

private:
    QLabel *m_label;
    QDialogButtonBox *m_buttons;
};
