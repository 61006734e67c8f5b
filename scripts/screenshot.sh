#!/usr/bin/env bash
# A picture of the desktop application at work: a document with four generated test cameras (a
# 2x2 grid; one of them sees motion all the time and records) is opened on a virtual X display,
# its cameras are activated, and after a few seconds the main window is saved as a PNG (live
# pictures, the panes' state badges and titles, the notifications list).
#
#   scripts/screenshot.sh [TAVRIX_BINARY] [OUTPUT_PNG]     (defaults: build/bin/tavrix build/screenshot.png)
#
# Runs with private settings, user database and record folders, so that nothing of the user's own
# set-up is read or changed.
set -euo pipefail

tavrix=$(realpath "${1:-build/bin/tavrix}")
output=$(realpath -m "${2:-build/screenshot.png}")
delay="${SCREENSHOT_DELAY:-8}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR" "$work/recordings"
chmod 700 "$XDG_RUNTIME_DIR"

document="$work/Backyard.tvrx"
"$tavrix" doc create "$document" --camera "test:motion?on=0-3600000" --camera "test:motion" \
  --camera "test:pinwheel" --camera "test:circular" --record-path "$work/recordings" >/dev/null
"$tavrix" doc set "$document" Cameras.0.CamName "Garden" >/dev/null
"$tavrix" doc set "$document" Cameras.1.CamName "Driveway" >/dev/null
"$tavrix" doc set "$document" Cameras.2.CamName "Porch" >/dev/null
"$tavrix" doc set "$document" Cameras.3.CamName "Garage" >/dev/null

rm -f "$output"
mkdir -p "$(dirname "$output")"
xvfb-run -a -s "-screen 0 1280x900x24" \
  "$tavrix" --activate --screenshot "$output" --screenshot-delay "$delay" "$document"
if [[ ! -s "$output" ]]; then
  echo "screenshot.sh: no picture was written to $output" >&2
  exit 1
fi
echo "$output"
