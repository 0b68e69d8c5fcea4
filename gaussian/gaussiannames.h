// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"
#include "core/batch/mapfamily.h"
#include "gaussian/gaussianfield.h"

#include <span>

// How the Gaussian field family names its maps and fields, and the words
// of its covariance models, which the names, the manifest and the dialog
// write.
const NameScheme &gaussianNames();
std::span<const ChoiceWord> modelWords();
QString wordOf(CovarianceModel model);
