#!/usr/bin/env bash
# Search latency against htsearch (ht://Dig, Debian package htdig) on the
# same site, crawled by both systems:
#
#   bench/htsearch_compare.sh [PAGES]          (default 2000; as root)
#
# index_generator writes a site of PAGES generated pages (Zipf-distributed
# words, 300 distinct words on each on-theme page, chained by links); lighttpd
# serves it on 127.0.0.1:80. Our crawler indexes it into a private database,
# htdig into a database of its own. lighttpd then serves, on port 8080,
# searchcgi through FastCGI and as a CGI program, and htsearch as a CGI
# program; one client sends single-word queries of words drawn from the
# index's 1,000 most frequent words to each for SE_BENCH_SECONDS (default 10)
# and the median, p95 and p99 are printed. Runs in a network namespace and a
# mount namespace of its own (htsearch reads /etc/htdig/htdig.conf: the
# benchmark's configuration is mounted over it there, the machine's file is
# never changed). SE_BENCH_KEEP_INDEX=1 keeps the site and our index of an
# earlier run (our crawl of 2,000 pages takes minutes) and crawls with htdig
# only.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$here/build-bench}
pages=${1:-2000}
seconds=${SE_BENCH_SECONDS:-10}

if [ -z "${SE_BENCH_NETNS:-}" ]; then
  SE_WITH_BENCH=1 "$here/scripts/install-deps.sh"
  cmake -S "$here" -B "$build" -DBUILD_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target crawler searchcgi index_generator search_load
  exec env SE_BENCH_NETNS=1 unshare -n -m -- "$0" "$pages"
fi
ip link set lo up

work=$build/htsearchbench
db=$build/htsearchdb
keep=${SE_BENCH_KEEP_INDEX:-0}
if [ "$keep" = 1 ]; then
  rm -rf "$work/crawl" "$work/htdig"
  "$here/scripts/dbserver.sh" start "$db" >/dev/null
else
  rm -rf "$work"
  "$here/scripts/dbserver.sh" reset "$db" >/dev/null
fi
mkdir -p "$work/crawl" "$work/htdig/db"
eval "$("$here/scripts/dbserver.sh" env "$db")"
lighttpd_pid=
crawler_pid=
cleanup() {
  [ -n "$crawler_pid" ] && kill "$crawler_pid" 2>/dev/null
  [ -n "$lighttpd_pid" ] && kill "$lighttpd_pid" 2>/dev/null && wait "$lighttpd_pid" 2>/dev/null
  "$here/scripts/dbserver.sh" stop "$db"
}
trap cleanup EXIT
sql() { mariadb --no-defaults -S "$SE_DB_SOCKET" -u"$SE_DB_USER" -p"$SE_DB_PASSWORD" -N -B "$SE_DB_NAME" -e "$1"; }

# The site (the generator also fills the index directly: emptied again, so
# that the index is the crawler's own).
if [ "$keep" != 1 ]; then
  "$build/bench/index_generator" "$pages" "$work/tables" "$work/site" >/dev/null
  "$here/scripts/dbserver.sh" reset "$db" >/dev/null
fi

cat >"$work/lighttpd.conf" <<EOF
server.bind = "127.0.0.1"
server.port = 80
server.document-root = "$work/site"
server.errorlog = "$work/lighttpd-error.log"
server.max-connections = 256
index-file.names = ( "index.html" )
server.modules = ( "mod_alias", "mod_setenv", "mod_cgi", "mod_fastcgi" )
mimetype.assign = ( ".html" => "text/html; charset=iso-8859-1" )
\$SERVER["socket"] == "127.0.0.1:8080" {
  server.document-root = "$work"
  alias.url = ( "/cgi-bin/searchcgi" => "$build/searchcgi/searchcgi",
                "/cgi-bin/htsearch" => "/usr/lib/cgi-bin/htsearch" )
  \$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ( "" => "" ) }
  setenv.set-environment = ( "SE_DB_SOCKET" => "$SE_DB_SOCKET", "PATH" => "/usr/bin:/bin" )
  fastcgi.server = ( "/fcgi/searchcgi" => ( ( "socket" => "$work/searchcgi.socket",
    "bin-path" => "$build/searchcgi/searchcgi", "max-procs" => 2, "check-local" => "disable",
    "bin-environment" => ( "SE_DB_SOCKET" => "$SE_DB_SOCKET", "PATH" => "/usr/bin:/bin" ),
    "bin-copy-environment" => ( "" ) ) ) )
}
EOF
lighttpd -D -f "$work/lighttpd.conf" &
lighttpd_pid=$!
for _ in $(seq 1 100); do curl -fs -o /dev/null http://127.0.0.1/index.html && break; sleep 0.1; done

# Our crawl: the whole chain, until the index has stopped growing for 5 s.
crawl_ours() {
printf '1\n0\n// types\nhtml\n// site\n"http://127.0.0.1/"\nthemes.txt\n' >"$work/crawl/engineconfig.cfg"
echo "rucher 1" >"$work/crawl/themes.txt"
mkfifo "$work/crawl/console"
(cd "$work/crawl" && exec "$build/crawler/crawler" <console >crawler.out 2>crawler.log) &
crawler_pid=$!
exec 3>"$work/crawl/console"
start=$(date +%s)
echo "http://127.0.0.1/index.html" >&3
last=-1 idle=0
while [ "$idle" -lt 5 ]; do
  sleep 1
  now=$(sql "select count(*) from Url")
  if [ "$now" = "$last" ]; then idle=$((idle + 1)); else idle=0; last=$now; fi
done
echo exit >&3
exec 3>&-
wait "$crawler_pid" || true
crawler_pid=
echo "our crawl: $(sql 'select count(*) from Url') pages in $(($(date +%s) - start - 5)) s"
}
if [ "$keep" != 1 ]; then crawl_ours; fi

# ht://Dig's crawl of the same site, with its configuration mounted where
# htsearch looks for it.
cp /etc/htdig/htdig.conf "$work/htdig/base.conf"
cat >"$work/htdig/htdig.conf" <<EOF
include: $work/htdig/base.conf
database_dir: $work/htdig/db
start_url: http://127.0.0.1/index.html
limit_urls_to: http://127.0.0.1/
matches_per_page: 15
EOF
mount --bind "$work/htdig/htdig.conf" /etc/htdig/htdig.conf
start=$(date +%s)
htdig -i -c /etc/htdig/htdig.conf
htpurge -c /etc/htdig/htdig.conf >/dev/null 2>&1 || true
echo "htdig crawl: $(($(date +%s) - start)) s, $(htstat -c /etc/htdig/htdig.conf 2>/dev/null | grep -i 'documents' | head -1)"

sql "select M.mot from MotCle M, CorrespMotUrl C where C.idMot=M.idMot group by M.idMot
     order by count(*) desc, M.mot limit 1000" | shuf --random-source=<(yes) >"$work/top.txt"
sed 's/.*/keyword=&\&page=1/' "$work/top.txt" >"$work/ours.txt"
sed 's/.*/words=&/' "$work/top.txt" >"$work/htsearch.txt"

measure() {  # measure NAME PATH QUERIES
  "$build/bench/search_load" 8080 "$2" "$3" 1 2 >/dev/null || true  # warm-up
  printf '%-18s ' "$1"
  "$build/bench/search_load" 8080 "$2" "$3" 1 "$seconds" || true
}
echo "single-word queries, one client, $pages-page site"
measure "ours, FastCGI" /fcgi/searchcgi "$work/ours.txt"
measure "ours, CGI" /cgi-bin/searchcgi "$work/ours.txt"
measure "htsearch (CGI)" /cgi-bin/htsearch "$work/htsearch.txt"
