#!/usr/bin/env bash
# Builds the libFuzzer targets (build/fuzz, clang with the address and
# undefined-behaviour sanitizers) and runs them, one after the other.
#
#   tools/fuzz.sh [--seconds N] [--runs N] [--no-build] [target...]
#       fuzz each target (all by default) for N seconds (default 60) or until
#       N executions, then print its executions and findings
#   tools/fuzz.sh --regress [--no-build] [target...]
#       run every seed and every kept regression input once
#
# New inputs go to build/fuzz/work/<target>, findings to
# build/fuzz/findings/<target>/. The exit status is 1 when anything was found.
# Long runs are CPU-heavy: run them with nice -n 19 on a shared machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=60
runs=-1
regress=0
build=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --regress) regress=1; shift ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

out=build/fuzz
if [ "$build" = 1 ]; then
  cmake -S tests/fuzz -B "$out" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build "$out" -j "${QM_JOBS:-2}" >/dev/null
fi
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(grep -v '^$' "$out/targets.txt")

# Sanitizer reports end the run; leaks count as findings too.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
common=(-max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)

failed=0
printf '%-16s %14s %9s %s\n' target executions findings seconds
for target in "${targets[@]}"; do
  bin="$out/$target"
  seeds="tests/fuzz/corpus/$target"
  if [ ! -x "$bin" ] || [ ! -d "$seeds" ]; then
    echo "fuzz.sh: no target $target (binary $bin, seeds $seeds)" >&2
    exit 2
  fi
  findings="$out/findings/$target"
  work="$out/work/$target"
  log="$out/logs/$target.log"
  mkdir -p "$findings" "$work" "$(dirname "$log")"
  before=$(find "$findings" -type f | wc -l)
  start=$(date +%s)
  status=0
  if [ "$regress" = 1 ]; then
    mapfile -t inputs < <(find "$seeds" -type f | sort)
    "$bin" "${common[@]}" -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1 || status=$?
    executions=$(grep -c '^Executed ' "$log" || true)
  else
    "$bin" "${common[@]}" -max_total_time="$seconds" -runs="$runs" -artifact_prefix="$findings/" \
      "$work" "$seeds" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  fi
  found=$(( $(find "$findings" -type f | wc -l) - before ))
  # A crash the fuzzer could not save still counts.
  if [ "$status" != 0 ] && [ "$found" = 0 ]; then found=1; fi
  printf '%-16s %14s %9s %s\n' "$target" "${executions:-?}" "$found" "$(( $(date +%s) - start ))"
  if [ "$found" != 0 ]; then
    failed=1
    echo "  see $log and $findings/" >&2
    grep -m5 -E 'ERROR|invariant failed|runtime error' "$log" | sed 's/^/  /' >&2 || true
  fi
done
exit $failed
