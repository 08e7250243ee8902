#!/bin/sh
# A step as a transient systemd unit of the calling user. KillMode=mixed sends the stop signal
# (SIGTERM) to x5ctl alone, which kills the step with its evidence; after TimeoutStopSec the rest
# of the unit gets SIGKILL. With the default KillMode=control-group every process of the unit,
# the runner among them, would get SIGTERM at once and the runner would end without its report.
# Usage: systemd-step.sh TASK.toml JOBLOG     (the unit sees the user manager's environment:
# set WINEPREFIX and DISPLAY there, or pass them with --setenv as below)
exec systemd-run --user --quiet --wait --collect --pipe \
  --property=KillMode=mixed --property=TimeoutStopSec=30 \
  --setenv=WINEPREFIX="${WINEPREFIX:-$HOME/.local/share/x5runner/wine-prefix}" \
  --setenv=DISPLAY="${DISPLAY:-}" --setenv=XAUTHORITY="${XAUTHORITY:-}" \
  "${X5CTL:-$(command -v x5ctl)}" exec "$(realpath "$1")" > "$2"
