// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"

#include <QCoreApplication>
#include <QString>

#include <span>

// A dialog's combo box over a table of choice words: each entry shows the
// word's label and holds its value, so that no dialog maps a row number to
// an enum. Templates, so that the core names no widget class; the dialogs
// instantiate them with QComboBox.

// Fills the box and selects `chosen` (a word, as settings remember it), or
// the table's first entry when it names none.
template <typename ComboBox>
void fillChoices(ComboBox *box, std::span<const ChoiceWord> words, const QString &chosen)
{
    for (const ChoiceWord &word : words)
        box->addItem(QCoreApplication::translate("BatchOptions", word.label), word.value);
    if (const auto value = choiceValue(words, chosen))
        box->setCurrentIndex(box->findData(*value));
}

// The word of the selected entry, for the settings.
template <typename ComboBox>
QString chosenWord(const ComboBox *box, std::span<const ChoiceWord> words)
{
    const int value = box->currentData().toInt();
    for (const ChoiceWord &word : words)
        if (word.value == value)
            return QString::fromLatin1(word.word);
    return {};
}
