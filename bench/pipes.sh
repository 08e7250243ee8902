#!/usr/bin/env bash
# Start-up and STAT round-trip figures of the runner under a warm Wine, side by side with bare
# references measured in the same run. Usage: bench/pipes.sh [STARTS] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup
scripts/build >/dev/null
source scripts/lib/wine-env.sh
trap x5_wine_stop EXIT
x5_wine_start
mkdir -p "$WINEPREFIX/drive_c/x5bench"
cp build/mingw/x5step.exe "$WINEPREFIX/drive_c/x5bench/"
wine build/mingw/x5bench_pipes.exe "$(winepath -w build/mingw/x5runner.exe)" \
  "$(winepath -w build/mingw/x5bench_trivial.exe)" 'C:\x5bench\x5step.exe sleep 600000' \
  "${1:-20}" "${2:-2000}"
