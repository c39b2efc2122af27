#!/usr/bin/env bash
# Runs a private MariaDB server for tests and local use: its own data
# directory, socket and pid file under DIR. It never touches the machine's
# system service. The default DIR is the user's own index,
# ${XDG_DATA_HOME:-~/.local/share}/theme_search/db, apart from the demo's
# (run/demo-db) and the tests' (build/db), which always name theirs.
#
#   scripts/dbserver.sh start [DIR]   initialise if needed, start, wait, load schema
#   scripts/dbserver.sh stop  [DIR]   stop the server started from DIR (pid file)
#   scripts/dbserver.sh reset [DIR]   stop, delete the data, start afresh
#   scripts/dbserver.sh env   [DIR]   print the SE_DB_* exports for this server
#
# start and reset say what they did and the line that points both programs
# at the server: eval "$(scripts/dbserver.sh env DIR)".
#
# The server listens on its socket only (no TCP port), so several private
# servers can run side by side. SE_DBSERVER_ARGS adds server options when it
# starts (a larger buffer pool for benchmarks; a TCP port, a server id and a
# binary log for replication, with --skip-networking=0).
# SE_DB_BUFFER_POOL sets the InnoDB buffer pool (32M by default, small for
# tests; the crawl benchmark uses the server's default, 128M).
# SE_DB_DEFAULTS_FILE (for example /etc/mysql/my.cnf) starts the server with
# the settings of that option file instead of the small private ones; only
# the data directory, socket, pid file and logs stay private.
set -euo pipefail

cmd=${1:-}
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${2:-}" ]; then
  dir=$2
else
  [ -n "${XDG_DATA_HOME:-}" ] || [ -n "${HOME:-}" ] ||
    { echo "$0: neither XDG_DATA_HOME nor HOME is set: name the directory" >&2; exit 2; }
  dir=${XDG_DATA_HOME:-$HOME/.local/share}/theme_search/db
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
data=$dir/data
sock=$dir/mysqld.sock
pidfile=$dir/mysqld.pid
log=$dir/mysqld.log
schema=$here/index/schema.sql

mysqld_bin=$(command -v mariadbd || command -v mysqld || echo /usr/sbin/mariadbd)
[ -x "$mysqld_bin" ] || mysqld_bin=/usr/sbin/mariadbd
install_db=$(command -v mariadb-install-db || command -v mysql_install_db || true)
client=$(command -v mariadb || command -v mysql)

# The server refuses to run as root unless told which user to be.
user_opt=()
if [ "$(id -u)" -eq 0 ]; then user_opt=(--user=root); fi

running() {
  [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null
}

root_sql() { "$client" --no-defaults --protocol=socket -S "$sock" -uroot "$@"; }

# tell WHAT: what was done, where the server is, and how to use it.
tell() {
  echo "dbserver: $1 in $dir"
  echo "  socket $sock, database search_engine, user se_user"
  echo "point both programs at it with:"
  printf '  eval "$(%s env %q)"\n' "$0" "$dir"
}

start() {
  if running; then
    started="already running"
    return 0
  fi
  started="started the private MariaDB server"
  # Temporary tables (of big sorts, and of the installation) go to a
  # directory of the server's own, where nothing else on the machine cleans.
  mkdir -p "$dir/tmp"
  export TMPDIR=$dir/tmp
  if [ ! -d "$data/mysql" ]; then
    mkdir -p "$data"
    "$install_db" --no-defaults "${user_opt[@]}" --datadir="$data" \
      --auth-root-authentication-method=socket --skip-test-db >"$dir/install.log" 2>&1 ||
      { cat "$dir/install.log" >&2; exit 1; }
  fi
  local extra=() settings
  read -r -a extra <<<"${SE_DBSERVER_ARGS:-}"
  if [ -n "${SE_DB_DEFAULTS_FILE:-}" ]; then
    settings=(--defaults-file="$SE_DB_DEFAULTS_FILE")
  else
    settings=(--no-defaults --innodb-buffer-pool-size="${SE_DB_BUFFER_POOL:-32M}"
      --innodb-log-file-size=16M)
  fi
  # The server outlives this script: it must not keep any descriptor of its
  # caller (a lock file held around a test run, a pipe someone waits on).
  (
    for fd in /proc/self/fd/*; do
      n=${fd##*/}
      if [ "$n" -gt 2 ] 2>/dev/null; then eval "exec $n>&-" 2>/dev/null || true; fi
    done
    exec "$mysqld_bin" "${settings[@]}" "${user_opt[@]}" --datadir="$data" --socket="$sock" \
      --pid-file="$pidfile" --skip-networking --log-error="$log" --tmpdir="$dir/tmp" \
      --character-set-server=latin1 --collation-server=latin1_swedish_ci \
      --max-connections=200 "${extra[@]}" </dev/null >/dev/null 2>&1
  ) &
  for _ in $(seq 1 300); do
    if root_sql -e 'select 1' >/dev/null 2>&1; then break; fi
    sleep 0.1
  done
  root_sql -e 'select 1' >/dev/null || { echo "private MariaDB did not start; see $log" >&2; tail -20 "$log" >&2; exit 1; }
  root_sql <<SQL
CREATE DATABASE IF NOT EXISTS search_engine CHARACTER SET latin1;
CREATE USER IF NOT EXISTS 'se_user'@'localhost' IDENTIFIED BY 'sesame_word';
GRANT ALL PRIVILEGES ON *.* TO 'se_user'@'localhost';
FLUSH PRIVILEGES;
SQL
  root_sql search_engine <"$schema"
}

stop() {
  if ! running; then rm -f "$pidfile"; return 0; fi
  local pid
  pid=$(cat "$pidfile")
  kill "$pid"
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then kill -9 "$pid"; fi
  rm -f "$pidfile"
}

case "$cmd" in
  start) start; tell "$started" ;;
  stop) stop ;;
  reset) stop; rm -rf "$data"; start; tell "started the private MariaDB server with an empty index" ;;
  env)
    echo "export SE_DB_SOCKET=$sock SE_DB_HOST=localhost SE_DB_NAME=search_engine SE_DB_USER=se_user SE_DB_PASSWORD=sesame_word"
    ;;
  *) echo "usage: $0 start|stop|reset|env [DIR]" >&2; exit 2 ;;
esac
