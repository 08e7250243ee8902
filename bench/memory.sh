#!/usr/bin/env bash
# Memory of one runner during a step under Wine inside Xvfb: the runner and the console host it
# starts (the step excluded), after the step printed LINES lines, against a bare console program
# in the same prefix (the step helper and its console host, in a console window of its own as the
# runner's; on a terminal too, shown), in one run.
# Usage: bench/memory.sh [LINES]. X5_MINGW_DIR points at another Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/bench.sh
x5_bench_mingw
x5_bench_native x5ctl
x5_bench_wine
lines="${1:-20000}"
work="$WINEPREFIX/drive_c/x5bench/memory"
rm -rf "$work"
cp "$x5_mingw/x5step.exe" "$WINEPREFIX/drive_c/x5bench/"

# KB of VmRSS and RssAnon summed over the ids given.
kb() {
  local field="$1" total=0 pid value
  shift
  for pid in "$@"; do
    value="$(awk -v f="$field:" '$1 == f { print $2 }' "/proc/$pid/status" 2>/dev/null || true)"
    total=$((total + ${value:-0}))
  done
  echo "$total"
}

# The references: a console program with its console host, on a terminal (a host without a
# window), and in a console window of its own as the runner has (`start` gives it one; the
# program's command line comes first, so `start`'s own processes, which name it too, are not it).
bare_kb() {  # bare_kb MS COMMAND...: "RSS ANON COUNT" of `x5step sleep MS` and its new console host
  local ms="$1" before procs
  shift
  before="$(x5_bench_ours 'conhost\.exe')"
  "$@" </dev/null >/dev/null 2>&1 &
  local started=$!
  sleep 4
  procs=($(x5_bench_ours "^[^ ]*x5step\.exe sleep $ms") $(x5_bench_new_hosts "$before"))
  echo "$(kb VmRSS "${procs[@]}") $(kb RssAnon "${procs[@]}") ${#procs[@]}"
  wait "$started" || true
  for _ in $(seq 100); do
    [ -z "$(x5_bench_ours "^[^ ]*x5step\.exe sleep $ms")" ] && break
    sleep 0.1
  done
}
read -r term_rss term_anon term_count < <(bare_kb 9001 script -qc "wine '$x5_mingw/x5step.exe' sleep 9001" /dev/null)
read -r bare_rss bare_anon bare_count < <(bare_kb 9002 wine start /wait 'C:\x5bench\x5step.exe' sleep 9002)

# The runner, its step printing LINES lines and then sleeping.
x5_bench_start_runner MEM memory 'C:\x5bench\x5step.exe lines '"$lines"' 100 sleep 6000'
for _ in $(seq 100); do
  grep -q "output line $lines\." "$work/console.txt" 2>/dev/null && break
  sleep 0.1
done
sleep 1
# The runner's own process (x5ctl's command line names it too, after --runner).
runner=($(x5_bench_ours '^[^ ]*x5runner\.exe$') $(x5_bench_new_hosts "$x5_bench_hosts_before"))
runner_rss="$(kb VmRSS "${runner[@]}")" runner_anon="$(kb RssAnon "${runner[@]}")"
wait "$x5_bench_exec_pid" || true

echo "bare console program on a terminal ($term_count processes): resident $((term_rss / 1024)) MB, anonymous $((term_anon / 1024)) MB"
echo "bare console program in its own console window ($bare_count processes): resident $((bare_rss / 1024)) MB, anonymous $((bare_anon / 1024)) MB"
echo "runner after $lines lines (${#runner[@]} processes): resident $((runner_rss / 1024)) MB, anonymous $((runner_anon / 1024)) MB"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
x5_bench_figure "memory per runner / bare console program, resident ($((runner_rss / 1024)) / $((bare_rss / 1024)) MB)" "$(ratio "$runner_rss" "$bare_rss")" "<= 2"
x5_bench_figure "memory per runner / bare console program, anonymous ($((runner_anon / 1024)) / $((bare_anon / 1024)) MB)" "$(ratio "$runner_anon" "$bare_anon")" "<= 2"
