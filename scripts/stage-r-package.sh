#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lays out the R package as R builds it: r/ with the engine's sources
# (core/, random/, fractal/, gaussian/: QtCore only, no moc) copied into its src/, so
# that the package, and the tarball R CMD build makes of it, compile the same
# core as the command line without reaching back into the repository.
# Dialogs are left out: they need Qt Widgets and belong to the GUI library.
# Usage: stage-r-package.sh DEST (DEST/patchwright is made anew).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:?usage: stage-r-package.sh DEST}/patchwright
rm -rf "$dest"
mkdir -p "$dest"
cp -R "$root/r/." "$dest/"
for folder in core random fractal gaussian; do
  mkdir -p "$dest/src/$folder"
  for file in "$root/$folder"/*.cpp "$root/$folder"/*.h; do
    case $(basename "$file") in
      dialog*) ;;
      *) cp "$file" "$dest/src/$folder/" ;;
    esac
  done
done
# The release is named once, in the root CMakeLists.txt: the package's
# DESCRIPTION and the core's version header take it from there, as CMake's
# build does.
version=$(sed -nE 's/^project\(Patchwright VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
[[ -n $version ]] || { echo "no project(VERSION) in $root/CMakeLists.txt" >&2; exit 1; }
sed -i -E "s/^Version: .*/Version: $version/" "$dest/DESCRIPTION"
sed "s/@PROJECT_VERSION@/$version/" "$root/core/version.h.in" >"$dest/src/core/version.h"
rm -f "$dest/src/core/version.h.in"
echo "$dest"
