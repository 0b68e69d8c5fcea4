// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

// Parts that only some runs need (GDAL's, QtGui's) live in modules loaded
// when they are first needed, so that no other run pays for them.

// The real folder of the program or shared library whose code holds
// `address`, links resolved: for a program, where /proc/self/exe leads, never
// what its argv[0] says, which is relative to the folder it was started in
// when it was found through PATH. Empty when the system cannot tell.
QString folderOfBinaryHolding(const void *address);

// Where a module is looked for by the binary in `folder`: beside it (the
// build tree, the Python package, the R package), then where `cmake
// --install` puts it relative to the programs; and at the build tree's own
// path only when the binary itself lies in that build tree (`buildTree`),
// so that an installed program never loads what a build left behind.
QStringList moduleCandidates(const QString &folder, QStringView name, QStringView installed,
                             QStringView buildPath, QStringView buildTree);

// The first candidate that exists and exports `symbol` that `accept` takes
// (given the symbol). Every module loaded stays loaded for the rest of the
// process: what it made may use its code to the end. Otherwise nothing, and
// `reasons` says why for each candidate tried.
using ModuleSymbolCheck = std::function<bool(QFunctionPointer)>;
QFunctionPointer loadModuleSymbol(const QStringList &candidates, const char *symbol,
                                  QStringList &reasons, const ModuleSymbolCheck &accept = {});
