#!/bin/sh
# One runner step as a Slurm batch job. x5ctl becomes the batch step's own process (exec), so the
# signals Slurm sends to the batch step reach it alone: SIGTERM 120 s before the time limit
# (--signal=B:TERM@120) kills the step with its evidence before Slurm's own end of the job. The
# job log goes to the job's output file, the reports to its error output; the exit status of
# `x5ctl exec` is the job's exit code.
# Usage: sbatch slurm-step.sh TASK.toml [x5ctl exec options]     (X5CTL names x5ctl when it is
# not on PATH; options on sbatch's command line replace the ones below)
#SBATCH --job-name=x5-step
#SBATCH --time=02:00:00
#SBATCH --signal=B:TERM@120
exec "${X5CTL:-x5ctl}" exec "$@"
