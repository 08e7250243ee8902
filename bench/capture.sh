#!/usr/bin/env bash
# Per-window capture figures under Wine inside Xvfb: the runner's capture against a bare BitBlt and
# codec encode of the same window, in one run. Usage: bench/capture.sh [ROUNDS]
# X5_MINGW_DIR points at another Windows build holding x5bench_capture.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
mingw="${X5_MINGW_DIR:-build/mingw}"
if [[ ! -x "$mingw/x5bench_capture.exe" ]]; then
  scripts/setup
  scripts/build >/dev/null
fi
source scripts/lib/wine-env.sh
trap x5_wine_stop EXIT
x5_wine_start
# With the parent key present the capture lock is taken and released for every window, as on a
# machine prepared for it.
wine reg add 'HKLM\Software\Halvex' /f >/dev/null 2>&1
out="$WINEPREFIX/drive_c/x5bench/pictures"
rm -rf "$out"
mkdir -p "$out"
wine "$mingw/x5bench_capture.exe" 'C:\x5bench\pictures\' "${1:-30}"
