#!/usr/bin/env bash
# Checks that every folder includes only what it may (HACKING.md draws the
# layers): core/ nothing else; settings/, random/, fractal/ and view/ only
# core/; app/ and cli/ anything below them; python/ anything below them but
# view/; r/ only core/, random/ and fractal/. No unit (a header and its source) may reach itself through its
# includes, in a folder or across folders. Prints each offending include or
# loop and fails if there is one.
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

allowed() {
  case "$1" in
    core) echo "core" ;;
    settings | random | fractal) echo "core $1" ;;
    view) echo "core view" ;;
    app) echo "core settings random fractal view app" ;;
    cli) echo "core settings random fractal view cli" ;;
    python) echo "core settings random fractal python" ;;
    r) echo "core random fractal" ;;
  esac
}

folders="core settings random fractal view app cli python r"
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

# Every include of one unit (a header and its source) by another, as an edge
# "from to"; tsort names the units of any loop among them. One loop is known
# and left out until it is broken: the commands report through the command
# line that runs them.
known='^cli/(batchcommand|rendercommand) cli/commandline$'
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
exit $status
