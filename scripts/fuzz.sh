#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# while; any finding (crash, leak, timeout, memory limit) fails the script.
#   scripts/fuzz.sh [seconds-per-target (default 60)] [target...]
# Targets: json loadtext uri cookies charset srcfile request (default: all).
# FUZZ_BUILD overrides the build folder (default ../build/tanvork-fuzz);
# FUZZ_JOBS sets the build's parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
all=(json loadtext uri cookies charset srcfile request)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

build=${FUZZ_BUILD:-../build/tanvork-fuzz}
bash scripts/install-deps.sh  # clang and its fuzzer runtime among them
command -v clang++-14 >/dev/null || { echo "fuzz.sh needs clang-14" >&2; exit 2; }
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTANVORK_FUZZ=ON -DTANVORK_SANITIZE=address -DTANVORK_GUI=OFF -DTANVORK_BENCH=OFF -DTANVORK_WERROR=ON \
  -DTANVORK_LAYERS="support;json;workers;http;app" >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for t in "${targets[@]}"; do
  seeds=fuzz/corpus/$t
  work=$build/corpus/$t
  art=$build/artifacts/$t
  mkdir -p "$work" "$art"
  echo "== fuzz_$t for ${seconds}s"
  # The working corpus grows in the build folder; the seeds in the repository stay as they are.
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=16384 -timeout=20 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$art/" "$work" "$seeds" >"$build/fuzz_$t.log" 2>&1; then
    tail -60 "$build/fuzz_$t.log"
    echo "fuzz_$t: finding, see $art/ and $build/fuzz_$t.log" >&2
    failed+=("$t")
  else
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/fuzz_$t.log" | tr '\n' ' '
    echo
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "findings in: ${failed[*]}" >&2
  exit 1
fi
echo "no findings"
