#!/usr/bin/env bash
# KILL latency under Wine inside Xvfb: a runner whose step has 1, 10 and 50 processes in its job,
# against a bare TerminateJobObject of a tree of the same size, in one run.
# Usage: bench/kill.sh [ROUNDS [COUNTS]]. X5_BENCH_PICTURE_INTERVAL=0 turns the runner's pictures
# on (off by default). X5_MINGW_DIR points at another Windows build holding x5bench_kill.exe,
# x5runner.exe and x5step.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/bench.sh
x5_bench_mingw
x5_bench_wine
work="$WINEPREFIX/drive_c/x5bench/kill"
mkdir -p "$work/KILL/S01"
cp "$x5_mingw/x5step.exe" "$WINEPREFIX/drive_c/x5bench/"
wine "$x5_mingw/x5bench_kill.exe" "$(winepath -w "$x5_mingw/x5runner.exe")" \
  'C:\x5bench\x5step.exe' 'C:\x5bench\kill\' "${1:-9}" "${2:-1,10,50}"
