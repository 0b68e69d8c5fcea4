// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "view/mapcolours.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <variant>

// The words of a legend, shared by the window's status bar and the legend
// `render --legend` draws, so that both name the codes alike.
namespace maplegend {

// An entry's label: its code, with "matrix" or "habitat" after it on a
// two-class map, or "NoData".
QString label(const MapColours::LegendEntry &entry, const MapColours &colours, qint32 matrixValue);
// What a legend says instead of entries when the codes are too many.
QString tooManyText();

// `preview` with the legend on a white panel to its right: a swatch and a
// label for each entry, in columns as tall as the preview (or as a few
// entries, for a small one). Text is drawn with FreeType from the font
// fontconfig picks for "sans-serif", since `render` runs without the GUI
// application that Qt's own text drawing needs. Why not, when no font can
// be loaded.
std::variant<QImage, QString> withLegend(const QImage &preview, const MapColours &colours,
                                         qint32 matrixValue);

} // namespace maplegend
