#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What help2man reads to write the manual page: the program's own --version,
# and its --help followed by every command's, so that the page says what the
# program says and nothing is written twice. PW_CLI names the program.
set -euo pipefail
cli=${PW_CLI:?PW_CLI must name patchwright-cli}
if [[ ${1:-} == --version ]]; then
  exec "$cli" --version
fi
"$cli" --help
for command in $("$cli" --help | awk '/^Commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }'); do
  # A heading of its own for each command, which help2man makes a
  # subsection of the page.
  printf '\nThe %s command:\n' "$command"
  # Each example a paragraph of its own: roff would fill them into one.
  "$cli" "$command" --help | sed -e '1s/^Usage: /  /' -e "s/^Options:/Options of $command:/" \
    -e '/^Examples:/,/^$/{/^  /G}'
done
