#!/usr/bin/env bash
# Builds Quillory and runs every test: a plain build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, the threaded tests under
# ThreadSanitizer, and (with CI=true or QUILLORY_FUZZ_SECONDS set) the
# fuzzers for about a minute each. Installs what it needs first.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
builds=${QUILLORY_BUILD_ROOT:-$root/build-tests}
jobs=${QUILLORY_JOBS:-$(nproc)}
fuzz_seconds=${QUILLORY_FUZZ_SECONDS:-}
[ -z "$fuzz_seconds" ] && [ "${CI:-}" = "true" ] && fuzz_seconds=60

"$root/scripts/install-deps.sh" || { echo "test-all: installing dependencies failed" >&2; exit 1; }

passed=0
failed=0
status=0
# Test programs whose code runs worker threads (the grabber: concurrent
# objects sharing the debug record, downloads behind the dialog); they also
# run under TSan.
threaded_tests=(test_platform_ui test_saveprocessors test_platform_inet test_platform_registry test_grabber)

note() { printf '\n=== %s ===\n' "$*"; }

configure_and_build() { # dir, cmake args..., -- targets...
  local dir=$1; shift
  local args=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do args+=("$1"); shift; done
  [ "${1:-}" = "--" ] && shift
  targets=("$@")
  cmake -S "$root" -B "$dir" "${args[@]}" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
  else
    cmake --build "$dir" -j "$jobs"
  fi
}

# Adds ctest's own counts ("N% tests passed, F tests failed out of T").
# A failed test gets one more run: the browser and timing tests share two
# cores with everything else, and a second failure is a real one.
run_ctest() { # dir, label
  local dir=$1 label=$2 log="$1.ctest.log"
  (cd "$dir" && ctest --output-on-failure --timeout 600 --repeat until-pass:2 -j "$jobs") 2>&1 | tee "$log"
  local line total fails
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    echo "test-all: $label: ctest gave no result" >&2
    failed=$((failed + 1)); status=1; return
  fi
  fails=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + total - fails)); failed=$((failed + fails))
  [ "$fails" -eq 0 ] || status=1
}

# Runs a GoogleTest program directly and adds its counts.
run_gtest() { # binary, label
  local bin=$1 label=$2 log
  log=$(mktemp)
  QUILLORY_SOURCE_DIR="$root" "$bin" 2>&1 | tee "$log"
  local ok bad
  ok=$(grep -E '^\[  PASSED  \] [0-9]+ test' "$log" | sed -E 's/.* ([0-9]+) tests?.*/\1/' | tail -n 1)
  bad=$(grep -E '^\[  FAILED  \] [0-9]+ test' "$log" | sed -E 's/.* ([0-9]+) tests?.*/\1/' | tail -n 1)
  if [ -z "$ok$bad" ]; then
    echo "test-all: $label: no result (crashed?)" >&2
    failed=$((failed + 1)); status=1
  fi
  passed=$((passed + ${ok:-0})); failed=$((failed + ${bad:-0}))
  [ -z "$bad" ] || status=1
  rm -f "$log"
}

mkdir -p "$builds"

note "plain build"
if configure_and_build "$builds/plain" -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
  run_ctest "$builds/plain" plain
else
  echo "test-all: plain build failed" >&2; failed=$((failed + 1)); status=1
fi

note "AddressSanitizer + UndefinedBehaviorSanitizer build"
if configure_and_build "$builds/asan" -DCMAKE_BUILD_TYPE=Debug -DQUILLORY_SANITIZE=address,undefined; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "$builds/asan" asan
else
  echo "test-all: sanitizer build failed" >&2; failed=$((failed + 1)); status=1
fi

note "ThreadSanitizer: threaded tests"
present=()
for t in "${threaded_tests[@]}"; do
  [ -f "$builds/plain/tests/$t" ] && present+=("$t")
done
if [ ${#present[@]} -gt 0 ]; then
  if configure_and_build "$builds/tsan" -DCMAKE_BUILD_TYPE=Debug -DQUILLORY_SANITIZE=thread -- "${present[@]}"; then
    for t in "${present[@]}"; do
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_gtest "$builds/tsan/tests/$t" "tsan $t"
    done
  else
    echo "test-all: tsan build failed" >&2; failed=$((failed + 1)); status=1
  fi
fi

if [ -n "$fuzz_seconds" ]; then
  note "fuzzers, ${fuzz_seconds}s each"
  fuzz_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
             -DQUILLORY_FUZZ=ON -DQUILLORY_TESTS=OFF)
  fuzz_targets=()
  if cmake -S "$root" -B "$builds/fuzz" "${fuzz_args[@]}" >"$builds/fuzz.configure.log" 2>&1; then
    mapfile -t fuzz_targets < <(cmake --build "$builds/fuzz" --target help | sed -nE 's/^\.\.\. (fuzz_[A-Za-z0-9_]+).*/\1/p')
  fi
  if [ ${#fuzz_targets[@]} -eq 0 ]; then
    echo "test-all: no fuzz targets configured" >&2; failed=$((failed + 1)); status=1
  elif configure_and_build "$builds/fuzz" "${fuzz_args[@]}" -- "${fuzz_targets[@]}"; then
    for f in "$builds"/fuzz/tests/fuzz/fuzz_*; do
      [ -x "$f" ] || continue
      name=$(basename "$f")
      corpus="$builds/fuzz/corpus-$name"
      mkdir -p "$corpus"
      seeds="$root/tests/fuzz/corpus/${name#fuzz_}"
      [ -d "$seeds" ] || seeds=""
      if "$f" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
          "$corpus" ${seeds:+"$seeds"} >"$corpus.log" 2>&1; then
        echo "fuzz $name: clean ($(grep -E 'stat::number_of_executed_units' "$corpus.log" | awk '{print $2}') runs)"
        passed=$((passed + 1))
      else
        tail -n 40 "$corpus.log"
        echo "fuzz $name: FAILED" >&2
        failed=$((failed + 1)); status=1
      fi
    done
  else
    echo "test-all: fuzz build failed" >&2; failed=$((failed + 1)); status=1
  fi
fi

echo
echo "$passed passed, $failed failed"
exit $status
