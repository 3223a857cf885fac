#!/usr/bin/env bash
# Builds and runs the tests under a sanitizer: address (ASan + UBSan, the default) or thread.
#   scripts/sanitize.sh [address|thread] [ctest arguments...]
# ThreadSanitizer runs each test REPEAT times (default 1; the concurrency suites want 20).
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-address}
shift || true
case "$kind" in
  address) preset=asan ;;
  thread) preset=tsan ;;
  *) echo "usage: $0 [address|thread] [ctest args...]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake --preset "$preset" -DTANVORK_WERROR=ON >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp}
repeat=${REPEAT:-1}
ctest --preset "$preset" -j"$(nproc)" --timeout 1200 --repeat until-fail:"$repeat" "$@"
