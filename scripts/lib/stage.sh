# Sourced by the scripts: one line when a stage starts, one with its time when it ends. A stage's
# own output goes to a log under build/logs and is shown only when the stage fails.

x5_stage_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
x5_stage_logs="$x5_stage_root/build/logs"

x5_now() { date +%s.%N; }

x5_elapsed() {  # seconds since $1, as "12.3 s" or "3 min 4 s"
  awk -v s="$1" -v e="$(x5_now)" 'BEGIN { d = e - s; if (d < 60) printf "%.1f s", d;
    else printf "%d min %d s", int(d / 60), int(d) % 60 }'
}

# x5_stage SCRIPT NAME COMMAND...: runs COMMAND with its output in build/logs/SCRIPT-NAME.log.
x5_stage() {
  local script="$1" name="$2"
  shift 2
  mkdir -p "$x5_stage_logs"
  local log="$x5_stage_logs/$script-${name// /-}.log"
  local start
  start="$(x5_now)"
  echo "$script: $name ..."
  local rc=0
  "$@" >"$log" 2>&1 || rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "$script: $name done in $(x5_elapsed "$start")"
    return 0
  fi
  echo "$script: $name FAILED after $(x5_elapsed "$start") (exit $rc); the end of $log:"
  tail -n 40 "$log" | sed 's/^/  | /'
  return "$rc"
}

# x5_stage_shown SCRIPT NAME COMMAND...: as x5_stage, but the stage's output is the point (test
# results, the demo's conversation), so it goes to the terminal as it comes.
x5_stage_shown() {
  local script="$1" name="$2"
  shift 2
  local start rc=0
  start="$(x5_now)"
  echo "$script: $name ..."
  "$@" || rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "$script: $name done in $(x5_elapsed "$start")"
  else
    echo "$script: $name FAILED after $(x5_elapsed "$start") (exit $rc)"
  fi
  return "$rc"
}
