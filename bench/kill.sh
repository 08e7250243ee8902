#!/usr/bin/env bash
# KILL latency under Wine inside Xvfb: a runner whose step has 1, 10 and 50 processes in its job,
# against a bare TerminateJobObject of a tree of the same size, in one run.
# Usage: bench/kill.sh [ROUNDS [COUNTS]]. X5_BENCH_PICTURE_INTERVAL=0 turns the runner's pictures
# on (off by default). X5_MINGW_DIR points at another Windows build holding x5bench_kill.exe,
# x5runner.exe and x5step.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
mingw="${X5_MINGW_DIR:-build/mingw}"
if [[ ! -x "$mingw/x5bench_kill.exe" ]]; then
  scripts/setup
  scripts/build >/dev/null
fi
source scripts/lib/wine-env.sh
trap x5_wine_stop EXIT
x5_wine_start
work="$WINEPREFIX/drive_c/x5bench/kill"
mkdir -p "$work/KILL/S01"
cp "$mingw/x5step.exe" "$WINEPREFIX/drive_c/x5bench/"
wine "$mingw/x5bench_kill.exe" "$(winepath -w "$mingw/x5runner.exe")" 'C:\x5bench\x5step.exe' \
  'C:\x5bench\kill\' "${1:-9}" "${2:-1,10,50}"
