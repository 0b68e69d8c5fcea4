// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

// Parts that only some runs need (GDAL's, QtGui's) live in modules loaded
// when they are first needed, so that no other run pays for them. A module
// is looked for beside the binary that asks (the build tree, the Python
// package), then where `cmake --install` puts it relative to the programs,
// then at the build tree's own path.
QStringList moduleCandidates(const QString &folder, QStringView name, QStringView installed,
                             QStringView buildPath);

// The first candidate that exists and exports `symbol` that `accept` takes
// (given the symbol). Every module loaded stays loaded for the rest of the
// process: what it made may use its code to the end. Otherwise nothing, and
// `reasons` says why for each candidate tried.
using ModuleSymbolCheck = std::function<bool(QFunctionPointer)>;
QFunctionPointer loadModuleSymbol(const QStringList &candidates, const char *symbol,
                                  QStringList &reasons, const ModuleSymbolCheck &accept = {});
