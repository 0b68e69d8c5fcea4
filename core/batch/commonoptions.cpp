// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/commonoptions.h"

namespace commonoptions {

std::vector<BatchOption> outputHead(const char *shareNote)
{
    return {
        {.key = "prefix",
         .type = Type::Text,
         .scope = Scope::Maps,
         .valueName = "TEXT",
         .help = "File name prefix.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.prefix; },
         .manifestColumn = "file",
         .config = ConfigSource::Prefix},
        {.key = "post_string",
         .type = Type::Text,
         .scope = Scope::Files,
         .valueName = "TEXT",
         .help = "Text appended to every batch list line.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.postString; },
         .config = ConfigSource::PostString},
        {.key = "cover_value",
         .type = Type::Whole,
         .scope = Scope::Maps,
         .valueName = "N",
         .help = "Code written for habitat cells.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.coverValue; },
         .limits = OptionLimits::of(BatchOutput::coverValueLimits),
         .manifestColumn = "cover_value",
         .config = ConfigSource::CoverValue},
        {.key = "matrix_value",
         .type = Type::Whole,
         .scope = Scope::Maps,
         .valueName = "N",
         .help = "Code written for matrix cells.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.matrixValue; },
         .limits = OptionLimits::of(BatchOutput::matrixValueLimits),
         .manifestColumn = "matrix_value",
         .config = ConfigSource::MatrixValue},
        {.key = "format",
         .type = Type::Choice,
         .scope = Scope::Maps,
         .valueName = "FORMAT",
         .help = "File format of the maps: plain (.txt), asc (ESRI ASCII grid, .asc) or tif "
                 "(GeoTIFF, .tif), both for GIS tools.",
         .field = [](FamilyRequest &r) -> OptionField { return choiceField(&r.output.format); },
         .manifestColumn = "file",
         .choices = formatWords()},
        {.key = "overwrite",
         .type = Type::Flag,
         .scope = Scope::Files,
         .valueName = nullptr,
         .help = "Replace the files of an earlier run with the same prefix in the folder; "
                 "without it such a run is refused.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.overwrite; },
         .role = OptionRole::Run},
        {.key = "no_sync",
         .type = Type::Flag,
         .scope = Scope::Files,
         .valueName = nullptr,
         .help = "Name maps without waiting for the disk to hold them: faster on a busy disk, "
                 "but a crash can then leave a name on a partial map. For scratch runs on a RAM "
                 "disk.",
         .field = [](FamilyRequest &r) -> OptionField { return NegatedField{&r.output.sync}; },
         .role = OptionRole::Run},
        {.key = "shard",
         .type = Type::Share,
         .scope = Scope::Maps,
         .valueName = "K/N",
         .help = "Makes only the K-th of N shares of the batch, to run it as N tasks (a job "
                 "array, GNU parallel): each share makes exactly the maps, names and manifest "
                 "rows the whole batch makes for its part, and `merge` gathers the shares' "
                 "folders into the whole run. Shares are balanced by work; every generator, "
                 "cut and option splits exactly.",
         .helpTail = shareNote,
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.shard; },
         .manifestColumn = "file",
         .role = OptionRole::Run},
        {.key = "resume",
         .type = Type::Flag,
         .scope = Scope::Files,
         .valueName = nullptr,
         .help = "Finishes a run of the same request that stopped (killed, a full disk) in the "
                 "folder: every map is made again, one already there is kept when it holds the "
                 "same bytes, only the missing ones are written, and the folder ends as after a "
                 "run that never stopped. A folder that holds another request's run is refused.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.resume; },
         .role = OptionRole::Run},
    };
}

BatchOption generatorRow(OptionField (*field)(FamilyRequest &request))
{
    return {.key = "generator",
            .type = Type::Choice,
            .scope = Scope::Maps,
            .valueName = "NAME",
            .help = "Where the randomness comes from: classic (the 15-bit generator every "
                    "earlier batch used) or philox (independent replicates; see the README).",
            .field = field,
            .manifestColumn = "generator",
            .choices = generatorWords()};
}

BatchOption blendRow()
{
    return {.key = "blend",
            .type = Type::Blends,
            .scope = Scope::Maps,
            .valueName = "FAMILY:OPTION=VALUE,...:weight=W",
            .help = "Adds the surface of another family (planar:direction=90:weight=0.5) to each "
                    "map's surface before its exact cut: both rescaled to 0..1, the part's "
                    "times its weight (1 unless given), the sum rescaled to 0..1. Each part is "
                    "drawn at the map's size with a seed of its own, which the manifest's blend "
                    "column records; given again, it adds another part.",
            .field = [](FamilyRequest &r) -> OptionField { return &r.blends; },
            .manifestColumn = "blend",
            .pilot = true};
}

std::vector<BatchOption> outputTail(const char *targetNote, const char *drawNote)
{
    return {
        {.key = "nodata",
         .type = Type::Whole,
         .scope = Scope::Files,
         .valueName = "N",
         .help = "NODATA value of asc and tif maps, neither code (by default -9999 for asc, for "
                 "tif -9999 or the largest value of the cell type that is not a code); with "
                 "{mask}, also the code of the cells outside in plain maps.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.noData; }},
        {.key = "cell_size",
         .type = Type::Number,
         .scope = Scope::Maps,
         .valueName = "S",
         .help = "Side of a cell in map units, for asc and tif maps and the metrics' areas.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.georeference.cellSize; },
         .manifestColumn = "area_mn",
         .pilot = true},
        {.key = "origin",
         .type = Type::Point,
         .scope = Scope::Place,
         .valueName = "X,Y",
         .help = "Lower-left corner of asc and tif maps.",
         .field = [](FamilyRequest &r) -> OptionField {
             return PointField{&r.output.georeference.originX, &r.output.georeference.originY};
         }},
        {.key = "crs",
         .type = Type::Text,
         .scope = Scope::Place,
         .valueName = "CRS",
         .help = "Coordinate reference system of tif maps, as GDAL takes it (for example "
                 "EPSG:3035).",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.georeference.crs; }},
        {.key = "proportions",
         .type = Type::Numbers,
         .scope = Scope::Maps,
         .valueName = "P1,P2,...",
         .help = "Makes maps of 2 to 64 classes with these shares in percent, adding up to 100 "
                 "(decimals allowed): each class takes exactly its share of the cells inside the "
                 "study area, rounded by largest remainders, the first class the lowest values "
                 "of the surface (see the README). Replaces the covers: a map's name carries the "
                 "last class's share where a cover stands. Two classes of whole shares are that "
                 "cover, coded matrix and habitat, and make its very files.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.proportions; },
         .manifestColumn = "classes",
         .pilot = true},
        {.key = "class_values",
         .type = Type::Numbers,
         .scope = Scope::Maps,
         .valueName = "V1,V2,...",
         .help = "With {proportions}: the code of each class, all different (by default 1 to k, "
                 "or the matrix and habitat codes for two classes).",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.classValues; },
         .manifestColumn = "classes",
         .pilot = true},
        {.key = "proportions_of",
         .type = Type::Text,
         .scope = Scope::Maps,
         .valueName = "MAP",
         .help = "Takes the classes, their codes and their shares from a categorical map (ESRI "
                 "grid, GeoTIFF or plain map, inside its NoData), so that the maps match the "
                 "composition of a real landscape.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.proportionsOf; },
         .manifestColumn = "classes",
         .pilot = true},
        {.key = "mask",
         .type = Type::Text,
         .scope = Scope::Maps,
         .valueName = "FILE",
         .help = "A template (ESRI grid, GeoTIFF, or a plain map with {mask_value}) whose rows, "
                 "columns, cell size, origin and reference system the maps take. Its NoData "
                 "cells lie outside the study area: written as NoData ({nodata} in plain "
                 "maps) and left out of the shares. The surface is drawn on the template's "
                 "box, so a seed gives the same surface with or without the mask.",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.mask; },
         .manifestColumn = "size",
         .pilot = true},
        {.key = "mask_value",
         .type = Type::Whole,
         .scope = Scope::Maps,
         .valueName = "N",
         .help = "With {mask}: cells of the template holding this value lie outside the study "
                 "area too (how a plain map marks its outside).",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.maskValue; },
         .manifestColumn = "size",
         .pilot = true},
        {.key = "metrics",
         .type = Type::Metrics,
         .scope = Scope::Maps,
         .valueName = nullptr,
         .help = "Adds each map's landscape metrics to the manifest: habitat cells, NP, LPI, "
                 "AREA_MN, AREA_AM, ED and GYRATE_AM. Given metric names ({metrics all}, "
                 "{metrics np,contag,...}), it also writes PREFIXmetrics.csv beside the "
                 "manifest: those metrics of every class and of the landscape, a row each, in "
                 "the reference tool's long layout (see docs/metrics.md).",
         .field = [](FamilyRequest &r) -> OptionField {
             return MetricsField{&r.output.metrics, &r.output.metricTable};
         },
         .manifestColumn = "np"},
        {.key = "neighbours",
         .type = Type::Whole,
         .scope = Scope::Maps,
         .valueName = "N",
         .help = "Cells that join into one patch for the metrics: 8 (sides and corners) or 4 "
                 "(sides).",
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.neighbours; },
         .manifestColumn = "np",
         .pilot = true},
        {.key = "target",
         .type = Type::TargetList,
         .scope = Scope::Maps,
         .valueName = "METRIC=MIN:MAX",
         .help = "Keeps only maps whose metric lies in MIN..MAX (inclusive; either may be "
                 "empty). METRIC is any metric the metrics command gives: a class metric (np, "
                 "pland, cohesion, ...) is of the habitat class, a name only the landscape level "
                 "has (contag, shdi, shei, sidi, pr, ta) of the landscape; landscape:METRIC says "
                 "the landscape level and CLASS:METRIC the class of code CLASS "
                 "(landscape:np=5:20, 0:pland=10:20). np, lpi, area_mn, area_am, ed and "
                 "gyrate_am named alone read the manifest's columns (areas in map units "
                 "squared), any other name the metrics command's values (areas in hectares); "
                 "a value a map lacks meets no bound. Give it once per metric, level and class. "
                 "Maps are drawn in order and measured in memory; rejected maps are never "
                 "written.",
         .helpTail = targetNote,
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.targets; },
         .manifestColumn = "draw"},
        {.key = "max_draws",
         .type = Type::Whole,
         .scope = Scope::Maps,
         .valueName = "N",
         .help = "With {target}: maps drawn at most for each cell of the batch before it is "
                 "given up as short.",
         .helpTail = drawNote,
         .field = [](FamilyRequest &r) -> OptionField { return &r.output.maxDraws; },
         .limits = OptionLimits::of(BatchOutput::maxDrawLimits),
         .manifestColumn = "draw"},
    };
}

} // namespace commonoptions
