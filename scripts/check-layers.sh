#!/usr/bin/env bash
# Checks that every folder includes only what it may (HACKING.md draws the
# layers): core/ nothing else; widgets/ only core/; settings/, random/ and
# fractal/ only core/, and widgets/ from their dialogs (the files built on a
# form) only; app/ anything below it; cli/ and python/ anything below them
# but widgets/. Prints each offending include and fails if there is one.
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

allowed() {
  case "$1" in
    core) echo "core" ;;
    widgets) echo "core widgets" ;;
    settings | random | fractal) echo "core widgets $1" ;;
    app) echo "core widgets settings random fractal app" ;;
    cli) echo "core settings random fractal app cli" ;;
    python) echo "core settings random fractal python" ;;
  esac
}

status=0
for folder in core widgets settings random fractal app cli python; do
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
# The generators of settings/, random/ and fractal/ go into the core library,
# which has no widgets to link.
for folder in settings random fractal; do
  [ -d "$folder" ] || continue
  while IFS= read -r file; do
    grep -qE '^\s*#\s*include "ui_[^"]+\.h"' "$file" ||
      { echo "$file includes widgets/, which only the dialogs of $folder/ may"; status=1; }
  done < <(grep -rlE '^\s*#\s*include "widgets/' "$folder" --include='*.h' --include='*.cpp' || true)
done
exit $status
