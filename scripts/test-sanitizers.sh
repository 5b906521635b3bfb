#!/usr/bin/env bash
# Builds the library and its tests twice and runs them: with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan: the whole suite, with LeakSanitizer at each exit) and
# with ThreadSanitizer (build-tsan: the programs that run threads against each other). Any
# finding ends its test program with an error, so the test fails.
# Usage: scripts/test-sanitizers.sh [asan|tsan]...   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/sanitizer-suppressions/leaks.txt:print_suppressions=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/sanitizer-suppressions/threads.txt

# ThreadSanitizer runs the programs in which threads run against each other: the recorder's,
# the stress runs, the uploads on several threads, and the service's (its event loop, recognition
# pool and log writer, run by the service tests against many clients at once) (ctest labels: one
# per test program).
tsan_programs='^(recorder_fault_tests|recorder_capture_tests|recording_stress_tests|capture_stress_tests|concurrent_upload_stress_tests|upload_exchange_tests|service_hostile_tests|service_pressure_tests)$'

passed=0
failed=0
run() {
  local preset=$1
  shift
  echo "== $preset"
  if ! cmake --preset "$preset" -DQUOREL_WARNINGS_AS_ERRORS=ON >/dev/null ||
    ! cmake --build "build-$preset" -j"$jobs"; then
    failed=$((failed + 1))  # the build itself failed
    return
  fi
  local log="build-$preset/sanitized-tests.log"
  ctest --test-dir "build-$preset" --output-on-failure -j"$jobs" "$@" 2>&1 | tee "$log" || true
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$summary" ]; then
    failed=$((failed + 1))  # the run itself broke down
    return
  fi
  local total fails
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  fails=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  passed=$((passed + total - fails))
  failed=$((failed + fails))
}

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(asan tsan)
for preset in "${presets[@]}"; do
  case "$preset" in
    # The install test builds consumers with the plain compiler against the installed library,
    # which an instrumented build cannot serve; it runs in the plain suite.
    asan) run asan -E '^installed_library_consumers$' ;;
    tsan) run tsan -L "$tsan_programs" ;;
    *) echo "unknown build: $preset" >&2; exit 2 ;;
  esac
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
