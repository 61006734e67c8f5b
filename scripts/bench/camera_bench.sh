#!/usr/bin/env bash
# Cameras running headless: CPU per camera and second (Tavrix's own per-frame work, OnFrame, apart
# from the rest: GStreamer's capture, conversion and sink, and the recordings' encoding), peak
# memory, and the time from the first frame with motion to the recording pipeline running (goal:
# under 300 ms), for one and for four test cameras at 640x480 and 25 frames a second, each run 30 s
# with motion at 5-8 s, 15-18 s and 25-28 s; then one camera that only detects (below).
#
# BENCH_LONG=1 adds the long run: one camera for 10 minutes with motion every 6 seconds, its
# resident memory sampled every 30 seconds; it reports the growth after the first minute.
#
# Usage: scripts/bench/camera_bench.sh [BUILD_DIR]   (default build-bench)
set -euo pipefail
build=${1:-build-bench}
tavrix="$build/bin/tavrix"
[[ -x "$tavrix" ]] || { echo "camera_bench: $tavrix is missing" >&2; exit 1; }
seconds=${BENCH_SECONDS:-30}

work=$(mktemp -d /tmp/tavrix-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
export GST_REGISTRY="$work/registry.bin"

# make_document FILE CAMERAS WINDOWS
make_document() {
  local file=$1 cameras=$2 windows=$3 args=()
  for ((i = 0; i < cameras; i++)); do args+=(--camera "test:motion?on=$windows"); done
  "$tavrix" doc create "$file" "${args[@]}" --record-path "$work/rec" >/dev/null
  for ((i = 0; i < cameras; i++)); do
    for setting in "VideoSize.cx 640" "VideoSize.cy 480" "FPS 25" "MotionPreEventDelay 2000" \
                   "MotionStopDelay 1000"; do
      # shellcheck disable=SC2086
      "$tavrix" doc set "$file" Cameras.$i.$setting >/dev/null
    done
  done
}

# run CAMERAS: one headless run, then its figures.
run() {
  local cameras=$1 file="$work/bench$1.tvrx"
  rm -rf "$work/rec" && mkdir -p "$work/rec"
  make_document "$file" "$cameras" "5000-8000,15000-18000,25000-28000"
  "$tavrix" --headless --activate --stats --duration "$seconds" "$file" >"$work/log$cameras.txt" 2>"$work/stats$cameras.txt"
  awk -v cameras="$cameras" '
    /^stats\t/ {
      for (i = 4; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
      onframe += v["onframe_ms_per_s"]; frames += v["frames"]; us += v["onframe_us_per_frame"]
      recordings += v["recordings"]; latency += v["start_latency_ms_avg"] * v["recordings"]
      if (v["start_latency_ms_max"] > maxlatency) maxlatency = v["start_latency_ms_max"]
    }
    /^process\t/ {
      for (i = 2; i <= NF; i++) { split($i, kv, "="); p[kv[1]] = kv[2] }
    }
    END {
      cpu = (p["cpu_user_s"] + p["cpu_sys_s"]) * 1000 / p["wall_s"] / cameras
      own = onframe / cameras
      printf "%d camera(s), %.0f s: %d frames (%.1f a second per camera)\n", cameras, p["wall_s"], frames, frames / p["wall_s"] / cameras
      printf "  CPU per camera and second: %.1f ms in all, of it %.1f ms Tavrix OnFrame (%.0f us a frame), %.1f ms GStreamer and recording\n", cpu, own, us / cameras, cpu - own
      printf "  peak memory: %.1f MB\n", p["max_rss_kb"] / 1024
      if (recordings > 0)
        printf "  first frame with motion to recording pipeline running: %.1f ms on average, %.1f ms at most (%d recordings; goal under 300 ms)\n", latency / recordings, maxlatency, recordings
      else
        printf "  no recording was started\n"
    }' "$work/stats$cameras.txt"
  if grep -q "tavrix: error" "$work/stats$cameras.txt"; then
    echo "  errors:"; grep "tavrix: error" "$work/stats$cameras.txt" | sed 's/^/    /'
  fi
}

run 1
run 4

# Detection only: one camera in a webcam's own format (YUY2) at 640x480 and 15 frames a second on
# a still picture (nothing records), watched with the default pre-event time. Its cost beyond
# GStreamer's: the process's CPU less that of the same source, converted to the I420 Tavrix takes,
# into a fakesink (the floor), as % of one core (goal: at most 0.25 %).
detection_only() {
  local file="$work/yuy2.tvrx" floor_file="$work/floor.txt"
  rm -rf "$work/rec" && mkdir -p "$work/rec"
  "$tavrix" doc create "$file" --camera "test:smpte75?format=YUY2" --record-path "$work/rec" >/dev/null
  for setting in "VideoSize.cx 640" "VideoSize.cy 480" "FPS 15" \
                 "MediaSubtype {32595559-0000-0010-8000-00AA00389B71}"; do
    # shellcheck disable=SC2086
    "$tavrix" doc set "$file" Cameras.0.$setting >/dev/null
  done
  "$tavrix" --headless --activate --stats --duration "$seconds" "$file" >/dev/null 2>"$work/yuy2-stats.txt"
  /usr/bin/time -f "floor_cpu_s=%U %S" timeout -s INT "$seconds" gst-launch-1.0 -q videotestsrc \
    pattern=smpte75 is-live=true ! video/x-raw,format=YUY2,width=640,height=480,framerate=15/1 ! \
    videoconvert ! video/x-raw,format=I420 ! fakesink 2>"$floor_file" >/dev/null || true
  awk -v seconds="$seconds" '
    /^floor_cpu_s=/ { split($1, kv, "="); floor = (kv[2] + $2) * 1000 / seconds }
    /^stats\t/ { for (i = 4; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] } }
    /^process\t/ { for (i = 2; i <= NF; i++) { split($i, kv, "="); p[kv[1]] = kv[2] } }
    END {
      cpu = (p["cpu_user_s"] + p["cpu_sys_s"]) * 1000 / p["wall_s"]
      printf "detection only, 640x480 YUY2 at 15 a second, %.0f s: %d frames, %d recordings\n", p["wall_s"], v["frames"], v["recordings"]
      printf "  CPU per second: %.1f ms in all, GStreamer floor %.1f ms, own %.1f ms = %.2f %% of a core (goal 0.25 %%); OnFrame %.1f ms (%.0f us a frame)\n", cpu, floor, cpu - floor, (cpu - floor) / 10, v["onframe_ms_per_s"], v["onframe_us_per_frame"]
    }' "$floor_file" "$work/yuy2-stats.txt"
}
detection_only

if [[ "${BENCH_LONG:-0}" == "1" ]]; then
  file="$work/long.tvrx"
  windows=""
  for ((t = 3000; t < 600000; t += 6000)); do windows+="${windows:+,}$t-$((t + 2000))"; done
  rm -rf "$work/rec" && mkdir -p "$work/rec"
  make_document "$file" 1 "$windows"
  "$tavrix" --headless --activate --duration 600 "$file" >"$work/long.txt" 2>/dev/null &
  pid=$!
  samples=()
  # Every 30 s while the run lasts (the last sample at 9.5 minutes, before the shutdown).
  for ((s = 0; s < 19; s++)); do
    sleep 30
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [[ -n "$rss" ]] && samples+=("$rss")
  done
  wait "$pid" || true
  echo "long run, 10 minutes, motion every 6 s: $(grep -c 'Finished recording' "$work/long.txt") recordings"
  echo "  resident memory every 30 s (MB): $(for k in "${samples[@]}"; do awk -v k="$k" 'BEGIN { printf "%.1f ", k / 1024 }'; done)"
  awk -v first="${samples[1]}" -v last="${samples[-1]}" \
    'BEGIN { printf "  growth from minute 1 to the end: %.1f MB\n", (last - first) / 1024 }'
fi
