#!/usr/bin/env bash
# The whole system on one machine, in one command:
#
#   ./demo.sh        install, build, start a private index database, serve the
#                    sample site (port 80) and the search page (port 8080),
#                    crawl the site, print what was indexed; the servers stay up
#   ./demo.sh stop   stop what the demo started (by its pid files)
#
# Everything lives under run/ (git ignores it); the index database is the
# demo's own, run/demo-db, apart from the user's (scripts/dbserver.sh's
# default). The demo wipes only a database server it started itself.
# Overrides, for the tests:
#   SE_DEMO_RUN_DIR     run directory            (default: run)
#   SE_DEMO_DB_DIR      private database dir     (default: run/demo-db)
#   BUILD_DIR           build tree               (default: build)
#   SE_DEMO_SKIP_BUILD  1: use the build tree as it is
#   SE_DEMO_QUIET_SECONDS  how long the crawl must stay idle to count as done
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
run=${SE_DEMO_RUN_DIR:-$here/run}
db=${SE_DEMO_DB_DIR:-$run/demo-db}
build=${BUILD_DIR:-$here/build}
quiet_seconds=${SE_DEMO_QUIET_SECONDS:-5}
crawl_limit_seconds=600
start_url=http://127.0.0.1/index.html
search_url=http://127.0.0.1:8080/

say() { printf 'demo: %s\n' "$*"; }
# shown PATH: PATH relative to the current directory when it lies below it
# (run/demo-db when the demo is started from the checkout), else as it is.
shown() { case $1 in "$PWD"/*) printf '%s' "${1#"$PWD"/}" ;; *) printf '%s' "$1" ;; esac; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

# pid_alive PIDFILE NAME: the pid file names a live process called NAME.
pid_alive() {
  [ -f "$1" ] || return 1
  local pid
  pid=$(cat "$1")
  [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$2" ]
}

# stop_pid PIDFILE NAME: ends the process of the pid file, if it is still NAME.
stop_pid() {
  if pid_alive "$1" "$2"; then
    local pid
    pid=$(cat "$1")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$1"
}

# The database server of $db runs; the demo started it when the pid it
# noted at start (demo.pid) is the server's.
db_running() { [ -f "$db/mysqld.pid" ] && kill -0 "$(cat "$db/mysqld.pid")" 2>/dev/null; }
db_started_by_demo() {
  [ -f "$db/demo.pid" ] && [ "$(cat "$db/demo.pid")" = "$(cat "$db/mysqld.pid" 2>/dev/null)" ]
}

stop_all() {
  stop_pid "$run/crawler.pid" crawler
  stop_pid "$run/lighttpd.pid" lighttpd
  if db_running && ! db_started_by_demo; then
    say "leaving the database server in $db running: the demo did not start it"
  elif [ -d "$db" ]; then
    "$here/scripts/dbserver.sh" stop "$db"
    rm -f "$db/demo.pid"
  fi
}

# port_free PORT: nothing listens on 127.0.0.1:PORT (nor on every address).
port_free() {
  python3 - "$1" <<'PY'
import errno, socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("127.0.0.1", int(sys.argv[1])))
except OSError as e:
    sys.exit(1 if e.errno == errno.EADDRINUSE else 2)
PY
}

check_ports() {
  local port status
  for port in 80 8080; do
    status=0
    port_free "$port" || status=$?
    case $status in
      0) ;;
      1) fail "port $port on 127.0.0.1 is already in use; stop the server that holds it and try again (nothing was started)" ;;
      *) fail "cannot open port $port on 127.0.0.1 (run the demo as root); nothing was started" ;;
    esac
  done
}

build_programs() {
  if [ "${SE_DEMO_SKIP_BUILD:-0}" != 1 ]; then
    "$here/scripts/install-deps.sh"
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target crawler searchcgi
  fi
  [ -x "$build/crawler/crawler" ] || fail "no crawler program in $build"
  [ -x "$build/searchcgi/searchcgi" ] || fail "no searchcgi program in $build"
}

# The served copy of the sample site, with its PDF made from the PostScript source.
prepare_site() {
  rm -rf "$run/site"
  cp -r "$here/demo/site" "$run/site"
  local ps
  while IFS= read -r ps; do
    ps2pdf "$ps" "${ps%.ps}.pdf"
  done < <(find "$run/site" -name '*.ps')
}

start_web_server() {
  export SE_DEMO_RUN=$run SE_DEMO_SITE=$run/site SE_DEMO_WWW=$here/demo/www
  export SE_DEMO_SEARCHCGI=$build/searchcgi/searchcgi
  lighttpd -tt -f "$here/demo/lighttpd.conf" >/dev/null
  setsid lighttpd -D -f "$here/demo/lighttpd.conf" </dev/null >"$run/lighttpd.out" 2>&1 &
  echo $! >"$run/lighttpd.pid"
  for _ in $(seq 1 100); do
    if curl -fs -o /dev/null http://127.0.0.1/index.html && curl -fs -o /dev/null "$search_url"; then
      return 0
    fi
    sleep 0.1
  done
  fail "lighttpd did not answer on ports 80 and 8080; see $run/lighttpd-error.log"
}

sql() { mariadb --no-defaults -S "$SE_DB_SOCKET" -u"$SE_DB_USER" -p"$SE_DB_PASSWORD" -N -B "$SE_DB_NAME" -e "$1"; }

# What changes while the crawler works: its logs and the index's row counts.
crawl_state() {
  stat -c %s "$run/crawl/crawler.log" "$run/crawl/crawler.out" 2>/dev/null || true
  sql "select (select count(*) from Url), (select count(*) from UrlInvalide), (select count(*) from CorrespMotUrl)"
}

# Runs the crawler on the sample site: types the start URL on its console,
# waits until logs and index have been idle for quiet_seconds, types "exit".
crawl() {
  local dir=$run/crawl
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$here/demo/engineconfig.cfg" "$here/demo/mots_theme.txt" "$dir/"
  mkfifo "$dir/console"
  (cd "$dir" && exec "$build/crawler/crawler" <console >crawler.out 2>crawler.log) &
  local pid=$!
  echo "$pid" >"$run/crawler.pid"
  trap '' PIPE
  exec 3>"$dir/console"
  say "crawling $start_url (log: $(shown "$dir/crawler.log"))"
  echo "$start_url" >&3

  local last="" now idle=0 waited=0
  while [ "$idle" -lt "$quiet_seconds" ]; do
    sleep 1
    waited=$((waited + 1))
    kill -0 "$pid" 2>/dev/null || { exec 3>&-; tail -5 "$dir/crawler.log" >&2; fail "the crawler stopped unexpectedly"; }
    [ "$waited" -lt "$crawl_limit_seconds" ] || { say "still crawling after $waited s; stopping it"; break; }
    now=$(crawl_state)
    if [ "$now" = "$last" ]; then idle=$((idle + 1)); else idle=0; last=$now; fi
  done

  echo exit >&3 || true
  exec 3>&-
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  stop_pid "$run/crawler.pid" crawler
  wait "$pid" 2>/dev/null || true
  trap - PIPE
}

report() {
  say "crawl finished:"
  printf '  pages fetched:  %s\n' "$(sql 'select count(*) from Url')"
  printf '  on-theme pages: %s\n' "$(sql 'select count(*) from Url where nbMotsTheme > 0')"
  printf '  keywords:       %s\n' "$(sql 'select count(*) from MotCle')"
  printf '  invalid URLs:   %s\n' "$(sql 'select count(*) from UrlInvalide')"
  # Each invalid URL with why it was given up, in a column of its own.
  sql "select i.url, coalesce(r.raison, '?') from UrlInvalide i
       left join UrlInvalideRaison r on r.url = i.url order by i.url" |
    awk -F '\t' '{ printf "    %-40s (%s)\n", $1, $2 }'
  say "search page: $search_url"
  say "sample site: http://127.0.0.1/"
  say "stop everything with: $0 stop"
}

start() {
  [ "$(id -u)" -eq 0 ] || fail "the demo serves port 80: run it as root (sudo $0)"
  if pid_alive "$run/lighttpd.pid" lighttpd; then
    fail "the demo is already running (search page: $search_url); stop it first with: $0 stop"
  fi
  if db_running && ! db_started_by_demo; then
    fail "a database server the demo did not start runs in $db, and the demo would wipe its index; stop it (scripts/dbserver.sh stop $db) or set SE_DEMO_DB_DIR to another directory (nothing was started)"
  fi
  check_ports
  mkdir -p "$run"
  run=$(cd "$run" && pwd)
  build_programs
  build=$(cd "$build" && pwd)

  trap 'status=$?; if [ $status -ne 0 ]; then stop_all; fi' EXIT
  say "starting the private index database in $(shown "$db")"
  "$here/scripts/dbserver.sh" reset "$db" >/dev/null
  cp "$db/mysqld.pid" "$db/demo.pid"
  eval "$("$here/scripts/dbserver.sh" env "$db")"
  prepare_site
  say "starting lighttpd: site on http://127.0.0.1/, search on $search_url"
  start_web_server
  crawl
  report
}

case "${1:-start}" in
  start) start ;;
  stop) stop_all; say "stopped" ;;
  *) echo "usage: $0 [start|stop]" >&2; exit 2 ;;
esac
