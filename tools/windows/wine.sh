#!/bin/sh
# Runs a Windows program under wine, for ctest and the build:
#   tools/windows/wine.sh PREFIX PROGRAM.exe [ARGUMENT]...
#   tools/windows/wine.sh PREFIX       only start wine's server and boot PREFIX
# PREFIX is the wine prefix (created on first use; the windows preset keeps
# it in build/windows/wine). The exit status is the program's.
#
# Wine's own helper processes (the server, services, devices) outlive the
# program that starts them and keep its standard streams: started by a test,
# they hold ctest's pipe, and ctest waits for it to close. So a server is
# started here first, detached from our streams, and the prefix booted; a
# lock keeps two tests run in parallel from doing it twice. The server stays
# for a minute after its last program (the next test reuses it warm), then
# ends with its helpers; `WINEPREFIX=PREFIX wineserver -k` ends it at once.
set -eu
prefix=$(realpath -m "$1")
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no Mono or Gecko installer at boot

mkdir -p "$prefix"
(
  flock 9
  # Exit status 0: a new server (2: one runs already), so boot the prefix.
  if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix.lock"
[ $# -eq 0 ] && exit 0
exec wine "$@"
