#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lays out the R package as R builds it: r/ with the engine's sources
# (core/, random/, fractal/: QtCore only, no moc) copied into its src/, so
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
for folder in core random fractal; do
  mkdir -p "$dest/src/$folder"
  for file in "$root/$folder"/*.cpp "$root/$folder"/*.h; do
    case $(basename "$file") in
      dialog*) ;;
      *) cp "$file" "$dest/src/$folder/" ;;
    esac
  done
done
echo "$dest"
