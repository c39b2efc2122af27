#!/usr/bin/env bash
# The Debian package, made with cpack in the build tree and unpacked into a
# scratch root: its files where a Debian system expects them, units and
# manual pages that name the installed paths, a Depends field that names the
# installed packages of every shared library the programs use, and programs
# that run from the unpacked root.
#
#   package_test.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
src=$1
build=$2
version=$3
export LC_ALL=C.UTF-8
work=$build/package-test
rm -rf "$work"
mkdir -p "$work"

failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports a failure
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"
field() { dpkg-deb -f "$deb" "$1"; }
files=$(dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|')

check "the package is theme-search $version" \
  [ "$(field Package) $(field Version)" = "theme-search $version" ]
missing=""
for path in /usr/bin/crawler /usr/lib/cgi-bin/searchcgi /usr/share/theme_search/schema.sql \
  /usr/share/theme_search/examples/engineconfig.cfg /usr/share/theme_search/examples/mots_theme.txt \
  /usr/share/theme_search/examples/deploy/crawler.env \
  /usr/lib/systemd/system/theme-search-crawler.service \
  /usr/lib/systemd/system/theme-search-crawler.timer \
  /usr/share/man/man1/crawler.1.gz /usr/share/man/man1/searchcgi.1.gz; do
  grep -qx "$path" <<<"$files" || missing="$missing $path"
done
check "every file is in the package:${missing:- yes}" [ -z "$missing" ]
check "nothing outside /usr (no /usr/local, no build path)" \
  bash -c '! grep -v "^/usr/\|^/$" <<<"$1" && ! grep -q "^/usr/local" <<<"$1"' _ "$files"
theme_file=$(awk '{ print $1 }' "$root/usr/share/theme_search/examples/engineconfig.cfg" |
  grep -v '^/' | tail -1)
check "the example configuration's theme-word file is beside it" \
  [ -f "$root/usr/share/theme_search/examples/$theme_file" ]

exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$root/usr/lib/systemd/system/theme-search-crawler.service")
check "the service runs the packaged crawler ($exec_start)" \
  bash -c '[ "$1" = /usr/bin/crawler ] && [ -x "$2$1" ]' _ "$exec_start" "$root"
check "the units and manual pages name no build or source path" bash -c \
  '! zgrep -l -e "$2" -e "$3" -e /usr/local "$1"/usr/lib/systemd/system/* "$1"/usr/share/man/man1/*' \
  _ "$root" "$build" "$src"

# Each package Depends names (the first of alternatives) is installed here,
# where the programs were linked, and the packages of the libraries the
# programs are linked with are all among them.
depends=$(field Depends)
named=$(tr ',' '\n' <<<"$depends" | sed 's/|.*//; s/(.*//; s/ //g' | sed '/^$/d')
uninstalled=""
for package in $named; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    uninstalled="$uninstalled $package"
done
check "every package in Depends is a real, installed package:${uninstalled:- yes}" [ -z "$uninstalled" ]
uncovered=""
for program in "$root/usr/bin/crawler" "$root/usr/lib/cgi-bin/searchcgi"; do
  loaded=$(ldd "$program")
  for soname in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    library=$(sed -n "s|^[[:space:]]*$soname => \(/[^ ]*\) .*|\1|p" <<<"$loaded")
    owner=$(dpkg-query -S "$library" 2>/dev/null || dpkg-query -S "$(readlink -f "$library")" 2>/dev/null ||
      true)
    owner=${owner%%:*}
    grep -qx "${owner:-?}" <<<"$named" || uncovered="$uncovered $soname(${owner:-?})"
  done
done
check "Depends names the package of every library the programs link:${uncovered:- yes}" \
  [ -z "$uncovered" ]
for program in ghostscript aspell; do
  check "Depends names $program, which the programs start" grep -qx "$program" <<<"$named"
done

# The programs run from the unpacked root, with the project's version.
for program in usr/bin/crawler usr/lib/cgi-bin/searchcgi; do
  name=${program##*/}
  check "$name --version from the package" \
    [ "$("$root/$program" --version 2>&1)" = "$name (theme search) $version" ]
done

# The manual pages: valid roff, the version, and every option and variable
# of the program's own usage text.
for name in crawler searchcgi; do
  page=$root/usr/share/man/man1/$name.1.gz
  warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
  check "$name.1 formats without a warning" [ -z "$warnings" ]
  [ -z "$warnings" ] || echo "$warnings" >&2
  check "$name.1 names version $version" bash -c 'zgrep -q "theme search $2\"" "$1"' _ "$page" "$version"
  usage=$("$build/${name}/$name" --help)
  text=$(zcat "$page" | sed 's/\\-/-/g')
  undocumented=""
  for word in $(grep -o -e '--[a-z-]*[a-z]' -e 'SE_[A-Z_]*[A-Z]' <<<"$usage" | sort -u); do
    grep -q -e "$word" <<<"$text" || undocumented="$undocumented $word"
  done
  check "$name.1 documents every option and variable of --help:${undocumented:- yes}" \
    [ -z "$undocumented" ]
done

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
echo "all checks passed"
