#!/usr/bin/env bash
# Builds the libFuzzer targets (build-fuzz, clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from its corpus in fuzz/corpus.
# A crash, a failed check or a sanitizer finding fails the run and leaves the input that caused
# it in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [--seconds N] [--merge] [TARGET...]
#   --seconds N   time per target (default 60)
#   --merge       add the new inputs that reach new code to fuzz/corpus
#   TARGET        e.g. request_texts; all targets when none is named
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
merge=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --merge) merge=1; shift ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for folder in fuzz/corpus/*/; do targets+=("$(basename "$folder")"); done
fi

bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
for target in "${targets[@]}"; do executables+=("quorel_fuzz_$target"); done
cmake --build build-fuzz -j"$(nproc)" --target "${executables[@]}"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p build-fuzz/findings
passed=0
failed=0
for target in "${targets[@]}"; do
  echo "== $target: $seconds s"
  found=$(mktemp -d /tmp/quorel-fuzz-XXXXXX)
  if "build-fuzz/fuzz/quorel_fuzz_$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" \
    "$found" "fuzz/corpus/$target" 2>"build-fuzz/$target.log"; then
    passed=$((passed + 1))
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "build-fuzz/$target.log" || true
    if [ "$merge" -eq 1 ]; then
      "build-fuzz/fuzz/quorel_fuzz_$target" -merge=1 "fuzz/corpus/$target" "$found" 2>/dev/null
    fi
  else
    failed=$((failed + 1))
    tail -40 "build-fuzz/$target.log"
  fi
  rm -rf "$found"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
