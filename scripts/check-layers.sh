#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that every folder includes only what it may (HACKING.md draws the
# layers): core/ nothing else, and each of its rooms only the rooms below it;
# widgets/ only core/; settings/, random/, fractal/, gaussian/ and view/ only
# core/, and widgets/ from the dialogs of the first four (the units built on a
# form) only; cluster/, mosaic/, rectangles/ and gradients/ (families without
# a form of their own) core/ alone; families/ (the list of families) the families' folders, and
# widgets/ for the list of their forms; app/ anything below it but the
# families it has no form of; cli/ core/, settings/ and view/; python/ and r/
# core/ alone: the front ends know the families through the registry only.
# No unit (a header and its source) may reach itself through its includes, in
# a folder or across folders. Prints each offending include or loop and fails
# if there is one.
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

allowed() {
  case "$1" in
    core) echo "core" ;;
    widgets) echo "core widgets" ;;
    settings | random | fractal | gaussian) echo "core widgets $1" ;;
    cluster | mosaic | rectangles | gradients) echo "core $1" ;;
    families) echo "core widgets random fractal gaussian cluster mosaic rectangles gradients families" ;;
    view) echo "core view" ;;
    app) echo "core widgets settings random fractal view app" ;;
    cli) echo "core settings view cli" ;;
    python) echo "core python" ;;
    r) echo "core" ;;
  esac
}

folders="core widgets settings random fractal gaussian cluster mosaic rectangles gradients families view app cli python r"
status=0
for folder in $folders; do
  [ -d "$folder" ] || continue
  ok=$(allowed "$folder")
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$line")
    case " $ok " in
      *" $target "*) ;;
      *) echo "$file includes $target/, which $folder/ may not"; status=1 ;;
    esac
  done < <(grep -rHE '^\s*#\s*include "[^/"]+/' "$folder" --include='*.h' --include='*.cpp' || true)
done

# The rooms of core/, lowest first: a room includes itself and the rooms
# before it.
core_rooms="files rng grid metrics batch"
below=""
for room in $core_rooms; do
  [ -d "core/$room" ] || continue
  ok="$below $room"
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "core\/([^/"]+)\/.*/\1/' <<<"$line")
    case " $ok " in
      *" $target "*) ;;
      *) echo "$file includes core/$target/, which core/$room/ may not"; status=1 ;;
    esac
  done < <(grep -rHE '^\s*#\s*include "core/[^/"]+/' "core/$room" --include='*.h' --include='*.cpp' || true)
  below="$ok"
done
while IFS= read -r file; do
  echo "$file lies in core/ itself; every file of the core has a room"; status=1
done < <(find core -maxdepth 1 -name '*.h' -o -maxdepth 1 -name '*.cpp')

# Every include of one unit (a header and its source) by another, as an edge
# "from to"; tsort names the units of any loop among them. One loop is known
# and left out until it is broken: the commands report through the command
# line that runs them.
known='^cli/(batchcommand|classifycommand|mergecommand|metricscommand|rendercommand|scancommand) cli/commandline$'
edges=$(for folder in $folders; do
  [ -d "$folder" ] || continue
  grep -rHE '^\s*#\s*include "[^/"]+/[^"]+\.h"' "$folder" --include='*.h' --include='*.cpp' || true
done | sed -E 's/^([^:]+)\.(h|cpp):\s*#\s*include "([^"]+)\.h".*/\1 \3/' | grep -vE "$known" || true)
loops=$(tsort <<<"$edges" 2>&1 >/dev/null || true)
if [ -n "$loops" ]; then
  awk '/input contains a loop/ { if (line) print line; line = "these units include each other:"; next }
       { sub(/^tsort: /, ""); line = line " " $0 }
       END { if (line) print line }' <<<"$loops"
  status=1
fi

# The generators of settings/, random/, fractal/ and gaussian/ and the list
# of families go into the core library, which has no widgets to link: only a
# dialog (a unit whose source is built on a form) and the list of the
# families' forms may include widgets/.
for folder in settings random fractal gaussian families; do
  [ -d "$folder" ] || continue
  while IFS= read -r file; do
    unit=${file%.*}
    [ "$file" = families/familyforms.cpp ] && continue
    grep -qE '^\s*#\s*include "ui_[^"]+\.h"' "$unit.cpp" 2>/dev/null ||
      { echo "$file includes widgets/, which only the dialogs of $folder/ may"; status=1; }
  done < <(grep -rlE '^\s*#\s*include "widgets/' "$folder" --include='*.h' --include='*.cpp' || true)
done
exit $status
