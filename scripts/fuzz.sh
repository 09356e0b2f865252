#!/usr/bin/env bash
# Builds the fuzz tree build/fuzz (clang, libFuzzer, ASan, UBSan) and runs
# every fuzz target: first each input under tests/fuzz/regressions/TARGET/
# once, then SECONDS (default 60) of fuzzing from the generated seed corpus.
# Any finding fails the run; new ones are kept in build/fuzz/findings/TARGET/.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[ $# -gt 1 ] && targets_given=("${@:2}")
build="$root/build/fuzz"
fuzzdir="$root/tests/fuzz"
targets=(envelope extract survey)
declare -A max_len=([envelope]=16384 [extract]=4096 [survey]=4096)
[ -n "${targets_given+x}" ] && targets=("${targets_given[@]}")
# A finding rather than a stuck or swapping machine: the native regression
# driver (tests/fuzz/regression_main.cpp) keeps the same limits.
limits=(-rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=10)

"$root/scripts/bootstrap.sh" || exit 1
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DVANTEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j "$(nproc)" || exit 1
rm -rf "$build/seeds"
python3 "$fuzzdir/make_seeds.py" "$build/seeds" || exit 1
logs="$build/logs"
mkdir -p "$logs"

passed=0 failed=0
# What a failed run found: the check or sanitizer line and where the input went.
report() {
  grep -h -m 3 -E '^(fuzz check failed|write fence|SUMMARY:|==[0-9]+== ERROR:|.*runtime error:)' "$1" | sed 's/^/    /'
  grep -h -m 1 -E '(Test unit written to|artifact_prefix)' "$1" | sed 's/^/    /'
}

# Sandboxes of extraction runs that ended on a finding.
clean_sandboxes() {
  local dir
  for dir in /dev/shm/vantel-fuzz-* "${TMPDIR:-/tmp}"/vantel-fuzz-*; do
    [ -d "$dir" ] && ! kill -0 "${dir##*-}" 2>/dev/null && rm -rf "$dir"
  done
  return 0
}

for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  echo "== fuzz_$t: regression inputs"
  for input in "$fuzzdir/regressions/$t"/*; do
    [ -f "$input" ] || continue
    log="$logs/$t-regression-$(basename "$input").log"
    if "$bin" "${limits[@]}" "$input" >"$log" 2>&1; then
      passed=$((passed + 1))
      echo "  passed $(basename "$input")"
    else
      failed=$((failed + 1))
      echo "  FAILED $(basename "$input") (log: $log)"
      report "$log"
    fi
  done
done

for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$logs/$t-fuzz.log"
  mkdir -p "$corpus" "$findings"
  echo "== fuzz_$t: ${seconds}s"
  "$bin" "$corpus" "$build/seeds/$t" -dict="$fuzzdir/archive.dict" -max_len="${max_len[$t]}" \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" "${limits[@]}" >"$log" 2>&1
  rc=$?
  runs=$(grep -h -o -E 'stat::number_of_executed_units: *[0-9]+' "$log" | tail -n 1 | grep -o -E '[0-9]+$')
  speed=$(grep -h -o -E 'stat::average_exec_per_sec: *[0-9]+' "$log" | tail -n 1 | grep -o -E '[0-9]+$')
  echo "  ${runs:-?} runs, ${speed:-?} exec/s"
  if [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "  FAILED: finding (exit $rc, log: $log)"
    report "$log"
  fi
done
clean_sandboxes

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
