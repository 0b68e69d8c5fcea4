#!/usr/bin/env bash
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
# core/version.h is written by CMake in a build; the package names the same
# release, taken from the one place it is named.
version=$(sed -n 's/^project(Patchwright VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "stage-r-package.sh: no version in CMakeLists.txt" >&2; exit 1; }
sed "s/@PROJECT_VERSION@/$version/" "$root/core/version.h.in" > "$dest/src/core/version.h"
echo "$dest"
