#!/usr/bin/env bash
# Runs one libFuzzer target for a set time: new inputs go to a working corpus in the build
# folder (seeded from the committed one), crashes to build/fuzz/artifacts/.
# Usage: tests/fuzz/run_fuzz.sh BUILD_DIR TARGET SECONDS [EXTRA_SEED_DIR...]
set -euo pipefail
build="$1" target="$2" seconds="$3"
shift 3
here="$(cd "$(dirname "$0")" && pwd)"
work="$build/corpus/$target"
artifacts="$build/artifacts"
mkdir -p "$work" "$artifacts"
echo "fuzzing $target for $seconds s (corpus $work, crashes in $artifacts)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
  "$work" "$here/corpus/$target" "$@"
