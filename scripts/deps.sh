#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and the demo need.
# Idempotent and silent when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache git
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libglib2.0-dev libsqlite3-dev sqlite3 libcurl4-openssl-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-plugins-base-apps
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
  libdw-dev libunwind-dev gdb
  qt6-base-dev xvfb xauth
  dbus dbus-bin dbus-daemon
  python3-aiosmtpd python3-pyftpdlib python3-jsonschema
  libsystemd-dev systemd librsvg2-bin gzip groff-base file libpng-dev
  desktop-file-utils appstream lintian dpkg-dev fakeroot
  nlohmann-json3-dev libsoup-3.0-dev libargon2-dev libmosquitto-dev mosquitto mosquitto-clients
  libgstrtspserver-1.0-dev gstreamer1.0-rtsp chromium chromium-driver python3-selenium nodejs
  libjpeg62-turbo-dev
)
# Packages only the benchmarks need (the OpenCV comparison; Motion, the peer on network cameras).
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libopencv-dev)
  packages+=(motion)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q >/dev/null
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
