#!/usr/bin/env bash
# The one test command: installs the Debian packages, builds, starts the
# private MariaDB server (under build/db), runs every test, stops the server.
# Exits non-zero on any failure; the output ends with CTest's summary.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# The private_db fixture starts and stops the server around the tests.
ctest --output-on-failure -j"$(nproc)" "$@"
