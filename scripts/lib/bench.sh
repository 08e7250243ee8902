# Sourced by the benchmarks: builds what they run and prints their figures in the one form that
# scripts/bench gathers into its table. Each benchmark also prints its own figures in full.

x5_bench_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Compiler cache shared with scripts/build: paths relative to the checkout, so one compile serves
# every worktree.
if command -v ccache >/dev/null 2>&1 && [ "${X5_NO_CCACHE:-0}" != "1" ]; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$x5_bench_root" CCACHE_NOHASHDIR=1
fi

# x5_bench_mingw: the Windows build the Wine benchmarks run, brought up to date (a quick no-op when
# it is), in $x5_mingw. X5_MINGW_DIR names another build, taken as it is.
x5_bench_mingw() {
  if [ -n "${X5_MINGW_DIR:-}" ]; then
    x5_mingw="$X5_MINGW_DIR"
    return
  fi
  x5_mingw="$x5_bench_root/build/mingw"
  (cd "$x5_bench_root" && cmake --preset mingw >/dev/null && cmake --build --preset mingw >/dev/null)
}

# x5_bench_native TARGET...: the optimised native build without sanitizers (the bench preset,
# build/bench), those targets brought up to date, in $x5_bench_dir. X5_BENCH_DIR names another
# build directory, which is configured the same way if it has no build yet.
x5_bench_native() {
  x5_bench_dir="${X5_BENCH_DIR:-$x5_bench_root/build/bench}"
  if [ -z "${X5_BENCH_DIR:-}" ]; then
    (cd "$x5_bench_root" && cmake --preset bench >/dev/null)
  elif [ ! -f "$x5_bench_dir/build.ninja" ]; then
    cmake -S "$x5_bench_root" -B "$x5_bench_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DX5_SANITIZE=OFF >/dev/null
  fi
  cmake --build "$x5_bench_dir" --target "$@" >/dev/null
}

# x5_bench_wine: the Wine prefix and display, started here and stopped when the benchmark exits,
# or the ones scripts/bench started for all its benchmarks (X5_BENCH_WINE=1, DISPLAY set).
x5_bench_wine() {
  source "$x5_bench_root/scripts/lib/wine-env.sh"
  [ "${X5_BENCH_WINE:-0}" = "1" ] && [ -n "${DISPLAY:-}" ] && return
  trap x5_wine_stop EXIT
  x5_wine_start
}

# x5_bench_figure WHAT MEASURED GOAL: one figure for the table, GOAL as "<= 1.3" or ">= 0.95".
x5_bench_figure() {
  printf 'figure: %s | %s | %s\n' "$1" "$2" "$3"
}

# x5_bench_ours PATTERN: the processes of this prefix whose command line matches PATTERN, one id a
# line.
x5_bench_ours() {
  local pid
  for pid in $(pgrep -f -- "$1" || true); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
      echo "$pid"
  done
  return 0
}
# x5_bench_new_hosts BEFORE: the console hosts of this prefix that are not in BEFORE (ids a line).
x5_bench_new_hosts() {
  comm -13 <(sort <<<"$1") <(x5_bench_ours 'conhost\.exe' | sort) | grep . || true
}

# x5_bench_start_runner JOB FOLDER COMMAND: a task of one step (job JOB, step S01, its console file
# in C:\x5bench\FOLDER, COMMAND as the Windows command) run by `x5ctl exec` in the background, its
# id in $x5_bench_exec_pid; the prefix's console hosts just before, in $x5_bench_hosts_before.
x5_bench_start_runner() {
  local work="$WINEPREFIX/drive_c/x5bench/$2"
  mkdir -p "$work/$1/S01"
  cat >"$work/task.toml" <<TASK
job_name = "$1"
job_number = $$
job_base_directory = 'C:\\x5bench\\$2\\'
step_directory = "S01"
console_file = 'C:\\x5bench\\$2\\console.txt'
command = '$3'
TASK
  x5_bench_hosts_before="$(x5_bench_ours 'conhost\.exe')"
  "$x5_bench_dir/x5ctl" exec "$work/task.toml" --runner "$x5_mingw/x5runner.exe" >/dev/null 2>&1 &
  x5_bench_exec_pid=$!
}
