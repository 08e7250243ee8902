#!/usr/bin/env bash
# Runs the README's shell blocks in order, as a new user pastes them, in a scratch folder that
# sees the checkout's build, examples and scripts, so the README cannot promise what does not
# work. Lines that run the whole suite or a release build (scripts/test, scripts/demo,
# scripts/package) are left out: they are the suite themselves; so are the installed package's
# (sudo apt install, x5ctl on the PATH), which need a machine of their own. Needs the runner's Wine prefix
# and display (WINEPREFIX, DISPLAY, as scripts/test starts them); exit 77 says it cannot run here.
set -euo pipefail
root="$(cd "${1:?usage: readme_blocks.sh SOURCE_DIR BUILD_ROOT}" && pwd)"
build="$(cd "${2:?usage: readme_blocks.sh SOURCE_DIR BUILD_ROOT}" && pwd)"
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  echo "readme: needs WINEPREFIX and DISPLAY (run through scripts/test)" >&2
  exit 77
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
ln -s "$build" "$scratch/build"
ln -s "$root/examples" "$scratch/examples"
ln -s "$root/scripts" "$scratch/scripts"
# What the blocks create in the prefix goes again with the scratch folder.
made="$WINEPREFIX/drive_c/x5demo"
[ -e "$made" ] && made=""
trap 'rm -rf "$scratch"; if [ -n "$made" ]; then rm -rf "$made"; fi' EXIT

# The ```sh blocks, each one script; a line ending in a backslash continues on the next.
blocks="$scratch/blocks"
mkdir "$blocks"
awk -v dir="$blocks" '
  /^```sh$/ { n++; inside = 1; next }
  /^```/ { inside = 0; next }
  inside && $0 !~ /^(scripts\/(test|demo|package)|sudo|x5ctl)([ \t]|$)/ { print > (dir "/" sprintf("%02d", n) ".sh") }
' "$root/README.md"

status=0
for block in "$blocks"/*.sh; do
  echo "== README block $(basename "$block" .sh)"
  sed 's/^/   | /' "$block"
  if ! (cd "$scratch" && bash -euo pipefail "$block") >"$scratch/out" 2>&1; then
    echo "readme: block $(basename "$block" .sh) failed:" >&2
    cat "$scratch/out" >&2
    status=1
  fi
done
exit $status
