// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/metrics/landscapemeasure.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <span>

// The long table as CSV, in the reference tool's layout so that both pool:
// file,level,class,metric,value, then any columns a caller adds (a batch's
// sweep cell, say). The class is NA at landscape level, a value NA where
// there is none, and numbers are written in the fewest digits that read back
// as the same double, whatever the locale.
QByteArray metricsCsvHeader(const QStringList &extraColumns = {});

// Appends the rows of one map, named `file`; `extraValues` go into the
// extra columns of every row.
void appendMetricsCsv(QByteArray &out, const QString &file, std::span<const MetricRow> rows,
                      const QStringList &extraValues = {});

// "NA" for NaN, "Inf" and "-Inf" as R writes them, else the shortest text
// that reads back as the same double.
QByteArray metricValueText(double value);
