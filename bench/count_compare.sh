#!/usr/bin/env bash
# Rules that count occurrences or test their column, against one full scan of the same file by the
# same search, in the same run: a log (1 GiB unless SIZE says otherwise) with a line starting with
# "ERR" every 1,074 bytes (1,000,000 in 1 GiB), the only occurrences of ERR in any case, searched
# with S=(50, "ERR") (column 50 never matches, so every occurrence is looked at) and S=ERR N=<all>
# (the last occurrence), forward and backward, next to S=QQQ (absent: the whole file is read
# once). Whole rules as the runner evaluates them, timed in one process, interleaved, medians of
# repeats; the ratios are of the thread's CPU time (user and system, so the kernel's copy from its
# cache counts), which on a loaded machine leaves out the time spent waiting for a core.
#
#   bench/count_compare.sh [REPEATS]      (default 7)
# Environment: SIZE (bytes, default 1073741824), FILE (default /tmp/x5_count_<MiB>m.log),
# BUFFER (file buffer size, default 4096), X5_BENCH_DIR (default build/bench, the bench preset).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/lib/bench.sh"
REPEATS=${1:-7}
BUFFER=${BUFFER:-4096}
SIZE=${SIZE:-$((1024 * 1024 * 1024))}
FILE=${FILE:-/tmp/x5_count_$((SIZE >> 20))m.log}

command -v perl >/dev/null || { echo "needs perl" >&2; exit 1; }

x5_bench_native search_bench

make_file() {
  local seed
  seed=$(mktemp /tmp/x5_count_seed.XXXXXX)
  # 1000 copies of a piece of a thousandth of the size (1,073,741 bytes for 1 GiB) holding an ERR
  # line every 1,073 or 1,074 bytes, between log lines that hold no "err" in any case; then filler
  # up to exactly the size.
  perl -e '
    srand(42);
    my @lv = ("INFO ", "DEBUG", "WARN ", "INFO ", "INFO ", "TRACE");
    my @w = qw(alpha beta gamma delta request response worker queue batch commit rollback
               session user order invoice payment cache miss hit store load);
    my $piece = int($ARGV[0] / 1000);
    my $hits = int($piece / 1073.741 + 0.5) || 1;
    my $out = "";
    for my $j (0 .. $hits - 1) {
      $out .= sprintf("ERR %05d [worker-%d] step failed: code %d\r\n", $j, int(rand(64)),
                      int(rand(1e6)));
      my $until = int(($j + 1) * $piece / $hits);
      while (length($out) < $until - 120) {
        my $i = length($out);
        my $t = sprintf("2024-05-%02d %02d:%02d:%02d.%03d", 1 + $i % 28, $i % 24, $i % 60,
                        ($i * 7) % 60, $i % 1000);
        my @m; push @m, $w[int(rand(@w))] for 1 .. 3 + int(rand(6));
        $out .= sprintf("%s %s [worker-%d] %s id=%d took %d ms\r\n", $t, $lv[int(rand(@lv))],
                        int(rand(64)), join(" ", @m), int(rand(1e7)), int(rand(5000)));
      }
      $out .= "." x ($until - length($out) - 2) . "\r\n";
    }
    print $out;' "$SIZE" >"$seed"
  {
    for ((c = 0; c < 1000; c++)); do cat "$seed"; done
    perl -e 'print "-" x ($ARGV[0] - 2), "\r\n"' $((SIZE - 1000 * $(stat -c %s "$seed")))
  } >"$FILE"
  rm -f "$seed"
}

if [ ! -f "$FILE" ] || [ "$(stat -c %s "$FILE")" != "$SIZE" ]; then
  echo "making $FILE ..."
  make_file
fi
cat "$FILE" >/dev/null
cat "$FILE" >/dev/null

hits=$(grep -c '^ERR' "$FILE")
echo "File: $FILE ($SIZE bytes, $hits lines starting with ERR, page cache warm);" \
  "load: $(cut -d' ' -f1-3 /proc/loadavg)"
out=$("$x5_bench_dir/search_bench" --file "$FILE" --text ERR --count "$hits" --column 50 \
  --buffer "$BUFFER" --repeat "$REPEATS")
echo "$out"
echo
# The rules against the scan in the same direction: "  forward  column  S=... 1.17x scan ...".
while read -r direction kind ratio; do
  x5_bench_figure "$kind rule, $direction, buffer $BUFFER: time / one full scan" "$ratio" "<= 1.15"
done < <(awk '$2 != "full" { for (i = 1; i < NF; i++) if ($(i + 1) == "scan") {
  sub(/x$/, "", $i); print $1, $2, $i } }' <<<"$out")
