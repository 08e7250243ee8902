#!/usr/bin/env bash
# Start-up and STAT round-trip figures of the runner under a warm Wine, side by side with bare
# references measured in the same run. Usage: bench/pipes.sh [STARTS] [ROUNDS]
# X5_MINGW_DIR points at another Windows build holding x5bench_pipes.exe and the runner.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/bench.sh
x5_bench_mingw
x5_bench_wine
# The step folder, as a parent makes it: the runner watches it for picture requests.
mkdir -p "$WINEPREFIX/drive_c/x5bench/BENCH/S01"
cp "$x5_mingw/x5step.exe" "$WINEPREFIX/drive_c/x5bench/"
wine "$x5_mingw/x5bench_pipes.exe" "$(winepath -w "$x5_mingw/x5runner.exe")" \
  "$(winepath -w "$x5_mingw/x5bench_trivial.exe")" 'C:\x5bench\x5step.exe sleep 600000' \
  "${1:-20}" "${2:-2000}"
