#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every libFuzzer target of a fuzz build for a bounded time, each from
# the checked-in seeds plus what earlier runs found (kept in the build
# directory so the source tree stays clean), and prints executions per
# second and total executions. Exits non-zero as soon as a target reports a
# crash, a hang, a leak or a sanitizer finding; the input is saved under
# BUILD/fuzz-artifacts/ for the regression tests.
set -euo pipefail

build=${1:?usage: run-fuzzers.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
targets=(fuzz_mapfilereader fuzz_configfile fuzz_rangeparser)

mkdir -p "$build/fuzz-artifacts"
summary=()
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  corpus="$build/fuzz-corpus/$name"
  log="$build/fuzz-artifacts/$name.log"
  mkdir -p "$corpus"
  echo "== $target for ${seconds}s"
  # -timeout flags a single input that takes over 10 s as a hang.
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
      "$corpus" "$source_dir/tests/fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$target found a problem; see $log and $build/fuzz-artifacts/" >&2
    exit 1
  fi
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  rate=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
  summary+=("$(printf '%-20s %12s execs %10s exec/s' "$target" "$execs" "$rate")")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
