#!/bin/sh
# Set up a Debian or Ubuntu machine for Quorrel, build it, and either run it
# or test it:
#   tools/setup.sh run    install what is missing, build, split the sample
#                         novel and open the window
#   tools/setup.sh test   install what is missing, build, run every test
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ pkg-config libicu-dev libgtest-dev qt6-base-dev libgl-dev \
fonts-wqy-microhei xvfb xauth xdotool imagemagick"

install_missing() {
  missing=""
  for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

case "${1:-}" in
  run)
    install_missing
    cmake --preset release >/dev/null
    cmake --build --preset release
    out="build/release/sample-pieces/"
    rm -rf "$out" && mkdir -p "$out"
    build/release/cli/quorrel-split examples/sample-gbk.txt "$out"
    echo "The sample novel's chapters are in $out:"
    ls "$out"
    if [ -x build/release/ui/quorrel ]; then
      if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec build/release/ui/quorrel
      else
        echo "No display: the window would open with build/release/ui/quorrel (or: xvfb-run build/release/ui/quorrel)."
      fi
    fi
    ;;
  test)
    install_missing
    cmake --preset dev >/dev/null
    cmake --build --preset dev
    ctest --preset dev
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
