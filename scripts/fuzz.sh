#!/usr/bin/env bash
# Runs every libFuzzer target for a fixed time, from its committed seeds plus a working corpus
# kept in the build folder. An input that crashes a target is copied to
# fuzz/regressions/<target>/, where the normal test builds replay it; the script then fails.
#
#   scripts/fuzz.sh [seconds per target, default 8] [fuzz build folder, default build-fuzz]
#
# The build folder is configured and built first when it has no fuzz targets yet:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DWLAN_FUZZ=ON -DWLAN_BUILD_TESTS=OFF -DWLAN_BUILD_BENCH=OFF
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-8}
build=${2:-build-fuzz}
targets=(registry_file cardsim_block cardsim_control pages_block supplicant_reply)

if [[ ! -x "$build/fuzz/fuzz_registry_file" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DWLAN_FUZZ=ON -DWLAN_BUILD_TESTS=OFF -DWLAN_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

failed=0
printf '%-16s %8s %12s %10s %8s %8s %s\n' target seconds executions exec/s coverage corpus result
for target in "${targets[@]}"; do
  case $target in
    registry_file) dict=fuzz/registry_file.dict ;;
    cardsim_control) dict=fuzz/control.dict ;;
    supplicant_reply) dict=fuzz/supplicant.dict ;;
    *) dict=fuzz/block.dict ;;
  esac
  work="$build/fuzz/work/$target"
  artifacts="$build/fuzz/artifacts/$target"
  mkdir -p "$work" "$artifacts"
  log="$build/fuzz/$target.log"
  # -close_fd_mask=2: the targets' own stderr (the simulator's log, Qt) is noise; libFuzzer
  # and the sanitizers keep a private copy of it for their reports.
  set +e
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=2 -dict="$dict" -artifact_prefix="$artifacts/" -print_final_stats=1 \
    "$work" "fuzz/corpus/$target" "fuzz/regressions/$target" >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  coverage=$(grep -o 'DONE *cov: [0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
  corpus=$(find "$work" -type f | wc -l)
  result=ok
  if (( status != 0 )); then
    result="FAILED (status $status, see $log)"
    failed=1
    mkdir -p "fuzz/regressions/$target"
    for artifact in "$artifacts"/*; do
      [[ -f $artifact ]] || continue
      cp "$artifact" "fuzz/regressions/$target/"
      result+=" -> fuzz/regressions/$target/$(basename "$artifact")"
    done
  fi
  printf '%-16s %8s %12s %10s %8s %8s %s\n' "$target" "$seconds" "${runs:-?}" "${rate:-?}" "${coverage:-?}" "$corpus" "$result"
done
exit $failed
