#!/usr/bin/env bash
# CPU an idle runner costs under Wine inside Xvfb while its step waits: the runner and the console
# host it starts, over SECONDS, against a bare console program in a console window of its own with
# its host; the Wine server's share and the x5ctl parent's are shown beside them. This idle cost is
# what limits how many runners one host can keep waiting on their steps.
# Usage: bench/idle.sh [SECONDS]. X5_MINGW_DIR points at another Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/bench.sh
x5_bench_mingw
x5_bench_native x5ctl
x5_bench_wine
seconds="${1:-20}"
work="$WINEPREFIX/drive_c/x5bench/idle"
rm -rf "$work"
cp "$x5_mingw/x5step.exe" "$WINEPREFIX/drive_c/x5bench/"
hz="$(getconf CLK_TCK)"

# Clock ticks of user and system time summed over the ids given.
ticks() {
  local total=0 pid fields
  for pid in "$@"; do
    fields="$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null || true)"
    [ -n "$fields" ] || continue
    set -- $fields
    total=$((total + ${12} + ${13}))
  done
  echo "$total"
}
# window PIDS...: "TICKS_OF_GROUP1 ..." over $seconds, groups given as comma-separated ids.
window() {
  local group before=() after=()
  for group in "$@"; do before+=("$(ticks ${group//,/ })"); done
  sleep "$seconds"
  for group in "$@"; do after+=("$(ticks ${group//,/ })"); done
  local i out=()
  for i in "${!before[@]}"; do out+=("$((after[i] - before[i]))"); done
  echo "${out[*]}"
}
ms() { echo $(($1 * 1000 / hz)); }
join() { local IFS=,; echo "$*"; }
server="$(x5_bench_ours 'wineserver' | head -n1)"
sleep_ms=$(((seconds + 5) * 1000))

# The reference, in a console window of its own as the runner's, and written to as the runner's
# is: Wine's console host redraws a window that was written to on a timer (50 ms) from then on.
before="$(x5_bench_ours 'conhost\.exe')"
wine start /wait 'C:\x5bench\x5step.exe' lines 5 0 sleep "$sleep_ms" </dev/null >/dev/null 2>&1 &
started=$!
sleep 4
bare=($(x5_bench_ours "^[^ ]*x5step\.exe lines 5 0 sleep $sleep_ms") $(x5_bench_new_hosts "$before"))
read -r bare_ticks bare_server < <(window "$(join "${bare[@]}")" "$server")
wait "$started" || true

x5_bench_start_runner IDLE idle 'C:\x5bench\x5step.exe lines 5 0 sleep '"$sleep_ms"
sleep 4
runner="$(x5_bench_ours '^[^ ]*x5runner\.exe$')"
host="$(join $(x5_bench_new_hosts "$x5_bench_hosts_before"))"
read -r own_ticks host_ticks runner_server parent_ticks < <(window "$runner" "$host" "$server" "$x5_bench_exec_pid")
runner_ticks=$((own_ticks + host_ticks))
wait "$x5_bench_exec_pid" || true

echo "over ${seconds} s, CPU in ms (user and system):"
echo "  bare console program in its own console window, written to, and its host: $(ms "$bare_ticks"); Wine server meanwhile: $(ms "$bare_server")"
echo "  runner and its console host, step asleep: $(ms "$runner_ticks") ($(ms "$own_ticks") + $(ms "$host_ticks")); Wine server meanwhile: $(ms "$runner_server"); x5ctl parent: $(ms "$parent_ticks")"
per_second() { awk -v t="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.1f", t * 1000 / hz / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
x5_bench_figure "idle runner and its console host / a bare program in a window, CPU ($(per_second "$runner_ticks") / $(per_second "$bare_ticks") ms a second)" "$(ratio "$runner_ticks" "$bare_ticks")" "<= 4"
