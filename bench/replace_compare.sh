#!/usr/bin/env bash
# The replace switch next to sed on the same 5,000,000-byte file with 10,000 occurrences, in one
# run: the in-memory transform, then the whole in-place edit against `sed -i`.
# Usage: bench/replace_compare.sh [RUNS]   (builds the bench preset into build/bench)
# X5_BENCH_DIR names another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/bench.sh
runs="${1:-15}"
x5_bench_native replace_bench
build="$x5_bench_dir"

work="$(mktemp -d /tmp/x5replace.XXXXXX)"
trap 'rm -rf "$work"' EXIT
find_text=NEEDLE42
replacement=REPLACED-TEXT

# Log-like lines with the find text every 500 bytes: 10,000 occurrences in 5,000,000 bytes.
python3 - "$work/original.txt" "$find_text" <<'PY'
import sys
path, needle = sys.argv[1], sys.argv[2]
line = "2024-05-01 12:00:00 INFO worker 17 processed batch item ok\r\n"
size, every = 5_000_000, 500
out = bytearray()
while len(out) < size:
    room = min(every - len(needle), size - len(out))
    out += (line * (room // len(line) + 1))[:room].encode()
    if len(out) + len(needle) <= size:
        out += needle.encode()
open(path, "wb").write(bytes(out[:size]))
PY
cat "$work/original.txt" >/dev/null  # warm the page cache

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
time_ms() {  # time_ms COMMAND...: milliseconds of one run, the command's output discarded
  local start end
  start=$(date +%s%N); "$@" >/dev/null; end=$(date +%s%N)
  echo $(( (end - start) / 1000 )) | awk '{ printf "%.2f\n", $1 / 1000 }'
}

echo "== x5 replace (same process timings)"
cp "$work/original.txt" "$work/x5.txt"
x5_out=$("$build/replace_bench" "$work/x5.txt" "$find_text" "$replacement" "$runs")
echo "$x5_out"

echo "== sed $(sed --version | head -1 | awk '{print $NF}'), median of $runs runs"
sed_stream=$(for _ in $(seq "$runs"); do
  time_ms sed "s/$find_text/$replacement/g" "$work/original.txt"
done | median)
sed_stream_i=$(for _ in $(seq "$runs"); do
  time_ms sed "s/$find_text/$replacement/gI" "$work/original.txt"
done | median)
sed_in_place=$(for _ in $(seq "$runs"); do
  cp "$work/original.txt" "$work/sed.txt"
  time_ms sed -i "s/$find_text/$replacement/g" "$work/sed.txt"
done | median)
# The runner makes the new file durable before it replaces the old one; sed -i does not, so the
# like-for-like reference adds the file's fsync (coreutils sync FILE).
sed_durable=$(for _ in $(seq "$runs"); do
  cp "$work/original.txt" "$work/sed.txt"
  time_ms sh -c "sed -i 's/$find_text/$replacement/g' '$work/sed.txt' && sync '$work/sed.txt'"
done | median)
printf 'sed to /dev/null, exact          %8s ms\n' "$sed_stream"
printf 'sed to /dev/null, ignoring case  %8s ms\n' "$sed_stream_i"
printf 'sed -i in place, exact           %8s ms\n' "$sed_in_place"
printf 'sed -i, then sync of the file    %8s ms\n' "$sed_durable"

# Both must produce the same file.
cp "$work/original.txt" "$work/sed.txt"
sed -i "s/$find_text/$replacement/g" "$work/sed.txt"
if cmp -s "$work/x5.txt" "$work/sed.txt"; then
  echo "outputs identical ($(stat -c %s "$work/sed.txt") bytes)"
else
  echo "OUTPUTS DIFFER" >&2
  exit 1
fi

echo
ms() { awk -v what="$1" 'index($0, what) == 1 { for (i = 1; i < NF; i++) if ($(i + 1) == "ms") {
  print $i; exit } }' <<<"$x5_out"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
x5_bench_figure "replace, whole edit in place / sed -i and sync of the file" \
  "$(ratio "$(ms "whole edit in place")" "$sed_durable")" "<= 1"
x5_bench_figure "replace in memory, ignoring case / exact" \
  "$(ratio "$(ms "in memory, ignoring case")" "$(ms "in memory, exact")")" "<= 1.3"
