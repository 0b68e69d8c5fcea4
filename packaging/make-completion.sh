#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the bash completion of patchwright-cli from the program's own help:
# its commands, and for each command the options its --help lists.
# Usage: make-completion.sh PATH-TO-patchwright-cli OUTPUT
set -euo pipefail
cli=$1
out=$2
commands=$("$cli" --help | awk '/^Commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }')
{
  echo "# bash completion for patchwright-cli; generated from its --help."
  echo "_patchwright_cli() {"
  echo '  local cur=${COMP_WORDS[COMP_CWORD]}'
  echo '  if ((COMP_CWORD == 1)); then'
  echo "    COMPREPLY=(\$(compgen -W '$(echo $commands) --help --version' -- \"\$cur\"))"
  echo '    return'
  echo '  fi'
  echo '  case ${COMP_WORDS[1]} in'
  for command in $commands; do
    options=$("$cli" "$command" --help | grep -E '^ +-' | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u | tr '\n' ' ')
    [[ -n $options ]] || { echo "no options found in '$cli $command --help'" >&2; exit 1; }
    echo "    $command) local options='${options% }' ;;"
  done
  echo '    *) return ;;'
  echo '  esac'
  echo '  if [[ $cur == -* ]]; then'
  echo '    COMPREPLY=($(compgen -W "$options" -- "$cur"))'
  echo '  else'
  echo '    COMPREPLY=($(compgen -f -- "$cur"))'
  echo '  fi'
  echo '}'
  echo 'complete -o filenames -F _patchwright_cli patchwright-cli'
} >"$out.tmp"
[[ -n $commands ]] || { echo "no commands found in '$cli --help'" >&2; exit 1; }
mv "$out.tmp" "$out"
