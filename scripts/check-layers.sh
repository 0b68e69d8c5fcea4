#!/usr/bin/env bash
# Checks that every folder includes only what it may (HACKING.md draws the
# layers): core/ nothing else; settings/, random/, fractal/ and gaussian/
# only core/;
# app/, cli/ and python/ anything below them. Prints each offending include
# and fails if there is one.
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

allowed() {
  case "$1" in
    core) echo "core" ;;
    settings | random | fractal | gaussian) echo "core $1" ;;
    app) echo "core settings random fractal gaussian app" ;;
    cli) echo "core settings random fractal gaussian app cli" ;;
    python) echo "core settings random fractal gaussian python" ;;
  esac
}

status=0
for folder in core settings random fractal gaussian app cli python; do
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
exit $status
