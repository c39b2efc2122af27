#!/usr/bin/env bash
# The test command: installs the Debian packages, builds into build/ and runs
# every test (the tests start and stop their private MariaDB server under
# build/db themselves).
#
#   scripts/test.sh [--all] [CTEST ARGUMENTS...]
#
# --all (what CI runs) then builds the unit and database tests again with
# AddressSanitizer + UndefinedBehaviorSanitizer and with ThreadSanitizer
# (build-asan/, build-tsan/; only the test binaries and the programs they
# run), runs them (CTest labels unit and db) under each, and replays the
# fuzz targets' seed corpora (scripts/fuzz.sh 0). Other arguments go to the
# plain run's ctest. Exits non-zero on any failure.
#
# CTest runs SE_TEST_JOBS tests at a time (default: three per processor):
# the end-to-end tests spend most of their time waiting on servers and
# timers, each in a network namespace and a database of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
all=0
if [ "${1:-}" = --all ]; then
  all=1
  shift
fi
jobs=$(nproc)
test_jobs=${SE_TEST_JOBS:-$((jobs * 3))}

# seconds_since START: whole seconds from START (a date +%s) to now.
seconds_since() { echo $(($(date +%s) - $1)); }

"$here/scripts/install-deps.sh"
started=$(date +%s)
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"
echo "== built in $(seconds_since "$started") s"
(cd "$build" && ctest --output-on-failure -j"$test_jobs" "$@")

if [ "$all" = 1 ]; then
  for sanitizer in address thread; do
    sanitized="$build-${sanitizer:0:1}san"
    started=$(date +%s)
    cmake -S "$here" -B "$sanitized" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DSE_SANITIZE="$sanitizer" >/dev/null
    cmake --build "$sanitized" -j"$jobs" --target unit_db_tests
    echo "== unit and database tests under the $sanitizer sanitizer (built in $(seconds_since "$started") s)"
    (cd "$sanitized" &&
      LSAN_OPTIONS="suppressions=$here/tests/lsan.supp" ctest --output-on-failure -j"$jobs" -L 'unit|db')
  done
  echo "== fuzz targets on their seed corpora"
  FUZZ_BUILD_DIR="$build-fuzz" "$here/scripts/fuzz.sh" 0
fi
