// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"

#include <QList>

#include <optional>

class FamilyRequest;
class MapFamily;
class QAbstractSpinBox;
class QDoubleSpinBox;
class QSpinBox;

// A form's boxes and the rows of the description they show, so that no
// dialog keeps limits or first values of its own: a box takes its range from
// the row's limits and its first value from what a new request of the family
// holds, and gives its value back through the row. `part` is FIRST (0),
// LAST (1) or STEP (2) of a sweep; a single value is part 0.
void showOption(QSpinBox *box, const MapFamily &family, const char *key, int part = 0);
void showOption(QDoubleSpinBox *box, const MapFamily &family, const char *key, int part = 0);

// Sets the option from its boxes: one box for a value, three for a sweep
// (FIRST:LAST:STEP), two for a point (X,Y).
std::optional<OptionError> setFromBoxes(FamilyRequest &request, const char *key,
                                        const QList<const QAbstractSpinBox *> &boxes);
