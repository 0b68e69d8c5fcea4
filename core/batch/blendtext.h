// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchrequest.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

// A blend (core/batch/surfaceblend.h) as the command line writes it:
// "planar:direction=30:weight=0.5", parts joined by ';', the weight 1 when
// left out.

// One part as the blend writes it, its weight always given.
QString blendPartText(const BlendPart &part);
QString blendsText(const std::vector<BlendPart> &blends);
// Reads that text (empty: no blend) into `blends`, or says why it cannot:
// the form of a part, or a weight that is not a finite number. Which
// families and options the parts name is checked by blendRefusal().
std::optional<QString> parseBlends(QStringView text, std::vector<BlendPart> &blends);
