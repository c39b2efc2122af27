#!/usr/bin/env bash
# The demo in a real browser: headless Chromium, driven by playwright-core,
# opens the search form, searches, follows "Suivant" (the next page) and saves screenshots
# under BUILD_DIR/e2e/browser.
#
#   browser_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
work=$build/e2e/browser

# The driver comes from the npm registry; install it before the test leaves
# the machine's network. A failure here fails the test.
if [ -z "${SE_E2E_NETNS:-}" ]; then
  [ -x /usr/bin/chromium ] || { echo "no /usr/bin/chromium: run scripts/install-deps.sh" >&2; exit 1; }
  if [ ! -f "$work/node/node_modules/playwright-core/package.json" ]; then
    mkdir -p "$work/node"
    npm install --prefix "$work/node" --no-audit --no-fund --loglevel=error playwright-core@1
  fi
fi

source "$src/tests/e2e/demo_lib.sh"
demo_in_namespace "$src" "$build" "$work" "$0" "$@"

rm -f "$work"/*.png
NODE_PATH=$work/node/node_modules node "$src/tests/e2e/browser_search.js" "$work"
