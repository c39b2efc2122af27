#!/usr/bin/env bash
# Crawls a real documentation site installed from a Debian package, served
# by lighttpd on 127.0.0.1:80 inside a network namespace of its own, and
# prints what the crawl did: requests and dead URLs (from lighttpd's access
# log), pages fetched, pages on theme, and searches for the given words.
# Run as root; the private index server is started under RUN_DIR/db.
#
#   bench/real_sites.sh NAME DOCROOT START_PATH THEME_FILE [EXTRA_START_URL...]
#
# e.g. (after apt-get install debian-faq debian-faq-fr debian-reference-fr):
#   printf 'debian 0\npackage 2\npackages 2\nkernel 1\ninstall 2\n' >/tmp/en.txt
#   bench/real_sites.sh faq-en /usr/share/doc/debian/FAQ /index.en.html /tmp/en.txt
#   SEARCH_WORDS="fréquemment posées" bench/real_sites.sh faq-fr \
#     /usr/share/doc/debian/FAQ/fr /index.fr.html /tmp/fr.txt
#
# BUILD_DIR (default build/) chooses the crawler and searchcgi; RUN_DIR
# (default run/real_sites) holds the logs; QUIET (default 6) is how many
# seconds without a request or log line end the crawl; SEARCH_WORDS (UTF-8)
# are searched with searchcgi afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "${SE_REAL_SITES_NETNS:-}" != 1 ]; then
  run=${RUN_DIR:-$here/run/real_sites}
  mkdir -p "$run"
  "$here/scripts/dbserver.sh" start "$run/db" >/dev/null
  exec env SE_REAL_SITES_NETNS=1 RUN_DIR="$run" unshare -n -- "$0" "$@"
fi
name=$1 docroot=$2 start=$3 themes=$4
shift 4
build=$(cd "${BUILD_DIR:-$here/build}" && pwd)
out=$RUN_DIR/$name
sock=$RUN_DIR/db/mysqld.sock
rm -rf "$out"
mkdir -p "$out/work"
ip link set lo up

cat >"$out/lighttpd.conf" <<CONF
server.modules = ( "mod_accesslog" )
server.bind = "127.0.0.1"
server.port = 80
server.document-root = "$docroot"
server.errorlog = "$out/error.log"
accesslog.filename = "$out/access.log"
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html", ".pdf" => "application/pdf",
  ".css" => "text/css", ".png" => "image/png", ".gif" => "image/gif" )
CONF
lighttpd -D -f "$out/lighttpd.conf" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$out/access.log" ] || [ -e "$out/error.log" ] && break; sleep 0.1; done

q() { mariadb --no-defaults --default-character-set=latin1 -S "$sock" -uroot search_engine -N -B -e "$1"; }
for table in CorrespMotUrl MotBloc MotCle Extension UrlInvalide Url; do q "DELETE FROM $table"; done
printf '// depth\n1\n0\n// types\nhtml\npdf\n// site\n"http://127.0.0.1/"\n// themes\nthemes.txt\n' \
  >"$out/work/engineconfig.cfg"
cp "$themes" "$out/work/themes.txt"

cd "$out/work"
mkfifo console
SE_DB_SOCKET=$sock "$build/crawler/crawler" <console >stdout.txt 2>stderr.txt &
crawler=$!
exec 3>console
echo "http://127.0.0.1$start $*" >&3
last="" quiet=0
for _ in $(seq 900); do
  sleep 1
  now=$(stat -c %s "$out/access.log" 2>/dev/null || echo 0)/$(stat -c %s stderr.txt)
  if [ "$now" = "$last" ]; then quiet=$((quiet + 1)); else quiet=0 last=$now; fi
  [ $quiet -ge "${QUIET:-6}" ] && break
done
echo exit >&3
exec 3>&-
wait $crawler || true

echo "== $name ($build)"
echo "requests: $(wc -l <"$out/access.log"), dead (404): $(awk '$9 == 404' "$out/access.log" | wc -l)"
awk '$9 == 404 {print "  " $7}' "$out/access.log" | sort | uniq -c | sort -rn | head -5
echo "pages fetched: $(q 'SELECT COUNT(*) FROM Url'), on theme: $(q 'SELECT COUNT(*) FROM Url WHERE nbMotsTheme > 0'), invalid URLs: $(q 'SELECT COUNT(*) FROM UrlInvalide'), keywords: $(q 'SELECT COUNT(*) FROM MotCle')"
for word in ${SEARCH_WORDS:-}; do
  latin1=$(printf '%s' "$word" | iconv -f utf-8 -t latin1)
  found=$(QUERY_STRING="keyword=$latin1&page=1" SE_DB_SOCKET=$sock "$build/searchcgi/searchcgi" |
    iconv -f latin1 -t utf-8 | grep -o '[0-9]*</B>' | head -1 | tr -dc 0-9)
  echo "search $word: ${found:-0} page(s)"
done
