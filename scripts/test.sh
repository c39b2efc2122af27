#!/usr/bin/env bash
# The test command: installs the Debian packages, builds into build/ and runs
# every test (the tests start and stop their private MariaDB server under
# build/db themselves), the fuzz targets' seed corpora among them.
#
#   scripts/test.sh [--all] [CTEST ARGUMENTS...]
#
# --all (what CI runs) runs every test too, the unit and database tests
# (the seed corpora among them) under AddressSanitizer +
# UndefinedBehaviorSanitizer (build-asan/) instead of in the plain tree,
# which then has only the programs and the end-to-end tests; and the tests
# of threaded code again under ThreadSanitizer (build-tsan/, label
# threads). Each sanitized tree builds only the tests it runs and the
# programs they run, unoptimised and with line tables only (half the
# compile time, and reports still give file and line), at the lowest
# priority while the tests before it run; its output goes to the tree's
# build.log. Other arguments go to the plain run's ctest. Exits non-zero on
# any failure.
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
whole=$(date +%s)

# configure DIR [CMAKE ARGUMENTS...]: a build tree in DIR, with Ninja unless
# DIR was configured before with another generator.
configure() {
  local dir=$1
  shift
  local generator=()
  [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
  cmake "${generator[@]}" -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# tree_of SANITIZER: the build tree of SANITIZER (build-asan, build-tsan).
tree_of() { echo "$build-${1:0:1}san"; }
# build_sanitized SANITIZER TARGET: builds TARGET in the tree of SANITIZER,
# unoptimised and with line tables only, at the lowest priority (it runs
# beside tests, which mostly wait on servers and timers).
build_sanitized() {
  local dir
  dir=$(tree_of "$1")
  renice -n 19 "$BASHPID" >/dev/null
  configure "$dir" -DSE_SANITIZE="$1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g1 -DNDEBUG"
  cmake --build "$dir" -j"$jobs" --target "$2"
}
# start_sanitized SANITIZER TARGET: build_sanitized in the background, in a
# process group of its own that an early exit stops whole, its output in the
# tree's build.log; its process id in $building.
start_sanitized() {
  mkdir -p "$(tree_of "$1")"
  set -m
  (build_sanitized "$@") >"$(tree_of "$1")/build.log" 2>&1 &
  building=$!
  set +m
  trap 'kill -- -"$building" 2>/dev/null || true' EXIT
}
# finish_sanitized SANITIZER: waits for the build start_sanitized began;
# shows its output and fails if it failed.
finish_sanitized() {
  local log
  log="$(tree_of "$1")/build.log"
  if ! wait "$building"; then
    cat "$log"
    echo "== the $1 sanitizer build failed" >&2
    exit 1
  fi
  echo "== built with the $1 sanitizer ($log)"
}
# run_sanitized SANITIZER LABELS: runs the tests whose labels match LABELS
# in the tree of SANITIZER.
run_sanitized() {
  echo "== tests labelled $2 under the $1 sanitizer"
  (cd "$(tree_of "$1")" &&
    LSAN_OPTIONS="suppressions=$here/tests/lsan.supp" ctest --output-on-failure -j"$test_jobs" -L "$2")
}

started=$(date +%s)
if [ "$all" = 1 ]; then
  # The unit and database tests run in the sanitized trees instead: the
  # plain tree has the programs and the end-to-end tests, which run while
  # the AddressSanitizer tree builds.
  configure "$build" -DSE_UNIT_DB_TESTS=OFF
else
  configure "$build" -DSE_UNIT_DB_TESTS=ON
fi
cmake --build "$build" -j"$jobs"
echo "== built in $(seconds_since "$started") s"
[ "$all" = 0 ] || start_sanitized address unit_db_tests
(cd "$build" && ctest --output-on-failure -j"$test_jobs" "$@")

if [ "$all" = 1 ]; then
  finish_sanitized address
  start_sanitized thread thread_tests
  run_sanitized address 'unit|db'
  finish_sanitized thread
  run_sanitized thread threads
  echo "== everything in $(seconds_since "$whole") s"
fi
