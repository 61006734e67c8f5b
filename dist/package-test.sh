#!/usr/bin/env bash
# Checks the Debian package that `make package` built, as a user gets it: its control data and
# contents (dpkg-deb), lintian, then as root an install with dpkg, the installed program run
# (--version, devices, a short headless run recording a file), the service's system user, the
# units checked by systemd, and the package removed again.
#   dist/package-test.sh [BUILD-FOLDER]   (build-package by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
deb=$(ls -t "$build"/tavrix_*.deb 2>/dev/null | head -n 1)
[[ -n "$deb" ]] || { echo "package-test: no package in $build (make package)" >&2; exit 1; }
fail() { echo "package-test: $*" >&2; exit 1; }

echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends
depends=$(dpkg-deb --field "$deb" Depends)
for needed in gstreamer1.0-plugins-base gstreamer1.0-plugins-good libgstreamer1.0-0 libsqlite3-0 libsystemd0; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed"
done
[[ "$depends" != *-dev* ]] || fail "Depends names a -dev package: $depends"
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for path in ./usr/bin/tavrix ./usr/lib/tavrix/gstreamer-1.0/libgsttavrixgrabber.so \
            ./usr/lib/tavrix/gstreamer-1.0/libgsttavrixsource.so ./usr/lib/tavrix/tavrix-service \
            ./lib/systemd/system/tavrix.service ./usr/lib/systemd/user/tavrix.service \
            ./usr/lib/sysusers.d/tavrix.conf ./usr/share/man/man1/tavrix.1.gz \
            ./usr/share/applications/com.kestrova.Tavrix.desktop \
            ./usr/share/metainfo/com.kestrova.Tavrix.metainfo.xml \
            ./usr/share/icons/hicolor/scalable/apps/com.kestrova.Tavrix.svg; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done

echo "== lintian"
lintian --fail-on error,warning "$deb"

if [[ $(id -u) -ne 0 ]]; then
  echo "== not root: install, run and removal skipped"
  exit 0
fi
if dpkg-query -W -f='${Status}' tavrix 2>/dev/null | grep -q "ok installed"; then
  fail "tavrix is installed on this machine already; remove it first (dpkg -r tavrix)"
fi

echo "== dpkg -i"
dpkg -i "$deb"
home=$(mktemp -d /tmp/tavrix-package-test-XXXXXX)
trap 'rm -rf "$home"; dpkg -r tavrix >/dev/null 2>&1 || true' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_STATE_HOME=$home/state \
  GST_REGISTRY=$home/registry.bin
cd "$home"
[[ $(command -v tavrix) == /usr/bin/tavrix ]] || fail "tavrix is not /usr/bin/tavrix"
tavrix --version
tavrix devices | tee devices.txt
grep -q $'^test:ball\tTest picture: moving ball$' devices.txt || fail "devices lacks the test pictures"
tavrix doc create Porch.tvrx --camera 'test:motion?on=1000-2000' --record-path rec
for setting in "Cameras.0.VideoSize.cx 160" "Cameras.0.VideoSize.cy 120" "Cameras.0.FPS 10" \
               "Cameras.0.MotionPreEventDelay 500" "Cameras.0.MotionStopDelay 500"; do
  # shellcheck disable=SC2086
  tavrix doc set Porch.tvrx $setting >/dev/null
done
tavrix --headless --activate --duration 4 Porch.tvrx 2>/dev/null | grep "recording to" || fail "nothing recorded"
ls rec/* >/dev/null || fail "no recording file"
id tavrix
id -nG tavrix | tr ' ' '\n' | grep -qx video || fail "the user tavrix is not in the group video"
systemd-analyze verify --man=no /lib/systemd/system/tavrix.service

echo "== dpkg -r"
cd /
dpkg -r tavrix
for path in /usr/bin/tavrix /usr/lib/tavrix /lib/systemd/system/tavrix.service /usr/share/man/man1/tavrix.1.gz; do
  [[ ! -e "$path" ]] || fail "$path is left after removal"
done
echo "== package test passed"
