#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Puts the licence's SPDX line first in every tracked source file that lacks
# it (after a #! line), in the file's own comment syntax; files that have it
# are left alone, so the script can be run any number of times.
#   scripts/add-spdx.sh [--check]
# With --check it changes nothing, lists the files without the line and
# fails if there is one (ctest -R spdx).
# Data, test fixtures, fuzzing corpora, documents, images and generated
# files (Rcpp's exports) are not sources and are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
line='SPDX-License-Identifier: GPL-3.0-or-later'
check=no
[[ ${1:-} == --check ]] && check=yes

# The comment a file's first line of text takes, or nothing when the file is
# not a source file.
comment_for() {
  case $1 in
    */data/* | tests/fuzz/corpus/* | */RcppExports.*) ;;
    *.cpp | *.h | *.c | *.hpp | *.h.in) echo "// $line" ;;
    *.py | *.pyi | *.py.in | *.sh | *.R | *.r | *.cmake | *.toml | */CMakeLists.txt | CMakeLists.txt | Makefile | .ci/run)
      echo "# $line" ;;
    *.ui) echo "<!-- $line -->" ;;
  esac
}

missing=()
while IFS= read -r -d '' file; do
  [[ -f $file ]] || continue
  text=$(comment_for "$file")
  [[ -n $text ]] || continue
  head -n 3 "$file" | grep -qF "$line" && continue
  missing+=("$file")
  [[ $check == yes ]] && continue
  first=$(head -n 1 "$file")
  # After a #! line or an XML declaration, which must stay first.
  if [[ $first == '#!'* || $first == '<?xml'* ]]; then
    { printf '%s\n%s\n' "$first" "$text"; tail -n +2 "$file"; } >"$file.spdx"
  else
    { printf '%s\n' "$text"; cat "$file"; } >"$file.spdx"
  fi
  chmod --reference="$file" "$file.spdx"
  mv "$file.spdx" "$file"
done < <(git ls-files -z)

if [[ $check == yes ]]; then
  if ((${#missing[@]} > 0)); then
    echo "no \"$line\" line at the top of:"
    printf '  %s\n' "${missing[@]}"
    exit 1
  fi
  echo "every tracked source file names its licence"
else
  echo "added the licence line to ${#missing[@]} files"
fi
