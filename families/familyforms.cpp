// SPDX-License-Identifier: GPL-3.0-or-later
// The families of the list whose dialog is a form of their own; every other
// family's dialog is built from its rows. The window holds the random and
// fractal dialogs itself.
#include "gaussian/dialoggrf.h"
#include "widgets/familydialog.h"

void registerBuiltinFamilyForms(FamilyForms &forms)
{
    forms.add("gaussian", [](QWidget *parent) -> std::unique_ptr<FamilyDialog> {
        return std::make_unique<dialogGrf>(parent);
    });
}
