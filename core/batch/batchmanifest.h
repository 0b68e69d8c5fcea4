// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/maprecord.h"
#include "core/files/fileerror.h"
#include "core/files/writefully.h"

#include <QList>
#include <QString>

// The record of a run for people and their scripts: one CSV row per map
// written, in the order they were written, under a header that names the
// columns. It goes beside the batch list, named pathPrefix + "manifest.csv",
// and is rewritten whole through a temporary file like the list.
//
// The file column holds the map's name without its folder, so the manifest
// stays true when the folder is moved or the maps of split runs are gathered
// in one place. Numbers are written in the C locale; the realised cover has
// two decimals, the threshold as many digits as it takes to give back the
// same double. The text is UTF-8, and a field with a comma, a quote or a
// line break is quoted.
//
// Batches that use an option which changes how maps are made or what is
// known of them get more columns, after the classic ones, so that a default
// batch's manifest keeps its columns where they have always been. The last
// column of every manifest, version, names the release that wrote it, so
// that any map can be traced to the code that made it.
struct ManifestColumns {
    // The family's own columns (see MapRecord::parameters), after the
    // classic ones: their names and types, as the family's generator says
    // for its request; none for a batch that chose nothing beyond the
    // classic ways.
    QList<ManifestField> family;
    // surface_file
    bool surfaceFile = false;
    // habitat_cells, np, lpi, area_mn, area_am, ed, gyrate_am
    bool metrics = false;
    // draw, cell_draws, cell_acceptance: batches with metric targets
    bool selection = false;
    // rows, cols: batches of maps that are not square (the size column
    // then gives RxC as text)
    bool shape = false;
    // classes, valid_cells, class_cells, class_shares, nodata: batches cut
    // into classes or inside a study area, with the code of each class and
    // the value of the cells outside (none on the whole grid), which a
    // plain map cannot say itself.
    std::vector<qint32> classes;
    std::optional<qint64> noData;
    // blend: batches that blend surfaces into their maps', after the
    // family's own columns.
    bool blend = false;
};

// The columns of how a map was sampled, which the random and the fractal
// families add when a batch chose other than the classic way, in the order
// their manifests have always had them: generator, stream, cut,
// tied_habitat, distinct_surfaces, surfaces_per_h, first_seed. A family
// fills those it has and leaves the others empty.
QList<ManifestField> samplingColumns();

// A record's fields in column order, as its row gives them.
QList<ManifestField> manifestFields(const MapRecord &record, const ManifestColumns &columns = {});
// The metric columns alone, as manifestFields gives them with metrics set.
QList<ManifestField> manifestMetricFields(const LandscapeMetrics &metrics);

QString manifestFileName(const QString &pathPrefix);
// A number as the manifest writes it: by a printf format in the C locale,
// and the shortest text that reads back as the same double (nothing for a
// value that is undefined).
QByteArray manifestNumber(const char *format, double value);
QByteArray manifestShortest(double value);
QByteArray manifestHeader(const ManifestColumns &columns = {});
QByteArray manifestRow(const MapRecord &record, const ManifestColumns &columns = {});
// The fields of a row as manifestRow writes it (without its line feed),
// unquoted.
QList<QByteArray> splitManifestRow(const QByteArray &row);
FileResult writeManifest(const QList<MapRecord> &records, const QString &pathPrefix,
                         const ManifestColumns &columns = {}, OnDisk onDisk = OnDisk::Wait);

// The long table of metrics: the header, then each map's rows, named by its
// file and followed by its cell of the batch (the family's second sweep,
// `axis`, when it has one, the cover and the replicate), so that tables of
// several batches pool with each other and with the reference tool's.
QByteArray metricsTableHeader(const QString &axis);
QByteArray metricsTableRows(const MapRecord &record, const QString &axis);
void appendMetricsTableRows(QByteArray &out, const MapRecord &record, const QString &axis);
FileResult writeMetricsTable(const QList<MapRecord> &records, const QString &pathPrefix,
                             const QString &axis, OnDisk onDisk = OnDisk::Wait);
