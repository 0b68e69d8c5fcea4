#pragma once

#include <QtGlobal>

#include <vector>

class MapWriter;

// Cutting a surface of real values into a two-class map, shared by every
// family whose maps come from a surface. The surface is `size` x `size`
// values, row-major, `stride` values from one row to the next.

// The cut that leaves exactly round(cover * cells / 100) of the cells above
// it, halves rounded up: the threshold is the value of the last cell taken,
// and of the cells equal to it those first in row-major order are taken
// (tiesAbove of them). When every cell equal to it is taken, the threshold
// given is the next lower value instead, so that a cut at the threshold
// alone makes the map again. `scratch` holds the values, in any order; it is
// filled when its size is not the cell count, and reordered.
struct ExactCoverCut {
    double threshold = 0.0;
    qint64 tiesAbove = 0;
};
ExactCoverCut exactCoverCut(const double *values, int size, qsizetype stride, int cover,
                            std::vector<double> &scratch);

// Writes the rows of the map: habitat where a value is above the threshold,
// and for the first tiesAbove values equal to it.
void putCutRows(MapWriter &writer, const double *values, int size, qsizetype stride,
                double threshold, qint64 tiesAbove);
