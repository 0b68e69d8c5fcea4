// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/requestchecks.h"

#include "core/batch/surfaceblend.h"

#include "core/batch/batchrequest.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BatchRequest", text);
}

// A list of values must run upwards without repeats, so that no two maps
// share a name.
template <typename T> bool increasing(const std::vector<T> &values)
{
    return std::adjacent_find(values.begin(), values.end(), std::greater_equal<T>()) ==
           values.end();
}

} // namespace

std::optional<QString> coverRefusal(const CoverRange &covers, IntLimits first, IntLimits last,
                                    IntLimits step)
{
    if (!covers.listed.empty()) {
        for (const int cover : covers.listed)
            if (auto refusal = outside("a listed cover", cover, IntLimits{first.min, last.max}))
                return refusal;
        if (!increasing(covers.listed))
            return tr("listed covers must increase, each once");
        return std::nullopt;
    }
    if (auto refusal = outside("the first cover", covers.first, first))
        return refusal;
    if (auto refusal = outside("the last cover", covers.last, last))
        return refusal;
    if (auto refusal = outside("the cover step", covers.step, step))
        return refusal;
    if (covers.first > covers.last)
        return tr("the first cover, %1, is above the last, %2: the range holds no cover")
            .arg(covers.first)
            .arg(covers.last);
    return std::nullopt;
}

std::optional<QString> decimalSweepRefusal(const HurstRange &sweep, const QString &name,
                                           HundredthsLimits firstLimits,
                                           HundredthsLimits lastLimits, HundredthsLimits stepLimits)
{
    if (!sweep.listed.empty()) {
        for (const double value : sweep.listed) {
            if (!hasTwoDecimals(value))
                return tr("%1 values have at most two decimals").arg(name);
            if (auto refusal = outside(tr("a listed %1").arg(name), value,
                                       HundredthsLimits{firstLimits.min, lastLimits.max}))
                return refusal;
        }
        if (!increasing(sweep.listed))
            return tr("listed %1 values must increase, each once").arg(name);
        return std::nullopt;
    }
    if (!hasTwoDecimals(sweep.first) || !hasTwoDecimals(sweep.last) || !hasTwoDecimals(sweep.step))
        return tr("%1 values have at most two decimals").arg(name);
    if (auto refusal = outside(tr("the first %1").arg(name), sweep.first, firstLimits))
        return refusal;
    if (auto refusal = outside(tr("the last %1").arg(name), sweep.last, lastLimits))
        return refusal;
    if (auto refusal = outside(tr("the %1 step").arg(name), sweep.step, stepLimits))
        return refusal;
    if (sweep.values().empty())
        return tr("the first %1, %2, is above the last, %3: the range holds no %1")
            .arg(name, QString::number(sweep.first), QString::number(sweep.last));
    return std::nullopt;
}

std::optional<Phrase> blendCutRefusal(const FamilyRequest &request, FractalCut cut, int rows,
                                      int columns)
{
    if (!request.blends.empty() && cut == FractalCut::Ladder)
        return Phrase::marked(tr("a blended surface is cut exactly, at its own quantile: add "
                                 "{cut exact} to {blend}"));
    return blendRefusal(request, rows, columns);
}

std::optional<Phrase> ladderClassRefusal(FractalCut cut, const BatchOutput &output)
{
    if (cut != FractalCut::Ladder || !output.cutsClasses())
        return std::nullopt;
    return Phrase::marked(tr("the ladder cut makes habitat and matrix of the whole grid; maps of "
                             "classes, and maps inside a mask, need {cut exact}"));
}
