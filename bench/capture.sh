#!/usr/bin/env bash
# Per-window capture figures under Wine inside Xvfb: the runner's capture against a bare BitBlt and
# codec encode of the same window, in one run. Usage: bench/capture.sh [ROUNDS]
# X5_MINGW_DIR points at another Windows build holding x5bench_capture.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/bench.sh
x5_bench_mingw
x5_bench_wine
# With the parent key present the capture lock is taken and released for every window, as on a
# machine prepared for it.
wine reg add 'HKLM\Software\Halvex' /f >/dev/null 2>&1
out="$WINEPREFIX/drive_c/x5bench/pictures"
rm -rf "$out"
mkdir -p "$out"
wine "$x5_mingw/x5bench_capture.exe" 'C:\x5bench\pictures\' "${1:-30}"
