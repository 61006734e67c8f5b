#!/usr/bin/env bash
# The main job: a camera whose test picture moves at known times (6-9 s and 18-21 s after it
# starts), watched headless for about 30 seconds. Every notification log entry is printed as it
# happens (local time, document, camera, text); the recordings go to demo-recordings/ and are
# checked with ffprobe at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

tavrix=build/bin/tavrix
document=demo-recordings/Demo.tvrx
mkdir -p demo-recordings
rm -f "$document" demo-recordings/*.mp4 demo-recordings/*.mkv demo-recordings/*.wmv demo-recordings/*.avi

echo "== Creating the demo document"
"$tavrix" doc create "$document" --camera 'test:motion?on=6000-9000,18000-21000' --record-path demo-recordings
for setting in "Cameras.0.CamName Porch" "Cameras.0.VideoSize.cx 640" "Cameras.0.VideoSize.cy 480" \
               "Cameras.0.FPS 15" "Cameras.0.MotionPreEventDelay 2000" "Cameras.0.MotionStopDelay 2000"; do
  # shellcheck disable=SC2086
  "$tavrix" doc set "$document" $setting >/dev/null
done

echo "== Running it headless for 30 seconds"
# FFmpeg's encoder notes on standard error are left out; Tavrix's own errors are not.
"$tavrix" --headless --activate --duration 30 "$document" 2> >(grep -v '^\[wmv2 @' >&2)

echo "== Recordings"
for file in demo-recordings/*.mp4 demo-recordings/*.mkv demo-recordings/*.wmv demo-recordings/*.avi; do
  [[ -e "$file" ]] || continue
  summary=$(ffprobe -v error -count_frames -select_streams v:0 \
            -show_entries stream=codec_name,width,height,nb_read_frames:format=format_name,duration \
            -of default=nw=1:nk=0 "$file" | tr '\n' ' ')
  echo "$file: $summary"
done
