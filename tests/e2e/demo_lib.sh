# Shared by the end-to-end tests: runs the demo of SRC with the programs of
# BUILD in a private network namespace (ports 80 and 8080 are free there and
# nothing else on the machine is touched), with its run and database
# directories under WORK.
#
#   source demo_lib.sh; demo_in_namespace SRC BUILD WORK "$0" "$@"
#
# The first call re-executes the calling test inside a new network namespace
# and does not return; inside it, brings up the loopback interface, starts
# the demo (database, lighttpd, crawl) and arranges for it to be stopped
# when the test exits.
export LC_ALL=C

demo_in_namespace() {
  local src=$1 build=$2 work=$3
  shift 3
  if [ -z "${SE_E2E_NETNS:-}" ]; then
    exec env SE_E2E_NETNS=1 unshare -n -- "$@"
  fi
  ip link set lo up
  mkdir -p "$work"
  export SE_DEMO_RUN_DIR=$work/run SE_DEMO_DB_DIR=$work/db BUILD_DIR=$build
  export SE_DEMO_SKIP_BUILD=1
  # Leftovers of an aborted earlier run live in another namespace: stop them.
  "$src/demo.sh" stop >/dev/null 2>&1 || true
  demo_src=$src
  trap stop_demo EXIT
  "$src/demo.sh" | tee "$work/demo.out"
}

stop_demo() { "$demo_src/demo.sh" stop >/dev/null 2>&1 || true; }

failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports a failure
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
  echo "all checks passed"
}
