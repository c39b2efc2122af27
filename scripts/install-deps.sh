#!/usr/bin/env bash
# Installs, with apt-get, every Debian package needed to build, test, run
# and package the search engine (cpack's dependency list needs dpkg-dev and
# file; the package test formats the manual pages with groff and reads the
# programs' libraries with readelf; the cluster test runs MariaDB Galera
# nodes, whose state transfer copies with rsync). Idempotent: does nothing
# when every package is present, and runs "apt-get update" at most once when
# something is missing.
set -euo pipefail

packages=(
  g++ cmake make ninja-build pkg-config
  libmysql++-dev libmariadb-dev mariadb-server mariadb-client
  libfcgi-dev
  flex libfl-dev
  libcurl4-openssl-dev zlib1g-dev libexpat1-dev ca-certificates openssl
  libstemmer-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  aspell aspell-en aspell-fr
  ghostscript poppler-utils
  lighttpd
  galera-4 rsync
  python3 iproute2 util-linux procps curl
  dpkg-dev file groff-base binutils
)
# Optional browser test: headless Chromium and Node.js for playwright-core.
if [ "${SE_WITH_BROWSER:-1}" = 1 ]; then
  packages+=(chromium)
  # Node.js and npm usually come with the machine; install Debian's only
  # when there is none (Debian's npm conflicts with other Node.js builds).
  if ! command -v npm >/dev/null 2>&1; then packages+=(nodejs npm); fi
fi

# Only for the benchmarks (bench/htsearch_compare.sh): the peer search
# engine it measures against.
if [ "${SE_WITH_BENCH:-0}" = 1 ]; then
  packages+=(htdig)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# The MariaDB and lighttpd packages would start system services; the tests
# never use them, so keep package scripts from starting anything.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod +x "$policy"
  created_policy=1
fi
trap '[ $created_policy = 1 ] && $sudo rm -f "$policy"' EXIT
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
