#!/usr/bin/env bash
# The test command: installs the Debian packages, builds into build/ and runs
# every test (the tests start and stop their private MariaDB server under
# build/db themselves), the fuzz targets' seed corpora among them.
#
#   scripts/test.sh [--all] [CTEST ARGUMENTS...]
#
# --all (what CI runs) then builds the unit and database tests again with
# AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/) and runs them
# (CTest labels unit and db, the seed corpora included), and builds and runs
# the tests of threaded code with ThreadSanitizer (build-tsan/, label
# threads; built while the first sanitized tests run, its output in
# build-tsan.log). Sanitized trees build only those tests and the programs they
# run, unoptimised and with line tables only: they compile in half the time
# and still report file and line. Other arguments go to the plain run's
# ctest. Exits non-zero on any failure.
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

# configure DIR [CMAKE ARGUMENTS...]: a build tree in DIR, with Ninja unless
# DIR was configured before with another generator.
configure() {
  local dir=$1
  shift
  local generator=()
  [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
  cmake "${generator[@]}" -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

started=$(date +%s)
configure "$build"
cmake --build "$build" -j"$jobs"
echo "== built in $(seconds_since "$started") s"
(cd "$build" && ctest --output-on-failure -j"$test_jobs" "$@")

if [ "$all" = 1 ]; then
  # build_sanitized SANITIZER TARGET: builds TARGET in the tree of
  # SANITIZER, unoptimised and with line tables only.
  build_sanitized() {
    local dir="$build-${1:0:1}san"
    configure "$dir" -DSE_SANITIZE="$1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g1 -DNDEBUG"
    cmake --build "$dir" -j"$jobs" --target "$2"
  }
  # run_sanitized SANITIZER LABELS: runs the tests whose labels match LABELS
  # in the tree of SANITIZER.
  run_sanitized() {
    echo "== tests labelled $2 under the $1 sanitizer"
    (cd "$build-${1:0:1}san" &&
      LSAN_OPTIONS="suppressions=$here/tests/lsan.supp" ctest --output-on-failure -j"$test_jobs" -L "$2")
  }

  started=$(date +%s)
  build_sanitized address unit_db_tests
  echo "== built with the address sanitizer in $(seconds_since "$started") s"
  # The ThreadSanitizer tree builds at the lowest priority while the
  # AddressSanitizer tests run, which mostly wait on the database server.
  thread_log="$build-tsan.log"
  (renice -n 19 "$BASHPID" >/dev/null && build_sanitized thread thread_tests) >"$thread_log" 2>&1 &
  thread_build=$!
  trap 'kill "$thread_build" 2>/dev/null || true' EXIT
  run_sanitized address 'unit|db'
  if ! wait "$thread_build"; then
    cat "$thread_log"
    echo "== the thread sanitizer build failed" >&2
    exit 1
  fi
  echo "== built with the thread sanitizer ($thread_log)"
  run_sanitized thread threads
fi
