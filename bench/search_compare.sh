#!/usr/bin/env bash
# Side-by-side figures for the condition file search on a log-like file (1 GiB unless SIZE says
# otherwise): our forward and backward, exact and case-folded searches (file buffer 4096 and 65536)
# next to grep -F, rg -F and cat, all timed as whole processes, interleaved, medians of repeats.
# The ratios are of CPU time (user and system, so the kernel's copy from its cache counts): on a
# quiet machine the same as the wall clock, on a loaded one without the time spent waiting for a
# core. Goals: at 65536-byte buffers at least 0.95 of cat's speed, at 4096 at least 0.7. Then where
# a search's CPU time goes (search_bench --breakdown) and the time to find a text near the end.
#
#   bench/search_compare.sh [REPEATS]      (default 7)
# Environment: SIZE (bytes, default 1073741824), FILE (default /tmp/x5_search_<MiB>m.log),
# X5_BENCH_DIR (default build/bench, the bench preset).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/lib/bench.sh"
REPEATS=${1:-7}
SIZE=${SIZE:-$((1024 * 1024 * 1024))}
FILE=${FILE:-/tmp/x5_search_$((SIZE >> 20))m.log}
NEEDLE="FATAL: disk quota exceeded"  # absent: every tool reads the whole file
NEEDLE_FOLDED="fatal: DISK quota exceeded"
TAIL_MARK="X5-TAIL-MARKER"           # once, in the last 4 KiB

for tool in grep rg perl; do
  command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 1; }
done

x5_bench_native search_bench
BENCH="$x5_bench_dir/search_bench"

make_file() {
  local seed
  seed=$(mktemp /tmp/x5_search_seed.XXXXXX)
  # About 23 MB of varied log lines (less for a smaller file), repeated up to the size; the marker
  # goes near the end.
  perl -e '
    srand(42);
    my @lv = ("INFO ", "DEBUG", "WARN ", "INFO ", "INFO ", "TRACE", "ERROR");
    my @w = qw(alpha beta gamma delta request response worker queue batch commit rollback
               session user order invoice payment cache miss hit store load);
    my $lines = $ARGV[0] / 115 < 200000 ? int($ARGV[0] / 115) + 1 : 200000;
    for my $i (1 .. $lines) {
      my $t = sprintf("2024-05-%02d %02d:%02d:%02d.%03d", 1 + $i % 28, $i % 24, $i % 60,
                      ($i * 7) % 60, $i % 1000);
      my @m; push @m, $w[int(rand(@w))] for 1 .. 3 + int(rand(10));
      printf("%s %s [worker-%d] %s id=%d took %d ms\r\n", $t, $lv[int(rand(@lv))],
             int(rand(64)), join(" ", @m), int(rand(1e7)), int(rand(5000)));
    }' "$SIZE" >"$seed"
  local copies=$(( (SIZE - 4096) / $(stat -c %s "$seed") + 1 ))
  {
    for ((c = 0; c < copies; c++)); do cat "$seed"; done | head -c $((SIZE - 4096))
    # Exactly 4096 bytes: 2048 ending with the marker's line, then 2048 of filler.
    perl -e 'my $l = "2024-05-31 23:59:59.999 INFO  [worker-1] end of run $ARGV[0] reached\r\n";
             print "." x (2048 - 2 - length($l)), "\r\n", $l, "x" x 2046, "\r\n";' "$TAIL_MARK"
  } >"$FILE" || true
  rm -f "$seed"
}

if [ ! -f "$FILE" ] || [ "$(stat -c %s "$FILE")" != "$SIZE" ]; then
  echo "making $FILE ..."
  make_file
fi
cat "$FILE" >/dev/null
cat "$FILE" >/dev/null

names=(); cmds=()
add() { names+=("$1"); cmds+=("$2"); }
add "cat" "cat '$FILE'"
add "grep -F" "grep -F -c '$NEEDLE' '$FILE'"
add "rg -F" "rg -F -c '$NEEDLE' '$FILE'"
add "LC_ALL=C grep -F -i" "LC_ALL=C grep -F -i -c '$NEEDLE_FOLDED' '$FILE'"
add "rg -F -i" "rg -F -i -c '$NEEDLE_FOLDED' '$FILE'"
for buffer in 4096 65536; do
  add "x5 forward  exact  $buffer" "'$BENCH' --file '$FILE' --text '$NEEDLE' --repeat 1 --buffer $buffer"
  add "x5 backward exact  $buffer" "'$BENCH' --file '$FILE' --text '$NEEDLE' --repeat 1 --buffer $buffer --backward"
  add "x5 forward  folded $buffer" "'$BENCH' --file '$FILE' --text '$NEEDLE_FOLDED' --repeat 1 --buffer $buffer --fold"
  add "x5 backward folded $buffer" "'$BENCH' --file '$FILE' --text '$NEEDLE_FOLDED' --repeat 1 --buffer $buffer --fold --backward"
done

times=$(mktemp /tmp/x5_search_times.XXXXXX)
TIMEFORMAT='%3R %3U %3S'
for ((r = 0; r < REPEATS; r++)); do
  for i in "${!names[@]}"; do
    # "INDEX WALL_NS CPU_NS" from bash's own timing of the whole process.
    { time eval "${cmds[$i]}" >/dev/null 2>&1 || true; } 2>&1 |
      awk -v i="$i" '{ printf "%d %.0f %.0f\n", i, $1 * 1e9, ($2 + $3) * 1e9 }' >>"$times"
  done
done

median() { awk -v k="$1" -v c="$2" '$1 == k { print $c }' "$times" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
declare -A med wall
for i in "${!names[@]}"; do med[$i]=$(median "$i" 3); wall[$i]=$(median "$i" 2); done
best_exact=$(( med[1] < med[2] ? med[1] : med[2] ))
best_folded=$(( med[3] < med[4] ? med[3] : med[4] ))

echo
echo "File: $FILE ($SIZE bytes, page cache warm), $REPEATS repeats, medians;" \
  "speeds and ratios from CPU time; load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-26s %9s %9s %8s %9s %14s\n' "search" "wall s" "CPU s" "GB/s" "x cat" "x best grep/rg"
for i in "${!names[@]}"; do
  t=${med[$i]}
  case "${names[$i]}" in
    *folded*|*-i*) best=$best_folded ;;
    *) best=$best_exact ;;
  esac
  awk -v n="${names[$i]}" -v t="$t" -v w="${wall[$i]}" -v c="${med[0]}" -v b="$best" -v s="$SIZE" \
    -v first="$i" 'BEGIN {
    vs = (first == 0) ? "" : sprintf("%.2f", b / t);
    printf "%-26s %9.4f %9.4f %8.2f %9.2f %14s\n", n, w / 1e9, t / 1e9, s / t, c / t, vs }'
done
echo
for i in "${!names[@]}"; do
  [[ "${names[$i]}" == x5* ]] || continue
  read -r _ direction kind buffer <<<"${names[$i]}"
  goal=">= 0.95"
  [ "$buffer" = "65536" ] || goal=">= 0.7"
  x5_bench_figure "search, $direction $kind, buffer $buffer: speed / cat's" \
    "$(awk -v t="${med[$i]}" -v c="${med[0]}" 'BEGIN { printf "%.2f", c / t }')" "$goal"
done
rm -f "$times"

echo
# Against the limit of any search that copies what it reads: the reads and a look at every line.
limit_figure() {
  local kind=$1
  shift
  local out
  out="$("$BENCH" --file "$FILE" --breakdown --buffer 65536 --repeat "$REPEATS" "$@")"
  echo "$out"
  x5_bench_figure "search, forward $kind, buffer 65536: speed / the limit's (reads + a look per line)" \
    "$(sed -n "s/.*search speed \/ the limit's.*: //p" <<<"$out")" ">= 0.9"
}
limit_figure exact --text "$NEEDLE"
limit_figure folded --text "$NEEDLE_FOLDED" --fold
echo
"$BENCH" --file "$FILE" --text "$TAIL_MARK" --latency --repeat "$((REPEATS * 3))"
