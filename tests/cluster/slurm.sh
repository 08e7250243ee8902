#!/usr/bin/env bash
# The Slurm examples of docs/schedulers.md on a real one-node cluster: steps submitted with sbatch
# through `x5ctl exec`, what Slurm records as their exit codes, what each way of cancelling leaves
# (the KILL report, the job log, nothing of the step running) under each kind of process
# tracking, and a job of three steps submitted as a chain with `x5ctl job submit`, cancelled and
# started again.
#
# Usage: tests/cluster/slurm.sh X5CTL FOLDER
#   X5CTL   the x5ctl the batch jobs run (ctest gives the release build's)
#   FOLDER  the cluster's configuration, key, state and logs (made afresh)
# WINEPREFIX and DISPLAY come from scripts/lib/wine-env.sh; X5_MINGW_DIR holds x5step.exe.
# Exit status 0 passed, 1 failed, 77 skipped: not root, the packages missing or no Wine. In CI
# (CI=true) a skip is a failure: the suite must run there.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
x5ctl="$(realpath -m "${1:?usage: slurm.sh X5CTL FOLDER}")"
cluster="${2:?usage: slurm.sh X5CTL FOLDER}"
mingw="$(realpath "${X5_MINGW_DIR:-$root/build/mingw}")"
examples="$root/examples/schedulers"
source "$root/scripts/lib/slurm-cluster.sh"

skip() {
  echo "slurm: skipped: $1"
  if [ "${CI:-}" = "true" ]; then
    echo "slurm: CI must run this test"
    exit 1
  fi
  exit 77
}
why="$(x5_slurm_usable 2>&1)" || skip "$why"
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  skip "needs WINEPREFIX and DISPLAY (run through scripts/test)"
fi
[ -f "$mingw/x5step.exe" ] || skip "no x5step.exe in $mingw"
[ -x "$x5ctl" ] || skip "no x5ctl at $x5ctl (scripts/build makes the release x5ctl)"

trap x5_slurm_stop EXIT
trap 'exit 1' INT TERM

# The steps' folder, as Wine and as Linux see it.
win='C:\x5cluster'
work="$WINEPREFIX/drive_c/x5cluster"
rm -rf "$work"
mkdir -p "$work/bin" "$work/JOB/S01"
cp "$mingw/x5step.exe" "$work/bin/"
step="$win\\bin\\x5step.exe"
cd "$work" || exit 1

passed=0
failed=0
check() {  # check NAME CONDITION...: one result line
  local name="$1"
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $name ($(($(date +%s) - start)) s)"
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
  fi
}
has() { grep -qF -- "$2" "$1" 2>/dev/null; }
lacks() { ! grep -qF -- "$2" "$1" 2>/dev/null; }
equals() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }

# task NAME COMMAND [MORE TOML]: NAME.toml, its console file NAME.log. Each task has a job number
# of its own: runners side by side must not share a console title.
job_number=0
task() {
  job_number=$((job_number + 1))
  cat >"$1.toml" <<EOF
job_name = 'JOB'
job_number = $job_number
job_base_directory = '$win\\'
step_directory = 'S01'
console_file = '$win\\$1.log'
command = '$2'
${3:-}
EOF
}
# A step that says it runs (NAME.run) and then runs with two more processes for two minutes.
long_task() {
  task "$1" "$step write $win\\$1.run yes tree 2 $win\\$1.pids 120000"
}

# submit NAME [SBATCH OPTIONS...] -- [EXEC OPTIONS...]: the example batch script on NAME.toml;
# prints the job id. Job log in NAME.out, reports in NAME.err.
submit() {
  local name="$1" options=()
  shift
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift
  rm -f "$name.out" "$name.err" "$name.run" "$name.pids"
  X5CTL="$x5ctl" sbatch --parsable --job-name="$name" --output="$work/$name.out" \
    --error="$work/$name.err" "${options[@]}" "$examples/slurm-step.sh" "$work/$name.toml" "$@"
}

# until_ SECONDS CONDITION...: polls every 0.1 s; whether the condition came true in time.
until_() {
  local limit=$(($1 * 10)) i
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
job_field() { scontrol show job "$1" 2>/dev/null | grep -oE "\\b$2=[^ ]*" | head -n1 | cut -d= -f2; }
job_over() {
  case "$(job_field "$1" JobState)" in
    PENDING | RUNNING | COMPLETING | SUSPENDED | CONFIGURING) return 1 ;;
  esac
}
# finish ID: waits for the job's end (90 s at most); its exit code as Slurm records it.
finish() {
  until_ 90 job_over "$1" || echo "  job $1 did not end in 90 s" >&2
  job_field "$1" ExitCode
}
# How many of the step's processes still run.
alive() {
  wine "$work/bin/x5step.exe" alive "$win\\$1.pids" >/dev/null 2>&1
  echo $?
}
# The step's processes are gone (they end with the runner's job; give them a moment).
none_left() { until_ 20 [ "$(alive "$1")" = 0 ]; }
# A killed step with its evidence: exit 143, the KILL report, the job log with the ended processes.
killed_with_evidence() {
  equals "$2" "143:0" && has "$1.err" "KILLED on user request" &&
    has "$1.err" "exit status 143" && has "$1.out" "Ending process #"
}

start="$(date +%s)"
if ! x5_slurm_start "$cluster" pgid; then
  echo "slurm: the cluster did not come up"
  exit 1
fi
echo "slurm: one node idle after $(($(date +%s) - start)) s (process tracking by process group)"

# The time limit comes first: Slurm sends the early signal on its own periodic check, up to half a
# minute late, while the other cases run.
long_task limit
limit_id="$(submit limit --time=1 --signal=B:TERM@58)"

task ran "$step echo from-the-step"
code="$(finish "$(submit ran)")"
ran_shown() {
  equals "$code" "0:0" && has ran.out "from-the-step" && has ran.out "RC#" &&
    has ran.err "exit status 0"
}
check "a step that runs: exit code 0, the job log in the output file" ran_shown

task abended "$step echo from-the-step" "conditions = \"+>\\nR=8 F=(C:\\\\nosuch.txt > 0)\""
code="$(finish "$(submit abended)")"
abend_shown() { equals "$code" "8:0" && has abended.out "from-the-step" && has abended.err "abended"; }
check "a step the rules fail: Slurm records its RC 8" abend_shown

# A job of three steps submitted as a chain with `x5ctl job submit`: the first leaves RC 3 (a rule
# after it), the second (range 1..2) is skipped by it, the third is cancelled while it runs; the
# job's state says so. Submitted again from the third (changed meanwhile), the third runs with the
# RC the job had there. afterany: the RC rules, not Slurm, decide what runs after a failed or
# skipped step.
job_number=$((job_number + 1))
write_job() {  # write_job THIRD-COMMAND
  cat >chain.toml <<EOF
job_name = 'CHAIN'
job_number = $job_number
job_base_directory = '$win\\'
console_file = '$win\\chain.log'
[[step]]
name = 'first'
command = '$step echo chain-first'
conditions = "+>\\nR=3 F=(C:\\\\nosuch.txt > 0)"
[[step]]
step_maximum_rc = 2
command = '$step echo chain-second'
[[step]]
name = 'third'
command = '$1'
EOF
}
# The Slurm jobs a submission printed, and the table's row of a step.
slurm_ids() { sed -n 's/^step [0-9]* (.*): Slurm job \([0-9]*\)$/\1/p'; }
row() { grep -E "^ +$1 " <<<"$2"; }
rm -rf chain.state chain.run
write_job "$step write $win\\chain.run yes sleep 120000"
read -r -a ids <<<"$("$x5ctl" job submit --slurm chain.toml | slurm_ids | tr '\n' ' ')"
until_ 90 [ -e chain.run ]
scancel --batch --signal=TERM "${ids[2]:-none}"
codes="$(finish "${ids[0]:-none}") $(finish "${ids[1]:-none}") $(finish "${ids[2]:-none}")"
table="$("$x5ctl" job status chain.toml)"
stopped_at_third() {
  equals "$codes" "0:0 121:0 143:0" &&
    has "chain.state/step-1-${ids[0]}.log" "RC 3 written to" &&
    has "chain.state/step-2-${ids[1]}.log" "NOT executed" &&
    lacks "chain.state/step-2-${ids[1]}.log" "chain-second" &&
    row 1 "$table" | grep -qE '"STEP OK " +3 \+ +0 .* 0 ran$' &&
    row 2 "$table" | grep -qE '"RC <>   " +3 \+ +- .* 121 skipped$' &&
    row 3 "$table" | grep -qE '"STEP OK " +3 \+ .* 143 stopped by signal 15$' &&
    grep -q '^job exit status 143: the job stopped at step 3 (third)' <<<"$table" ||
    { sed 's/^/  | /' <<<"$table"; return 1; }
}
check "job submit: a chain of three, the second skipped by the first's RC, the third cancelled" \
  stopped_at_third
write_job "$step echo chain-third-task-rc-%X5TRC%"
id="$("$x5ctl" job submit --slurm --from 3 chain.toml | slurm_ids)"
code="$(finish "${id:-none}")"
table="$("$x5ctl" job status chain.toml)"
restarted() {
  equals "$code" "0:0" && has "chain.state/step-3-$id.log" "chain-third-task-rc-3" &&
    row 1 "$table" | grep -qE ' 0 ran$' && row 3 "$table" | grep -qE '"STEP OK " +3 \+ .* 0 ran$' &&
    grep -q '^job exit status 0: ' <<<"$table" && equals "$(cat chain.state/job.rc)" 3 ||
    { sed 's/^/  | /' <<<"$table"; return 1; }
}
check "job submit --from 3: the third runs again with the RC the job had there" restarted

# scancel --signal without --batch signals the job's steps other than the batch step, and a batch
# job has no others: nothing happens. With --batch the batch step (x5ctl) alone gets it.
long_task batch
id="$(submit batch)"
until_ 60 [ -e batch.run ]
scancel --signal=TERM "$id"
sleep 3
runs_on() { equals "$(job_field "$id" JobState)" RUNNING && lacks batch.err "KILL"; }
check "scancel --signal=TERM without --batch: the job runs on" runs_on
scancel --batch --signal=TERM "$id"
code="$(finish "$id")"
check "scancel --batch --signal=TERM: exit 143 with the KILL report and the job log" \
  killed_with_evidence batch "$code"
check "scancel --batch --signal=TERM: nothing of the step left running" none_left batch

code="$(finish "$limit_id")"
# Once Slurm was seen to show this job 0:0 although x5ctl had ended 143 (its own last line says
# so): read the record again after a moment, and show all of it if it still disagrees.
if [ "$code" != "143:0" ]; then
  sleep 5
  code="$(job_field "$limit_id" ExitCode)"
  [ "$code" = "143:0" ] || scontrol show job "$limit_id" | sed 's/^/  | /'
fi
check "--signal=B:TERM@N before the time limit: exit 143 with the evidence" \
  killed_with_evidence limit "$code"
check "--signal=B:TERM@N: nothing left running" none_left limit

# A plain scancel sends SIGTERM to what the process tracking holds. By process group: the batch
# step's group, and x5ctl started its runner in a group of its own. By control group: the evidence
# is kept as well. By parent process: the runner descends from the batch step, so it gets the
# signal too and Wine ends it at once.
evidence_lost() {
  equals "$2" "143:0" && lacks "$1.err" "KILLED on user request" && lacks "$1.out" "Ending process #"
}
for tracking in pgid cgroup linuxproc; do
  if [ "$tracking" != pgid ]; then
    x5_slurm_stop
    if ! x5_slurm_start "$cluster" "$tracking"; then
      check "the cluster with process tracking $tracking" false
      continue
    fi
  fi
  name="plain-$tracking"
  long_task "$name"
  id="$(submit "$name")"
  until_ 60 [ -e "$name.run" ]
  scancel "$id"
  code="$(finish "$id")"
  if [ "$tracking" = linuxproc ]; then
    check "plain scancel, tracking $tracking: exit 143, the evidence lost" \
      evidence_lost "$name" "$code"
  else
    check "plain scancel, tracking $tracking: exit 143 with the evidence" \
      killed_with_evidence "$name" "$code"
  fi
  check "plain scancel, tracking $tracking: nothing left running" none_left "$name"
done

echo "slurm: all cases in $(($(date +%s) - start)) s"
echo "slurm: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
