#!/usr/bin/env bash
# Builds the Debian package theme-search_VERSION_ARCH.deb: installs the
# Debian packages needed, configures a Release build of its own (default
# build-package/, BUILD_DIR moves it), builds the two programs and runs
# cpack there. Prints the package's path; install it with
#   apt install ./build-package/theme-search_1.0.0_amd64.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-package}

"$here/scripts/install-deps.sh"
# cpack installs without building every target first: the programs are
# all the package holds.
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target crawler searchcgi
(cd "$build" && cpack -G DEB >"$build/cpack.log") || { cat "$build/cpack.log" >&2; exit 1; }
ls "$build"/theme-search_*.deb
