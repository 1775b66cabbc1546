#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs them one after another,
# each for N seconds (default 30), printing one line per target:
#   TARGET: RUNS runs, CRASHES crashes
# Every crashing input (crash-, leak-, timeout- or oom- file) is kept under build-fuzz/crashes/;
# each target's corpus grows in build-fuzz/corpus/TARGET and its libFuzzer output is in
# build-fuzz/logs/TARGET.log (the last "cov:" figure there is the coverage reached). Exits 1 when
# any target crashed, 2 when the targets could not be built.
# Usage: tools/fuzz.sh [--seconds N] [--runs N] [TARGET...]
#   --runs N stops a target after N executions if that comes before the time is up.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=30
runs=0
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    -*) echo "usage: tools/fuzz.sh [--seconds N] [--runs N] [TARGET...]" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
case $seconds$runs in *[!0-9]*) echo "fuzz: --seconds and --runs take whole numbers" >&2; exit 2 ;; esac

build=${QUILLORY_FUZZ_BUILD_DIR:-build-fuzz}
mkdir -p "$build"
build=$(cd "$build" && pwd)
tools/setup.sh --packages-only
if [ ! -f "$build/build.ninja" ]; then
  launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_FUZZ=ON \
    ${launcher[@]+"${launcher[@]}"} >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 2
  }
fi
if ! cmake --build "$build" --target fuzz_all >"$build/build.log" 2>&1; then
  tail -40 "$build/build.log" >&2
  echo "fuzz: the targets could not be built (see $build/build.log)" >&2
  exit 2
fi
read -r -a known < <(tr ';' ' ' <"$build/fuzz/targets.txt"; echo)
if [ ${#targets[@]} -eq 0 ]; then targets=("${known[@]}"); fi
for t in "${targets[@]}"; do
  if [[ " ${known[*]} " != *" $t "* ]]; then
    echo "fuzz: no target $t (targets: ${known[*]})" >&2
    exit 2
  fi
done

mkdir -p "$build/crashes" "$build/logs"
# Sanitizer reports stop the run at once; leaks inside system libraries are not ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tools/lsan.supp}
# The targets write their inputs to files (and the saves flush them): a memory-backed temporary
# folder keeps that from costing disk syncs.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

# A target that crashes is started again with the time left, so one run can find more than one
# crashing input; it stops at an input it had already found (or at ten of them).
failed=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  log=$build/logs/$t.log
  mkdir -p "$corpus"
  : >"$log"
  total=0
  found=()
  deadline=$((SECONDS + seconds))
  while :; do
    left=$((deadline - SECONDS))
    [ "$left" -gt 0 ] || break
    limit=()
    if [ "$runs" -gt 0 ]; then limit=(-runs=$((runs - total))); fi
    part=$build/logs/$t.part
    set +e
    "$build/fuzz/$t" -max_total_time="$left" ${limit[@]+"${limit[@]}"} -timeout=25 -rss_limit_mb=2048 \
      -print_final_stats=1 -dict="$build/fuzz/dictionaries/$t.dict" -artifact_prefix="$build/crashes/$t-" \
      "$corpus" "$build/fuzz/seeds/$t" >"$part" 2>&1
    rc=$?
    set -e
    cat "$part" >>"$log"
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$part" | tail -1)
    total=$((total + ${executed:-0}))
    [ "$rc" -eq 0 ] && break
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$part" | tail -1)
    if [ -z "$artifact" ]; then
      found+=("(no input: see $log)")
      break
    fi
    if [[ " ${found[*]-} " == *" $artifact "* ]]; then break; fi
    found+=("$artifact")
    [ ${#found[@]} -lt 10 ] || break
    [ "$runs" -eq 0 ] || [ "$total" -lt "$runs" ] || break
  done
  rm -f "$build/logs/$t.part"
  echo "$t: $total runs, ${#found[@]} crashes"
  if [ ${#found[@]} -gt 0 ]; then
    failed=1
    printf '  %s\n' "${found[@]}" >&2
  fi
done
exit $failed
