#!/usr/bin/env bash
# The one test command: installs the Debian packages, builds, starts the
# private MariaDB server (under build/db), runs every test, stops the server.
# Then builds again with AddressSanitizer + UndefinedBehaviorSanitizer and
# with ThreadSanitizer (build-asan/, build-tsan/) and runs the unit and
# database tests under each, and replays the fuzz targets' seed corpora
# (scripts/fuzz.sh 0). SE_SANITIZERS=0 skips the sanitized runs and the replay.
# Exits non-zero on any failure; the output ends with CTest's summary.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
jobs=$(nproc)

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"
# The private_db fixture starts and stops the server around the tests.
(cd "$build" && ctest --output-on-failure -j"$jobs" "$@")

if [ "${SE_SANITIZERS:-1}" = 1 ]; then
  for sanitizer in address thread; do
    sanitized="$build-${sanitizer:0:1}san"
    cmake -S "$here" -B "$sanitized" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DSE_SANITIZE="$sanitizer" >/dev/null
    cmake --build "$sanitized" -j"$jobs"
    echo "== unit and database tests under the $sanitizer sanitizer"
    (cd "$sanitized" &&
      LSAN_OPTIONS="suppressions=$here/tests/lsan.supp" ctest --output-on-failure -j"$jobs" -L 'unit|db')
  done
  echo "== fuzz targets on their seed corpora"
  FUZZ_BUILD_DIR="$build-fuzz" "$here/scripts/fuzz.sh" 0
fi
