#!/bin/sh
# One runner step from a shell script: the job log goes to a file, and the exit status of
# `x5ctl exec` says what became of the step (docs/x5ctl.md, "Exit status").
# Usage: step.sh TASK.toml JOBLOG     (X5CTL names x5ctl when it is not on PATH)
"${X5CTL:-x5ctl}" exec "$1" > "$2"
status=$?
case $status in
  0) echo "step done" ;;
  120) echo "job ended as requested" ;;
  121) echo "step skipped by the RC rules" ;;
  122) echo "no command to run" ;;
  116) echo "time limit reached, step killed" ;;
  118 | 119 | 123) echo "the runner failed ($status), see the messages above" ;;
  *) if [ "$status" -gt 128 ]; then
       echo "stopped by signal $((status - 128)), step killed"
     else
       echo "step failed with RC $status"
     fi ;;
esac
exit $status
