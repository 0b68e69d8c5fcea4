// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/grid/landscapegrid.h"

#include <QColor>

#include <cstddef>
#include <optional>
#include <vector>

// The codes a map holds, found once when it is loaded, for its colours and
// its legend. NoData is kept apart: its cells are outside the map.
struct MapCodes {
    // A map of up to this many codes gets a colour a code; past it the
    // search stops, since no legend can list them all anyway.
    static constexpr std::size_t maximumClasses = 64;

    // The distinct codes other than NoData, ascending. When the map holds
    // more than maximumClasses, the search stopped at maximumClasses + 1
    // and these are only some of them.
    std::vector<qint32> codes;
    // The file's NoData value as a cell code, when a cell can hold it.
    std::optional<qint32> noData;
    bool hasNoDataCells = false;

    bool tooManyToList() const { return codes.size() > maximumClasses; }

    // One pass over the cells. Codes 0 to 255, which nearly every map holds,
    // are looked up in a table, so that the pass costs a few milliseconds on
    // a 4096 x 4096 map beside the seconds its reading takes.
    static MapCodes of(const LandscapeGrid &grid, std::optional<double> noData = {});
    // The code a NoData value marks, or none when no 32-bit cell can hold
    // it (a fraction, or beyond the range).
    static std::optional<qint32> noDataCode(std::optional<double> noData);
};

// The colour of every code of a map, the same in the window, in `render`
// and in their legends.
//
// A map of at most two codes besides NoData is drawn as the window has
// always drawn it: white for the matrix code, black for any other. A map of
// more codes gets a colour a code from a qualitative palette that readers
// with any common form of colour blindness can tell apart, given in
// ascending order of code, so that the same codes always get the same
// colours. Cells holding the file's NoData value are light grey in every
// map, so that a masked map shows its study area.
class MapColours final {
public:
    static constexpr QRgb matrixPixel = 0xffffffffu;
    static constexpr QRgb habitatPixel = 0xff000000u;
    // Light grey, lighter than every colour of the palette's rounds below
    // and without hue, so that it reads as "nothing here" beside them.
    static constexpr QRgb noDataPixel = 0xffdcdcdcu;

    // The two-class drawing for a map with no NoData cells.
    explicit MapColours(qint32 matrixValue = 0);
    MapColours(const MapCodes &codes, qint32 matrixValue);

    bool twoClass() const { return m_twoClass; }

    QRgb operator()(qint32 code) const
    {
        if (m_noData && code == *m_noData)
            return noDataPixel;
        if (m_twoClass)
            return code == m_matrixValue ? matrixPixel : habitatPixel;
        return classPixel(code);
    }

    // The palette: Okabe and Ito's eight colours, then seven more rounds of
    // the same eight hues in the same order, each round lighter or darker,
    // for 64 in all. Codes next to each other in order therefore always
    // differ in hue, and a code eight places away differs in lightness. The
    // black of the first round has no darker version; its rounds are greys,
    // all darker than the NoData grey.
    static QRgb classColour(std::size_t index);

    // What a legend lists: each code with its colour, in ascending order,
    // and NoData (no code) last when the map has NoData cells. Empty for a
    // map whose codes are too many to list; it is then coloured by its code
    // modulo 64, the palette's size.
    struct LegendEntry {
        std::optional<qint32> code;
        QRgb colour;
    };
    const std::vector<LegendEntry> &legend() const { return m_legend; }
    bool tooManyToList() const { return m_tooMany; }
    bool hasNoDataCells() const { return m_hasNoDataCells; }

private:
    QRgb classPixel(qint32 code) const;

    qint32 m_matrixValue = 0;
    std::optional<qint32> m_noData;
    bool m_twoClass = true;
    bool m_tooMany = false;
    bool m_hasNoDataCells = false;
    // A code's colour: at [code - m_low] when the codes span a short range,
    // otherwise found among m_codes, which are ascending.
    qint32 m_low = 0;
    std::vector<QRgb> m_byOffset;
    std::vector<qint32> m_codes;
    std::vector<LegendEntry> m_legend;
};
