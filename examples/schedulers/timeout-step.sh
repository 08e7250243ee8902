#!/bin/sh
# A step with a time limit. When LIMIT has passed, timeout sends SIGTERM to x5ctl, which kills
# the step with its evidence (KILL, job log) and exits with 143; --preserve-status passes that on
# instead of timeout's own 124 (which x5ctl never exits with). x5ctl exec --time-limit does the
# same without timeout, exiting with 116. A step still not ended 30 s later gets SIGKILL: x5ctl dies, its
# runner dies with it, and the runner's job ends the step.
# Usage: timeout-step.sh LIMIT TASK.toml JOBLOG     (LIMIT as timeout takes it: 90s, 2h, ...)
exec timeout --preserve-status --kill-after=30s "$1" "${X5CTL:-x5ctl}" exec "$2" > "$3"
