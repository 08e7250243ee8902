#!/usr/bin/env bash
# Rules that count occurrences or test their column, against one full scan of the same file by the
# same search, in the same run: a 1 GiB log whose 1,000,000 lines starting with "ERR" are the only
# occurrences of ERR (in any case), searched with S=(50, "ERR") (column 50 never matches, so every
# occurrence is looked at) and S=ERR N=1000000 (the last occurrence), forward and backward, next to
# S=QQQ (absent: the whole file is read once). Whole rules as the runner evaluates them, timed in
# one process, interleaved, medians of repeats.
#
#   bench/count_compare.sh [REPEATS]      (default 7)
# Environment: BUILD_DIR (default build/bench), FILE (default /tmp/x5_count_1g.log),
# BUFFER (file buffer size, default 4096).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build/bench}
FILE=${FILE:-/tmp/x5_count_1g.log}
REPEATS=${1:-7}
BUFFER=${BUFFER:-4096}
SIZE=$((1024 * 1024 * 1024))

command -v perl >/dev/null || { echo "needs perl" >&2; exit 1; }

if [ ! -x "$BUILD_DIR/search_bench" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DX5_SANITIZE=OFF >/dev/null
fi
cmake --build "$BUILD_DIR" --target search_bench >/dev/null

make_file() {
  local seed
  seed=$(mktemp /tmp/x5_count_seed.XXXXXX)
  # 1000 copies of a 1,073,741-byte piece holding 1000 ERR lines, one every 1,073 or 1,074 bytes,
  # between log lines that hold no "err" in any case; then filler up to exactly 1 GiB.
  perl -e '
    srand(42);
    my @lv = ("INFO ", "DEBUG", "WARN ", "INFO ", "INFO ", "TRACE");
    my @w = qw(alpha beta gamma delta request response worker queue batch commit rollback
               session user order invoice payment cache miss hit store load);
    my $piece = 1073741;
    my $out = "";
    for my $j (0 .. 999) {
      $out .= sprintf("ERR %05d [worker-%d] step failed: code %d\r\n", $j, int(rand(64)),
                      int(rand(1e6)));
      my $until = int(($j + 1) * $piece / 1000);
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
    print $out;' >"$seed"
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

echo "File: $FILE ($SIZE bytes, $(grep -c '^ERR' "$FILE") lines starting with ERR, page cache warm);" \
  "load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$BUILD_DIR/search_bench" --file "$FILE" --text ERR --count 1000000 --column 50 \
  --buffer "$BUFFER" --repeat "$REPEATS"
