# Sourced by scripts/test and scripts/fault-check: the kinds of test, in the order they run, and one
# way to run a kind through ctest, so both scripts run the same labels the same way.

# NAME LABEL JOBS BUILD WINE per kind; JOBS "cores" means one per core, WINE 1 that the kind needs
# the prefix and display. The end-to-end tests run two at a time: those that share the desktop,
# the capture lock or a time bound hold the ctest resource lock "desktop" (CMakeLists.txt). The
# cluster test brings up a one-node Slurm cluster of its own and runs steps through it.
x5_suite_kinds=(
  "layers layers 1 build/native 0"
  "unit unit cores build/native 0"
  "fuzz fuzz cores build/native 0"
  "winunit winunit 1 build/mingw 1"
  "e2e e2e 2 build/native 1"
  "cluster cluster 1 build/native 1"
)

# x5_suite_run LABEL JOBS BUILD LOG: runs the label's tests with their output in LOG; ctest's exit
# status. X5_CTEST_OPTIONS adds options to ctest (the fault check's --stop-on-failure).
x5_suite_run() {
  local label="$1" jobs="$2" build="$3" log="$4"
  [ "$jobs" = "cores" ] && jobs="$(nproc)"
  # shellcheck disable=SC2086
  ctest --test-dir "$build" -L "$label" --output-on-failure -j "$jobs" ${X5_CTEST_OPTIONS:-} \
    >"$log" 2>&1
}

# x5_suite_counts LOG: "PASSED FAILED" from a ctest log ("0 0" when ctest ran nothing).
x5_suite_counts() {
  local line
  line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n1 || true)"
  if [ -z "$line" ]; then
    echo "0 0"
    return
  fi
  local failed all
  failed="$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")"
  all="$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")"
  echo "$((all - failed)) $failed"
}

# x5_suite_failed LOG: the names of the tests that failed, one a line.
x5_suite_failed() {
  sed -n '/The following tests FAILED/,$p' "$1" |
    sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) \(.*$/\1/p'
}
