#!/bin/sh
# Set up a Debian or Ubuntu machine for Quorrel, build it, and either run it
# or test it:
#   tools/setup.sh run    install what is missing, build, split the sample
#                         novel and open the window
#   tools/setup.sh test   install what is missing, build, run every test, then
#                         build again with the address and undefined-behaviour
#                         sanitizers (preset asan) and run every test again,
#                         then a short fixed-count fuzzing run (clang), then
#                         what windows-test does
#   tools/setup.sh windows
#                         install what is missing, build a static ICU for
#                         MinGW once per machine (tools/windows/build-icu.sh),
#                         cross-build the Windows programs into build/windows/
#                         and pack them (zip and installer)
#   tools/setup.sh windows-test
#                         the same, then run the Windows tests under wine
#   tools/setup.sh fuzz [SECONDS]
#                         build the libFuzzer target with clang and fuzz the
#                         splitter for SECONDS (default 600); findings go to
#                         build/fuzz/findings/
set -eu
cd "$(dirname "$0")/.."

packages="cmake ninja-build g++ pkg-config libicu-dev libgtest-dev qt6-base-dev libgl-dev \
qt6-translations-l10n fonts-wqy-microhei xvfb xauth xdotool imagemagick openbox \
desktop-file-utils appstream lintian dpkg-dev man-db"

install_missing() {
  missing=""
  for p in $packages ${extra_packages:-}; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# The libFuzzer target needs clang; the window is not part of it.
fuzz_packages="clang-14 libclang-rt-14-dev"
build_fuzz() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
}

# Cross-building for Windows: the compiler, wine to run the tests, NSIS and
# zip for the packages; dpkg-dev, make and python3 build ICU from Debian's
# source package; googletest is GoogleTest's sources. The window's test adds
# xmodmap (x11-xserver-utils), to give the Chinese it types keys of their
# own, and wine's own fonts (the title bar's close glyph, Marlett).
windows_packages="g++-mingw-w64-x86-64-posix wine wine64 nsis zip dpkg-dev make python3 googletest \
x11-xserver-utils fonts-wine unzip"
build_windows() {
  icu_root=$(tools/windows/build-icu.sh | tail -n 1)
  QUORREL_ICU_ROOT="$icu_root" cmake --preset windows >/dev/null
  cmake --build --preset windows
  cmake --build --preset windows --target package-windows
}
test_windows() {
  build_windows
  # Wine's server is started and the prefix booted before ctest, away
  # from its pipes (tools/windows/wine.sh), and stopped after.
  prefix="$PWD/build/windows/wine"
  tools/windows/wine.sh "$prefix"
  status=0
  ctest --preset windows || status=$?
  WINEPREFIX="$prefix" wineserver -k || true
  return $status
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
    extra_packages="$fuzz_packages $windows_packages"
    install_missing
    cmake --preset dev >/dev/null
    cmake --build --preset dev
    ctest --preset dev
    # The same tests once more, aborting on the first sanitizer report.
    cmake --preset asan >/dev/null
    cmake --build --preset asan
    ctest --preset asan
    # The fuzzer's short run; the replay of its invariants is in both suites above.
    build_fuzz
    ctest --preset fuzz
    # The Windows programs, cross-built, and their tests under wine.
    test_windows
    ;;
  windows)
    extra_packages=$windows_packages
    install_missing
    build_windows
    ;;
  windows-test)
    extra_packages=$windows_packages
    install_missing
    test_windows
    ;;
  fuzz)
    extra_packages=$fuzz_packages
    install_missing
    seconds="${2:-600}"
    build_fuzz
    mkdir -p build/fuzz/corpus build/fuzz/findings
    # Every case writes its source and pieces: on tmpfs, where there is one,
    # that is many times faster than on a disk.
    [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build/fuzz/tests/fuzz/quorrel-fuzz-split \
      -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -artifact_prefix=build/fuzz/findings/ \
      build/fuzz/corpus tests/fuzz/corpus
    ;;
  *)
    echo "usage: $0 run|test|windows|windows-test|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
