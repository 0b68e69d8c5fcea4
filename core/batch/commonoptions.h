// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"
#include "core/batch/mapfamily.h"

#include <span>
#include <vector>

// The rows every family has, and the one list a family's options make: the
// folder and the sweep first, the family's own, then the output's details,
// in the order of --help. The rows read the family's limits and the
// sentences only it can say from its request type:
//
//   firstCoverLimits, lastCoverLimits, coverStepLimits, sizeLimits,
//   replicateLimits   the limits of the shared sweep and sizes
//   sizeNote          what the size limits do not say, or nullptr
//   targetNote        what --target needs of the family's other options
//   shareNote         what a share of the family's batches is made of
//   drawNote          what --max-draws bounds besides draws
//
// A request with a `generator` member offers the choice of generator.
namespace commonoptions {

using Type = OptionType;
using Scope = OptionScope;

template <typename Request> std::vector<BatchOption> head()
{
    return {
        {.key = "out",
         .type = Type::Text,
         .scope = Scope::Files,
         .valueName = "DIR",
         .help = "Folder for the maps and the batch list; created if missing.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.folder; },
         .role = OptionRole::Run,
         .neededForFiles = true},
        {.key = "cover",
         .type = Type::CoverSweep,
         .scope = Scope::Maps,
         .valueName = "FIRST:LAST:STEP",
         .help = "Cover percentages.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.covers; },
         .limits = OptionLimits::sweep(Request::firstCoverLimits, Request::lastCoverLimits,
                                       Request::coverStepLimits),
         .manifestColumn = "requested_cover",
         .pilot = true},
        {.key = "size",
         .type = Type::Shape,
         .scope = Scope::Maps,
         .valueName = "N|RxC",
         .help = "Cells per side of each square map, or R rows by C columns (300x200); the "
                 "limits hold for either side.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.shape; },
         .limits = OptionLimits::of(Request::sizeLimits, Request::sizeNote),
         .manifestColumn = "size",
         .pilot = true},
        {.key = "replicates",
         .type = Type::Whole,
         .scope = Scope::Maps,
         .valueName = "N",
         .help = "Maps per cover.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.replicates; },
         .limits = OptionLimits::of(Request::replicateLimits),
         .manifestColumn = "replicate"},
    };
}

std::vector<BatchOption> outputHead(const char *shareNote);
std::vector<BatchOption> outputTail(const char *targetNote, const char *drawNote);
// The choice of generator, for a family whose request has one.
BatchOption generatorRow(OptionField (*field)(FamilyRequest &request));

// Surfaces of other families added to a family's own before the cut, for a
// family whose surfaces take them (core/batch/surfaceblend.h).
BatchOption blendRow();

// How a surface becomes maps (`cut`), and whether the surfaces are written
// too (`write_surfaces`), for a family of surfaces; `help` says what its
// surfaces are.
template <typename Request> BatchOption cutRow(const char *help)
{
    return {.key = "cut",
            .type = Type::Choice,
            .scope = Scope::Maps,
            .valueName = "HOW",
            .help = help,
            .field = [](FamilyRequest &r) -> OptionField {
                return choiceField(&static_cast<Request &>(r).cut);
            },
            .manifestColumn = "cut",
            .choices = cutWords()};
}
template <typename Request> BatchOption writeSurfacesRow(const char *help)
{
    return {.key = "write_surfaces",
            .type = Type::Flag,
            .scope = Scope::Files,
            .valueName = nullptr,
            .help = help,
            .field = [](FamilyRequest &r) -> OptionField {
                return &static_cast<Request &>(r).writeSurfaces;
            },
            .manifestColumn = "surface_file"};
}

// The whole list of a family's rows.
template <typename Request> std::vector<BatchOption> rows(std::span<const BatchOption> own)
{
    std::vector<BatchOption> options = head<Request>();
    options.insert(options.end(), own.begin(), own.end());
    const std::vector<BatchOption> middle = outputHead(Request::shareNote);
    options.insert(options.end(), middle.begin(), middle.end());
    if constexpr (requires(Request r) { r.generator; })
        options.push_back(generatorRow([](FamilyRequest &r) -> OptionField {
            return choiceField(&static_cast<Request &>(r).generator);
        }));
    const std::vector<BatchOption> tail = outputTail(Request::targetNote, Request::drawNote);
    options.insert(options.end(), tail.begin(), tail.end());
    return options;
}

} // namespace commonoptions
