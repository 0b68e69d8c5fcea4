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
# The core's rooms (core/batch/, core/grid/, ...) keep their places, so that
# the includes read as they do in the repository.
for folder in core random fractal gaussian; do
  (cd "$root" && find "$folder" -name '*.cpp' -o -name '*.h') | while IFS= read -r file; do
    case $(basename "$file") in
      dialog*) ;;
      *) mkdir -p "$dest/src/$(dirname "$file")" && cp "$root/$file" "$dest/src/$file" ;;
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
