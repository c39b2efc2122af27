#!/usr/bin/env bash
# The demo end to end: the real crawler indexes the sample site served by
# lighttpd, and searchcgi, run by lighttpd as a CGI program on port 8080,
# answers queries over HTTP.
#
#   demo_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
source "$src/tests/e2e/demo_lib.sh"
demo_in_namespace "$src" "$build" "$build/e2e/demo" "$0" "$@"

site=http://127.0.0.1
search=http://127.0.0.1:8080/cgi-bin/searchcgi

# Every on-theme document of the sample site. Off theme, and so never listed:
# the contact and legal pages, the village pages (no bee in sight), the
# gingerbread recipe (honey but no bees) and the club's general assembly
# (bees, but no theme word reaches its weight).
on_theme="
$site/index.html
$site/apiculture.html
$site/glossaire.html
$site/rucher.html
$site/abeilles/index.html
$site/abeilles/reine.html
$site/abeilles/ouvrieres.html
$site/abeilles/faux-bourdons.html
$site/abeilles/essaimage.html
$site/abeilles/butinage.html
$site/abeilles/maladies.html
$site/abeilles/varroa.html
$site/ruches/
$site/ruches/dadant.html
$site/ruches/warre.html
$site/ruches/cadres.html
$site/ruches/emplacement.html
$site/ruches/hivernage.html
$site/miel/index.html
$site/miel/recolte.html
$site/miel/extraction.html
$site/miel/acacia.html
$site/miel/lavande.html
$site/miel/cristallisation.html
$site/produits/index.html
$site/produits/cire.html
$site/produits/pollen.html
$site/produits/propolis.html
$site/calendrier/printemps.html
$site/calendrier/ete.html
$site/calendrier/automne.html
$site/calendrier/hiver.html
$site/club/index.html
$site/club/formation.html
$site/club/sortie.html
$site/docs/transhumance.pdf"

sorted() { tr ' ' '\n' | sed '/^$/d' | sort; }

# fetch URL: the result page, saved as the current page.
fetch() { curl -fsS "$1" >"$build/e2e/demo/page.html"; }
entries() { grep -o '<A HREF="[^"]*">' "$build/e2e/demo/page.html" | sed 's/<A HREF="\(.*\)">/\1/'; }
total() { sed -n 's/.*<B>Nombre de pages trouv.es : \([0-9]*\)<\/B>.*/\1/p' "$build/e2e/demo/page.html"; }
nav_link() { sed -n "s/.*<a href=\"\\([^\"]*\\)\">$1<\\/a>.*/\\1/p" "$build/e2e/demo/page.html"; }

# walk QUERY: follows the Next links from page 1 and prints every listed
# URL; checks the navigation of each page on the way.
walk() {
  local url="$search?$1" page=1 count
  while :; do
    fetch "$url"
    count=$(entries | grep -c . || true)
    [ "$(entries | wc -l)" -eq 15 ] || { echo "page $page of '$1' has $(entries | wc -l) entries, not 15" >&2; return 1; }
    entries | sed '/^$/d'
    if [ "$page" -gt 1 ]; then
      [ "$(nav_link Previous)" = "$search?${1%%&*}&page=$((page - 1))" ] ||
        { echo "page $page: Previous is '$(nav_link Previous)'" >&2; return 1; }
    elif [ -n "$(nav_link Previous)" ]; then
      echo "page 1 has a Previous link" >&2; return 1
    fi
    url=$(nav_link Next)
    [ -n "$url" ] || break
    [ "$count" -eq 15 ] || { echo "page $page has a Next link but only $count results" >&2; return 1; }
    page=$((page + 1))
    [ "$page" -le 10 ] || { echo "more than 10 pages for '$1'" >&2; return 1; }
  done
}

same_set() {  # same_set EXPECTED ACTUAL (whitespace-separated lists)
  if [ "$(echo "$1" | sorted)" = "$(echo "$2" | sorted)" ]; then return 0; fi
  diff <(echo "$1" | sorted) <(echo "$2" | sorted) >&2 || true
  return 1
}

# Every on-theme page holds the required word, so it lists the whole theme,
# over three result pages, each page once.
listed=$(walk 'keyword=abeilles&page=1') || listed="walk failed"
check "the required theme word lists every on-theme document once" same_set "$on_theme" "$listed"
fetch "$search?keyword=abeilles&page=1"
check "the count line gives the number of on-theme documents" [ "$(total)" = 36 ]
fetch "$search?keyword=abeilles&page=3"
check "the last page has no Next link and 6 entries" \
  [ -z "$(nav_link Next)" -a "$(entries | sed '/^$/d' | wc -l)" = 6 ]

listed=$(walk 'keyword=varroa&page=1') || listed="walk failed"
check "a rarer word lists exactly its pages" same_set "
$site/glossaire.html $site/abeilles/maladies.html $site/abeilles/varroa.html
$site/calendrier/automne.html $site/calendrier/ete.html" "$listed"

listed=$(walk 'keyword=sangler&page=1') || listed="walk failed"
check "a word found only in the PDF text finds the PDF" same_set "$site/docs/transhumance.pdf" "$listed"

listed=$(walk 'keyword=MIEL&page=1') || listed="walk failed"
check "honey pages are found in any letter case, the off-theme recipe is not" \
  bash -c 'grep -qx "$1/miel/acacia.html" <<<"$2" && ! grep -q "pain-epices\|assemblee" <<<"$2"' _ "$site" "$listed"

listed=$(walk 'keyword=miel+-lavande&page=1') || listed="walk failed"
check "an excluded word removes its pages" \
  bash -c 'grep -qx "$1/miel/recolte.html" <<<"$2" && ! grep -q "lavande.html\|acacia\|transhumance\|calendrier/ete" <<<"$2"' _ "$site" "$listed"

# Accents: pages write them raw (calendrier/ete.html, abeilles/reine.html)
# or as references (miel/recolte.html); a query may type them as the form
# sends them (Latin-1), as a browser ignoring the charset does (UTF-8), or
# not at all.
for query in 'r%E9colte' 'recolte' 'R%C3%A9COLTE'; do
  listed=$(walk "keyword=$query&page=1") || listed="walk failed"
  check "$query finds the page that writes r&#233;colte" grep -qx "$site/miel/recolte.html" <<<"$listed"
done
for query in '%E9t%E9' 'ete' "l%27%C3%A9t%C3%A9"; do
  listed=$(walk "keyword=$query&page=1") || listed="walk failed"
  check "$query finds the page that writes a raw Latin-1 été" \
    grep -qx "$site/calendrier/ete.html" <<<"$listed"
done
listed=$(walk 'keyword=f%E9condation+-%C5%93uf&page=1') || listed="walk failed"
check "an excluded accented word (\u0153uf from a Windows-1252 page) removes its page" \
  bash -c '! grep -q "abeilles/reine.html" <<<"$1"' _ "$listed"

fetch "$search?keyword=abeile&page=1&verif=Verifier+l%27ortographe"
check "the spelling checker suggests the French word" \
  bash -c 'grep -q "Corrections possibles" "$1" && grep -q "abeille\b" "$1"' _ "$build/e2e/demo/page.html"
fetch "$search?keyword=abeilles&page=1&verif=on"
check "Next keeps the spelling request" \
  [ "$(nav_link Next)" = "$search?keyword=abeilles&page=2&verif=Verifier+l%27ortographe" ]

report=$(cat "$build/e2e/demo/demo.out")
# Exactly the URLs given up, each with its reason: no page that was fetched,
# and no console word.
expected_invalid='  invalid URLs:   4
    http://127.0.0.1/disparu.html            (status 404)
    http://127.0.0.1/village/fete.html       (depth limit)
    http://127.0.0.1/village/football.html   (depth limit)
    http://www.abeilles-sauvages.example/    (outside the site)'
listed_invalid=$(sed -n '/^  invalid URLs:/,/^[^ ]/p' <<<"$report" | grep '^  ')
check "the demo lists exactly the four invalid URLs with their reasons" \
  [ "$listed_invalid" = "$expected_invalid" ]
check "the demo reports the on-theme count" grep -q '^  on-theme pages: *36$' <<<"$report"
check "the search page is served, its form asking for the readable view" \
  bash -c "curl -fsS http://127.0.0.1:8080/ | grep -q 'action=\"/cgi-bin/searchcgi/html\"'"

# The readable views, asked for order=count, list the plain page's results
# in its order, with the pages' titles and excerpts that mark the query's
# words; by default they list the same pages in relevance order, the same
# in both views, the JSON view with each result's score, highest first.
html_page=$build/e2e/demo/view.html
json_page=$build/e2e/demo/view.json
html_urls() { grep -o '<li><a href="[^"]*">' "$html_page" | sed 's/<li><a href="\(.*\)">/\1/'; }
json_urls() {
  python3 -c 'import json,sys
for r in json.load(open(sys.argv[1], encoding="utf-8"))["results"]: print(r["url"])' "$json_page"
}
for query in 'keyword=varroa&page=1' 'keyword=abeilles&page=2' 'keyword=miel+-lavande&page=1'; do
  fetch "$search?$query"
  plain=$(entries | sed '/^$/d')
  curl -fsS "$search/html?$query&order=count" >"$html_page"
  check "the HTML view of $query&order=count lists the plain page's URLs in order" \
    [ "$plain" = "$(html_urls)" ]
  curl -fsS -D "$json_page.head" "$search/json?$query&order=count" >"$json_page"
  check "the JSON view of $query&order=count lists the plain page's URLs in order" \
    [ "$plain" = "$(json_urls)" ]
  curl -fsS "$search/html?$query" >"$html_page"
  ranked=$(html_urls)
  curl -fsS "$search/json?$query" >"$json_page"
  check "the views of $query list the same pages in the same relevance order" \
    [ "$ranked" = "$(json_urls)" ]
  check "the JSON view of $query gives scores, highest first" python3 -c 'import json,sys
s = [r["score"] for r in json.load(open(sys.argv[1], encoding="utf-8"))["results"]]
assert s and s == sorted(s, reverse=True), s' "$json_page"
done
# The whole result set is the plain page's, reordered.
all_pages() {
  for page in 1 2 3 4; do curl -fsS "$1&page=$page"; done | grep -o "$2" | sed 's/.*href="\([^"]*\)".*/\1/' | sort
}
check "relevance order keeps the plain page's set of results" [ \
  "$(all_pages "$search/html?keyword=abeilles&order=count" '<li><a href="[^"]*"')" = \
  "$(all_pages "$search/html?keyword=abeilles" '<li><a href="[^"]*"')" ]
check "the navigation keeps order=count" bash -c \
  "curl -fsS '$search/html?keyword=abeilles&page=1&order=count' | grep -q 'page=2&amp;order=count\">Suivant'"
check "the JSON view says it is UTF-8 JSON" \
  grep -qi '^Content-Type: application/json; charset=utf-8' "$json_page.head"
curl -fsS "$search/html?keyword=varroa&page=1" >"$html_page"
check "a result shows its page's title as the link" \
  grep -q "<li><a href=\"$site/abeilles/varroa.html\">Le varroa</a>" "$html_page"
check "the excerpt marks the query word" \
  grep -q '<span class="extrait">.*<b>varroa</b> est un acarien de un' "$html_page"
check "the HTML view's Suivant link keeps the view" bash -c \
  "curl -fsS '$search/html?keyword=abeilles&page=1' | grep -q 'href=\"$search/html?keyword=abeilles&amp;page=2\">Suivant'"
# Excerpts come from each page's own text: never its title again, never the
# site's navigation (the only place the sample site writes " | ").
excerpt_pages=$build/e2e/demo/abeilles.html
for page in 1 2 3; do curl -fsS "$search/html?keyword=abeilles&page=$page"; done >"$excerpt_pages"
check "the excerpts of every page of abeilles skip the titles and the navigation" python3 -c 'import html,re,sys
page = open(sys.argv[1], encoding="latin-1").read()
items = re.findall(r"<li><a href=\"[^\"]*\">(.*?)</a>.*?<span class=\"extrait\">(.*?)</span></li>", page, re.S)
assert len(items) == 36, len(items)
for title, excerpt in items:
    text = html.unescape(re.sub("<[^>]*>", "", excerpt)).lstrip(".")
    # The heading that repeats the title is followed by a capital.
    assert text != title and not re.match(re.escape(html.unescape(title)) + " [A-Z\u00c0-\u00de]", text), (title, text)
    assert " | " not in text and not text.endswith("Accueil"), (title, text)' "$excerpt_pages"
curl -fsS "$search/html?keyword=sangler&page=1" >"$html_page"
check "the PDF guide is titled by its metadata and its excerpt starts after the title" \
  grep -q '<a href="http://127.0.0.1/docs/transhumance.pdf">Guide du deplacement des ruches</a>' "$html_page"
check "the PDF's excerpt marks the word it was found by, without the title" bash -c \
  'grep -q "<span class=\"extrait\">.*<b>sangler</b>" "$1" && ! grep -q "<span class=\"extrait\">.*Guide du deplacement" "$1"' _ "$html_page"
curl -fsS "$search/json?keyword=r%E9colte&page=1" >"$json_page"
check "the JSON view gives titles and marked excerpts in UTF-8" python3 -c 'import json,sys
v = json.load(open(sys.argv[1], encoding="utf-8"))
r = next(r for r in v["results"] if r["url"].endswith("/miel/recolte.html"))
e = r["excerpt"]
marked = [e["text"][m["offset"]:m["offset"] + m["length"]] for m in e["marks"]]
assert v["query"] == "r\u00e9colte" and r["title"], v
assert marked and all(w.lower() == "r\u00e9colte" for w in marked), (marked, e)' "$json_page"
status=$(curl -s -o "$json_page.error" -w '%{http_code}' "$search/json?keyword=-miel&page=1")
check "a JSON query without a search word is a 400 with a JSON error" \
  bash -c '[ "$1" = 400 ] && python3 -c "import json,sys; assert json.load(open(sys.argv[1]))[\"error\"]" "$2"' _ "$status" "$json_page.error"

# A database server the demo did not start is never wiped: the demo refuses
# to start on it, and its stop leaves it running with its data. (A process
# stands for the server: the demo goes by the pid file.)
foreign=$build/e2e/demo/foreign-db
rm -rf "$foreign"
mkdir -p "$foreign/data"
echo "someone's index" >"$foreign/data/marker"
sleep 300 &
echo $! >"$foreign/mysqld.pid"
status=0
refusal=$(SE_DEMO_RUN_DIR=$build/e2e/demo/run-foreign SE_DEMO_DB_DIR=$foreign "$src/demo.sh" 2>&1) ||
  status=$?
check "the demo refuses a database server it did not start, saying why" \
  bash -c '[ "$1" -ne 0 ] && grep -q "the demo did not start runs in $2" <<<"$3"' _ "$status" "$foreign" "$refusal"
SE_DEMO_RUN_DIR=$build/e2e/demo/run-foreign SE_DEMO_DB_DIR=$foreign "$src/demo.sh" stop >/dev/null
check "the demo's stop leaves that server running and its data in place" \
  bash -c 'kill -0 "$(cat "$1/mysqld.pid")" && [ -f "$1/data/marker" ]' _ "$foreign"
"$src/scripts/dbserver.sh" stop "$foreign"

finish
