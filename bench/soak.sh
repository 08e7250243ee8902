#!/usr/bin/env bash
# COUNT runners at once under Wine inside one Xvfb, each capturing: its step prints 200 lines (2
# every 100 ms) and leaves a process with a window behind (waiting until that window is up, however
# slowly its process starts, up to 15 minutes), which the runner pictures (under the capture lock)
# and ends after the final report. Every step must end STEP OK with its whole job log (every line,
# none lost), its picture and its ending line, and the capture lock must be free at the end. Prints
# the wall time and when the steps' lines and windows were done.
# Usage: bench/soak.sh [COUNT]. X5_MINGW_DIR points at another Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/bench.sh
x5_bench_mingw
x5_bench_native x5ctl
# A display of its own: each runner holds several X clients (runner, console host, the window).
export X5_XVFB_ARGS="-maxclients 2048"
unset X5_BENCH_WINE
x5_bench_wine
# The prefix's settings as setup-host makes them now (a prefix built earlier may keep consoles
# of 9001 rows, whose hosts would exhaust the memory).
settings="$("$x5_bench_dir/x5ctl" setup-host --prefix "$WINEPREFIX" --display "$DISPLAY" 2>&1)" ||
  { echo "$settings" >&2; exit 1; }
count="${1:-64}"
work="$WINEPREFIX/drive_c/x5bench/soak"
rm -rf "$work"
mkdir -p "$work"
cp "$x5_mingw/x5step.exe" "$WINEPREFIX/drive_c/x5bench/"
# With the parent key present the capture lock is taken for every picture, as on a host.
wine reg add 'HKLM\Software\Halvex' /f >/dev/null 2>&1
for i in $(seq "$count"); do
  mkdir -p "$work/J$i/S01"
  cat >"$work/J$i/task.toml" <<TASK
job_name = "J$i"
job_number = $i
job_base_directory = 'C:\\x5bench\\soak\\'
step_directory = "S01"
console_file = 'C:\\x5bench\\soak\\J$i\\console.txt'
picture_interval = 0
command = 'C:\\x5bench\\x5step.exe paced 200 60 2 100 since lines-done spawn 6 window SOAK$i signal SOAK$i sleep 600000 await SOAK$i 900000 since window-after'
TASK
done
# The desktop is up before the runners start (the window x5_wine_ready keeps), as on a host whose
# session is open: an idle prefix starts its desktop process for the first window it needs and
# gives it a fixed time, which 256 runners starting at once outlast, and then every console and
# window of theirs is refused ("The explorer process failed to start").
start="$(date +%s.%N)"
pids=()
for i in $(seq "$count"); do
  "$x5_bench_dir/x5ctl" exec "$work/J$i/task.toml" --runner "$x5_mingw/x5runner.exe" \
    --timeout 1200 >"$work/J$i/out.txt" 2>"$work/J$i/err.txt" &
  pids+=($!)
done
failed=0
for i in $(seq "$count"); do
  wait "${pids[$((i - 1))]}" || true
done
end="$(date +%s.%N)"
for i in $(seq "$count"); do
  d="$work/J$i"
  if ! grep -q 'status "STEP OK "' "$d/err.txt" ||
    [ "$(grep -c '^output line [0-9]*\.' "$d/console.txt" 2>/dev/null)" != 200 ] ||
    grep -q '^\*\* Rows scrolled' "$d/console.txt" ||
    ! grep -q "Ending process #.*windows: \"SOAK$i\"" "$d/console.txt" ||
    [ -z "$(find "$d/S01" -iname '*.jpg' -size +0 | head -n1)" ]; then
    failed=$((failed + 1))
    [ "$failed" -le 3 ] && { echo "step $i incomplete:"; tail -n 3 "$d/err.txt" "$d/console.txt"; }
  fi
done
# When each step had written its lines and when its window came up (from the step's start): where
# a slow soak's time went.
for what in lines-done window-after; do
  # A job without a console file (its runner never got that far) must not end the count here.
  { sed -n "s/^$what \([0-9]*\) ms.*/\1/p" "$work"/J*/console.txt 2>/dev/null || true; } |
    sort -n | awk -v what="$what" '
    { t[NR] = $1 } END { if (NR) printf "%s (s): median %.0f, 90%% %.0f, last %.0f (%d steps)\n",
      what, t[int((NR + 1) / 2)] / 1000, t[int(NR * 0.9 + 0.5)] / 1000, t[NR] / 1000, NR }'
done
lock="$(wine reg query 'HKLM\Software\Halvex\Capture' /v LOCK 2>/dev/null | tr -d '\r' | awk '/LOCK/ { print $3 }')"
wall="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", b - a }')"
echo "$count runners: $((count - failed)) complete (STEP OK, whole job log, picture, ending line), $wall s, capture lock ${lock:-absent}"
x5_bench_figure "runners capturing at once, all complete, lock free (wall $wall s)" \
  "$([ "$failed" -eq 0 ] && [ "${lock:-0x0}" = "0x0" ] && echo "$count" || echo 0)" ">= $count"
