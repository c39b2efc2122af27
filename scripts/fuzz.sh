#!/usr/bin/env bash
# Runs every libFuzzer target for MINUTES minutes each (default 10), two at a
# time, starting from the seed corpora in fuzz/corpus/ (copied, so the
# repository's seeds stay as they are). MINUTES=0 only replays the seeds: a
# quick check that every target builds and passes its corpus.
# Usage: scripts/fuzz.sh [MINUTES] [TARGET...]
# Output: build-fuzz/report/<target>.log, and a summary line per target
# (executions, coverage, findings). Crashing inputs land in build-fuzz/report/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$here/build-fuzz}
minutes=${1:-10}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(html_scanner_fuzz url_rules_fuzz reply_fuzz config_reader_fuzz sitemap_reader_fuzz
  query_string_fuzz)

"$here/scripts/install-deps.sh"
# clang and its fuzzer runtime, only needed here.
if ! dpkg-query -W -f='${Status}' clang libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed'; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi
CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSE_SANITIZE=fuzzer >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

report=$build/report
mkdir -p "$report"
run() {
  local target=$1 corpus=$build/corpus/$1
  mkdir -p "$corpus"
  cp -n "$here/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
  # The scanner also starts from the pages the tests and the demo use.
  if [ "$target" = html_scanner_fuzz ]; then
    cp -n "$here/tests/crawler/fixtures/page.html" "$here/demo/site/index.html" "$corpus/"
  fi
  if [ "$minutes" = 0 ]; then
    "$build/fuzz/$target" -runs=0 "$corpus" >"$report/$target.log" 2>&1
  else
    "$build/fuzz/$target" -max_total_time=$((minutes * 60)) -timeout=10 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$report/$target-" \
      "$corpus" >"$report/$target.log" 2>&1
  fi
}
status=0
pids=()
for target in "${targets[@]}"; do
  run "$target" & pids+=($!)
  if [ ${#pids[@]} -ge "$(nproc)" ]; then wait "${pids[0]}" || status=1; pids=("${pids[@]:1}"); fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

for target in "${targets[@]}"; do
  log=$report/$target.log
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
  findings=$(find "$report" -name "$target-*" | wc -l)
  printf '%-20s executions %-10s coverage %-6s findings %s\n' "$target" "${execs:-seeds}" "${cov:-?}" "$findings"
done
exit $status
