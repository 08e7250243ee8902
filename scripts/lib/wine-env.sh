# Sourced by scripts/test, scripts/demo and the benchmarks: a private Wine prefix inside its own
# Xvfb display, started once and stopped by pid when the caller exits.

x5_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export WINEPREFIX="${X5_WINEPREFIX:-$x5_root/build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
x5_xvfb_pid=""

x5_wine_start() {
  x5_wine_begin && x5_wine_ready
}

# x5_wine_begin: starts the display, and the new prefix's set-up in the background when there is
# no prefix yet (half a minute of Wine's own start, which can run beside the compilers); the
# release x5ctl must be built. x5_wine_ready waits for it and warms the prefix.
x5_prefix_pid=""
x5_prefix_log=""
x5_wine_begin() {
  # Consoles need a display; let Xvfb pick a free one so parallel runs do not collide.
  local fdfile
  fdfile="$(mktemp)"
  # X5_XVFB_ARGS: more of Xvfb's options (-maxclients 2048 for hundreds of runners at once).
  # shellcheck disable=SC2086
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp ${X5_XVFB_ARGS:-} 9>"$fdfile" >/dev/null 2>&1 &
  x5_xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.05
  done
  if [ ! -s "$fdfile" ]; then
    echo "wine-env: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"

  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Built and set up as on a host (x5ctl setup-host): the runner's settings are in one place.
    local x5ctl
    for x5ctl in "$x5_root"/build/{release,native,bench}/x5ctl ""; do
      [ -x "$x5ctl" ] && break
    done
    if [ -z "$x5ctl" ]; then
      echo "wine-env: no x5ctl to build the prefix with: run scripts/build" >&2
      return 1
    fi
    # Before the persistent server below: the new prefix is saved when its server ends.
    x5_prefix_log="$(mktemp)"
    "$x5ctl" setup-host --prefix "$WINEPREFIX" --display "$DISPLAY" >"$x5_prefix_log" 2>&1 &
    x5_prefix_pid=$!
  fi
}

x5_wine_ready() {
  if [ -n "$x5_prefix_pid" ]; then
    local rc=0
    wait "$x5_prefix_pid" || rc=$?
    x5_prefix_pid=""
    if [ "$rc" -ne 0 ]; then
      echo "wine-env: x5ctl setup-host failed (exit $rc):" >&2
      cat "$x5_prefix_log" >&2
      rm -f "$x5_prefix_log"
      return "$rc"
    fi
    rm -f "$x5_prefix_log"
  fi
  # A persistent server keeps every later start warm. It answers 2 when a server for this prefix
  # already runs, which is just as good.
  wineserver -p || true
  # Once, so that later pipes close when the child exits.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  x5_desktop_keep
}

# x5_desktop_keep: a window of our own keeps the prefix's desktop process up until x5_wine_stop,
# as a host's open session does. Without one the desktop process ends with the last program that
# had a window, and every later program with a window starts it again (a second more for each of
# them), or it ends with whatever started it, a cluster job's processes for one.
x5_desktop_pid=""
x5_desktop_keep() {
  local step="${X5_MINGW_DIR:-$x5_root/build/mingw}/x5step.exe"
  [ -n "$x5_desktop_pid" ] && kill -0 "$x5_desktop_pid" 2>/dev/null && return 0
  [ -f "$step" ] || return 0
  wine "$step" window X5DESKTOP signal X5DESKTOP sleep 86400000 </dev/null >/dev/null 2>&1 &
  x5_desktop_pid=$!
  wine "$step" await X5DESKTOP 60000 </dev/null >/dev/null 2>&1 ||
    { echo "wine-env: the desktop's window did not come up within 60 s" >&2; return 1; }
}

x5_wine_stop() {
  if [ -n "$x5_prefix_pid" ]; then
    kill "$x5_prefix_pid" >/dev/null 2>&1 || true
    wait "$x5_prefix_pid" 2>/dev/null || true
    x5_prefix_pid=""
  fi
  wineserver -k >/dev/null 2>&1 || true
  # Ended by the server's end; killed as well, so that no path waits on a window left open.
  if [ -n "$x5_desktop_pid" ]; then
    kill "$x5_desktop_pid" >/dev/null 2>&1 || true
    wait "$x5_desktop_pid" 2>/dev/null || true
  fi
  x5_desktop_pid=""
  if [ -n "$x5_xvfb_pid" ]; then
    kill "$x5_xvfb_pid" >/dev/null 2>&1 || true
    wait "$x5_xvfb_pid" 2>/dev/null || true
    x5_xvfb_pid=""
  fi
}
