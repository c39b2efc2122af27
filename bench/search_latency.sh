#!/usr/bin/env bash
# Search latency and load, through lighttpd, in CGI and in FastCGI mode:
#
#   bench/search_latency.sh [PAGES...]      (default: 10000 30000; as root)
#
# Builds the Release tree build-bench/, starts a private MariaDB under
# build-bench/benchdb, and for each index size fills it with
# bench/index_generator. The queries use words drawn uniformly from the index's
# 1,000 most frequent words: single-word, two-word, exclusion (a word and an
# excluded word) and page-2 (single word, second page). One client measures
# each kind for SE_BENCH_SECONDS (default 10) in each mode; at the first size,
# 50 clients then load the server for SE_BENCH_LOAD_SECONDS (default 30) in
# each mode, every reply checked against the same query's reply fetched alone,
# on single-word queries of the plain page, then on two-word queries of the
# HTML view.
# The index holds Document rows too (index_generator --documents), so the
# single-word and two-word queries are also measured in the HTML view
# (/html: titles and excerpts) and the JSON view (/json): the difference
# with the plain page is what the excerpts cost. SE_BENCH_MODES (default
# "cgi fastcgi") chooses the modes measured. SE_BENCH_REUSE_INDEX=1 keeps
# the index an earlier run left (one size only) instead of generating it.
# SE_BENCH_STATEMENT_LOG=1 has the server log every statement with its time,
# a log a kind measured with one client
# (build-bench/searchbench/statements-MODE-KIND.log), and prints where each
# kind's server time goes (bench/statement_profile.py, per request); writing
# the log slows every statement, so the latencies of such a run are not
# comparable with others.
# Runs in a network namespace of its own: only loopback is used.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$here/build-bench}
seconds=${SE_BENCH_SECONDS:-10}
load_seconds=${SE_BENCH_LOAD_SECONDS:-30}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 30000)

if [ -z "${SE_BENCH_NETNS:-}" ]; then
  "$here/scripts/install-deps.sh"
  cmake -S "$here" -B "$build" -DBUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target searchcgi index_generator search_load
  exec env SE_BENCH_NETNS=1 unshare -n -- "$0" "${sizes[@]}"
fi
ip link set lo up

work=$build/searchbench
db=$build/benchdb
mkdir -p "$work"
export SE_DBSERVER_ARGS="--innodb-buffer-pool-size=4G --innodb-log-file-size=512M --innodb-flush-log-at-trx-commit=0"
if [ "${SE_BENCH_REUSE_INDEX:-0}" = 1 ]; then
  "$here/scripts/dbserver.sh" start "$db" >/dev/null
else
  "$here/scripts/dbserver.sh" reset "$db" >/dev/null
fi
eval "$("$here/scripts/dbserver.sh" env "$db")"
lighttpd_pid=
cleanup() {
  [ -n "$lighttpd_pid" ] && kill "$lighttpd_pid" 2>/dev/null && wait "$lighttpd_pid" 2>/dev/null
  "$here/scripts/dbserver.sh" stop "$db"
}
trap cleanup EXIT

sql() { mariadb --no-defaults -S "$SE_DB_SOCKET" -u"$SE_DB_USER" -p"$SE_DB_PASSWORD" -N -B "$SE_DB_NAME" -e "$1"; }
root_sql() { mariadb --no-defaults -S "$SE_DB_SOCKET" -uroot -N -B -e "$1"; }

# With SE_BENCH_STATEMENT_LOG=1, every statement goes to the slow query log.
# A session takes the log's switch when it connects, so it is on before
# searchcgi connects; each kind then names its own file (statement_log).
if [ "${SE_BENCH_STATEMENT_LOG:-0}" = 1 ]; then
  root_sql "set global log_slow_filter = '', long_query_time = 0,
       slow_query_log_file = '$work/statements-warm-up.log', slow_query_log = 1"
fi
statement_log() {
  [ "${SE_BENCH_STATEMENT_LOG:-0}" = 1 ] || return 0
  rm -f "$work/statements-$1.log"
  root_sql "set global slow_query_log_file = '$work/statements-$1.log'"
}
# Prints where the server's time went for the requests of the kind just
# measured (its load's output in $1).
statement_profile() {
  [ "${SE_BENCH_STATEMENT_LOG:-0}" = 1 ] || return 0
  local requests
  requests=$(sed -n 's/^requests \([0-9]*\).*/\1/p' <<<"$1")
  root_sql "set global slow_query_log_file = '$work/statements-warm-up.log'"
  python3 "$here/bench/statement_profile.py" "$work/statements-$2.log" \
    --per "${requests:-1}" --top 8
}

# lighttpd serving searchcgi on 127.0.0.1:8080 in MODE (cgi or fastcgi).
start_lighttpd() {
  local mode=$1 conf=$work/$1.conf
  {
    echo 'server.bind = "127.0.0.1"'
    echo 'server.port = 8080'
    echo "server.document-root = \"$work\""
    echo "server.errorlog = \"$work/$mode-error.log\""
    echo 'server.max-connections = 256'
    if [ "$mode" = cgi ]; then
      echo 'server.modules = ( "mod_alias", "mod_setenv", "mod_cgi" )'
      echo "alias.url = ( \"/cgi-bin/searchcgi\" => \"$build/searchcgi/searchcgi\" )"
      echo '$HTTP["url"] =~ "^/cgi-bin/searchcgi" { cgi.assign = ( "" => "" ) }'
      echo "setenv.set-environment = ( \"SE_DB_SOCKET\" => \"$SE_DB_SOCKET\", \"PATH\" => \"/usr/bin:/bin\" )"
    else
      echo 'server.modules = ( "mod_fastcgi" )'
      echo "fastcgi.server = ( \"/cgi-bin/searchcgi\" => ( ( \"socket\" => \"$work/searchcgi.socket\","
      echo "  \"bin-path\" => \"$build/searchcgi/searchcgi\", \"max-procs\" => 4, \"check-local\" => \"disable\","
      echo "  \"bin-environment\" => ( \"SE_DB_SOCKET\" => \"$SE_DB_SOCKET\", \"PATH\" => \"/usr/bin:/bin\" ),"
      echo '  "bin-copy-environment" => ( "" ) ) ) )'
    fi
  } >"$conf"
  lighttpd -D -f "$conf" &
  lighttpd_pid=$!
  for _ in $(seq 1 100); do
    curl -fs -o /dev/null "http://127.0.0.1:8080/cgi-bin/searchcgi?keyword=x&page=1" && return 0
    sleep 0.1
  done
  echo "lighttpd did not start in $mode mode" >&2
  exit 1
}

stop_lighttpd() {
  kill "$lighttpd_pid"
  wait "$lighttpd_pid" 2>/dev/null || true
  lighttpd_pid=
}

# Query files from the 1,000 most frequent words, in a fixed random order.
write_queries() {
  sql "select M.mot from MotCle M, CorrespMotUrl C where C.idMot=M.idMot group by M.idMot
       order by count(*) desc, M.mot limit 1000" >"$work/top.txt"
  shuf --random-source=<(yes) "$work/top.txt" >"$work/a.txt"
  shuf --random-source=<(yes 1) "$work/top.txt" >"$work/b.txt"
  sed 's/.*/keyword=&\&page=1/' "$work/a.txt" >"$work/single.txt"
  paste -d+ "$work/a.txt" "$work/b.txt" | sed 's/.*/keyword=&\&page=1/' >"$work/two.txt"
  paste -d+ "$work/a.txt" <(sed 's/^/-/' "$work/b.txt") | sed 's/.*/keyword=&\&page=1/' >"$work/exclusion.txt"
  sed 's/.*/keyword=&\&page=2/' "$work/a.txt" >"$work/page2.txt"
}

load() { "$build/bench/search_load" 8080 /cgi-bin/searchcgi "$@"; }
load_view() { local view=$1; shift; "$build/bench/search_load" 8080 "/cgi-bin/searchcgi/$view" "$@"; }
# Measures one kind (named $1) with the load command that follows, its
# statements logged apart when asked.
measure() {
  local kind=$1 output
  shift
  statement_log "$kind"
  output=$("$@" || true)
  echo "$output"
  statement_profile "$output" "$kind"
}

first=1
for pages in "${sizes[@]}"; do
  echo "== $pages pages"
  if [ "${SE_BENCH_REUSE_INDEX:-0}" != 1 ]; then
    started=$SECONDS
    "$build/bench/index_generator" "$pages" "$work/tables" --documents
    echo "generated and loaded in $((SECONDS - started)) s"
  fi
  sql "select concat('index: ', round(sum(data_length + index_length) / 1048576), ' MiB, ',
       round(sum(data_length + index_length) / 1024 / $pages, 1), ' KiB a page')
       from information_schema.tables where table_schema = database()"
  write_queries
  for mode in ${SE_BENCH_MODES:-cgi fastcgi}; do
    start_lighttpd "$mode"
    for kind in single two exclusion page2; do
      load "$work/$kind.txt" 10 1 >/dev/null || true  # warm-up
      printf '%-8s %-10s ' "$mode" "$kind"
      measure "$mode-$kind" load "$work/$kind.txt" 1 "$seconds"
    done
    for view in html json; do
      for kind in single two; do
        load_view "$view" "$work/$kind.txt" 10 1 >/dev/null || true  # warm-up
        printf '%-8s %-10s ' "$mode" "$kind-$view"
        measure "$mode-$kind-$view" load_view "$view" "$work/$kind.txt" 1 "$seconds"
      done
    done
    if [ "$first" = 1 ]; then
      printf '%-8s %-10s ' "$mode" "load-50"
      load "$work/single.txt" 50 "$load_seconds" --check || true
      printf '%-8s %-10s ' "$mode" "load-50-html"
      load_view html "$work/two.txt" 50 "$load_seconds" --check || true
    fi
    stop_lighttpd
  done
  first=0
done
