// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/limits.h"
#include "core/batch/phrase.h"

#include <QString>

#include <optional>

#include "core/batch/generator.h"

class FamilyRequest;
struct BatchOutput;
struct CoverRange;
struct HurstRange;

// The checks the families' requests make of their values, in the words
// every family uses.

// Covers within their limits, increasing when listed, and a range that
// holds one at all.
std::optional<QString> coverRefusal(const CoverRange &covers, IntLimits first, IntLimits last,
                                    IntLimits step);

// The checks of a sweep of values shown with two decimals (H, or the
// correlation range): two decimals, its limits, and a sweep that holds a
// value at all. `name` is how the messages call one value.
std::optional<QString> decimalSweepRefusal(const HurstRange &sweep, const QString &name,
                                           HundredthsLimits firstLimits,
                                           HundredthsLimits lastLimits,
                                           HundredthsLimits stepLimits);

// What every family checks of its covers, size and replicates, in the order
// the dialogs show them.
template <typename Request> std::optional<QString> sweepRefusal(const Request &request)
{
    if (auto refusal = coverRefusal(request.covers, Request::firstCoverLimits,
                                    Request::lastCoverLimits, Request::coverStepLimits))
        return refusal;
    if (request.shape.isSquare())
        return outside("the map size", request.shape.rows, Request::sizeLimits);
    if (auto refusal = outside("the number of rows", request.shape.rows, Request::sizeLimits))
        return refusal;
    return outside("the number of columns", request.shape.columns, Request::sizeLimits);
}

// Classes and study areas are cut by rank; the ladder's fixed thresholds
// make habitat and matrix of the whole grid only.
std::optional<Phrase> ladderClassRefusal(FractalCut cut, const BatchOutput &output);

// A blend of a family that cuts surfaces exactly or at the ladder: its
// parts (core/batch/surfaceblend.h), drawn at rows x columns, and the
// exact cut its sum is made for.
std::optional<Phrase> blendCutRefusal(const FamilyRequest &request, FractalCut cut, int rows,
                                      int columns);

// The reason of the first check that has one, in order; the checks after it
// are not made, so that the user hears of the first mistake first. A check
// gives plain words (a QString) or a phrase that names options.
template <typename... Check> std::optional<Phrase> firstRefusal(const Check &...checks)
{
    std::optional<Phrase> refusal;
    const auto take = [&refusal](const auto &check) {
        if (auto found = check()) {
            refusal = Phrase(*found);
            return true;
        }
        return false;
    };
    static_cast<void>((take(checks) || ...));
    return refusal;
}
