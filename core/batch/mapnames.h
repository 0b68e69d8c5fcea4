// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/batch/maprecord.h"
#include "core/grid/mapformat.h"

#include <QRegularExpression>
#include <QString>

// How a batch names its files, in one place, so that the names a run writes
// and the names by which an earlier run's files are recognised cannot drift
// apart. Every name is the run's stem (folder, separator, prefix) and a tail.

// cover "%03i", "_", size, "x", size, "_a", replicate (from 1), extension.
QString randomMapName(const QString &stem, int cover, int size, int replicate, MapFormat format);
// H "%.2f", "_", cover "%03i", "_", replicate "%05i", extension; in the C
// locale whatever the user's, so that no decimal comma ends up in a name.
QString fractalMapName(const QString &stem, double H, int cover, int replicate, MapFormat format);

// The model's name, "_r" and the range "%.2f" (for fbm "_h" and H), "_",
// cover "%03i", "_", replicate "%05i", extension; in the C locale.
QString gaussianMapName(const QString &stem, CovarianceModel model, double axisValue, int cover,
                        int replicate, MapFormat format);
// The map's name with "_surface" before a ".tif" for GeoTIFF batches or an
// ".asc" for the others: the field the map was cut from.
QString gaussianSurfaceName(const QString &stem, CovarianceModel model, double axisValue, int cover,
                            int replicate, MapFormat format);

// H "%.2f", "_surface_", seed "%05i", and ".tif" for GeoTIFF batches or
// ".asc" for the others.
QString surfaceFileName(const QString &stem, double H, int seed, MapFormat format);

QString batchListName(const QString &stem);
QString manifestName(const QString &stem);
// What a share of a split batch records of its request and its maps, for
// `merge` (see core/batch/runrecord.h).
QString shardRecordName(const QString &stem);
// Beside the batch list; held while a run writes into the folder.
QString lockFileName(const QString &stem);
// Beside the batch list while a run writes: the names of the files it has
// named so far, one a line, so that a run killed before its list is written
// still says which files are its own.
QString journalName(const QString &stem);

// The file names (without folder) of any random, fractal or Gaussian field map with this
// prefix, of any size and format.
QRegularExpression randomMapNames(const QString &prefix);
QRegularExpression fractalMapNames(const QString &prefix);
QRegularExpression surfaceFileNames(const QString &prefix);
QRegularExpression gaussianMapNames(const QString &prefix);
QRegularExpression gaussianSurfaceNames(const QString &prefix);
// The map names of a kind of batch.
QRegularExpression mapNamesOf(MapRecord::Kind kind, const QString &prefix);
