# Sourced by the benchmark scripts after wine_session_start: wall seconds
# of Wine runs, and the median of a column of them.
now() { date +%s.%N; }
run_wine() { "${WINE_LOCALE[@]}" "$WINE_LOADER" "$@" 2>/dev/null </dev/null; }
# Whole-process wall seconds of one Wine run.
timed() {
  local start
  start=$(now)
  run_wine "$@" >/dev/null
  echo "$(now) - $start" | bc
}
# The installer's way, from the Windows folder DIR holding ezbench.exe and
# payload.ez: the process's wall seconds less its check pass, which the
# installer runs behind the agreement page.
timed_installer() {  # DIR
  local start out end check
  start=$(now)
  out=$(run_wine "$1\\ezbench.exe" install "$1")
  end=$(now)
  check=$(sed -n 's/^check pass: ok, \([0-9.]*\) s.*/\1/p' <<<"$out")
  grep -q '^extraction after the check: result 1' <<<"$out" || { echo "$(basename "$0"): $out" >&2; exit 1; }
  echo "$end - $start - $check" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
