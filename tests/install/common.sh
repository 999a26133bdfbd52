# Helpers of the install tests, sourced by each of them. Every test is run
# as: SCRIPT BUILD_DIR GUI(0|1) VERSION CMAKE CPACK
# shellcheck shell=bash

# shellcheck disable=SC2034  # some are for the scripts that source this
build=$1 gui=$2 version=$3 cmake=$4 cpack=$5
failures=0

# A temporary folder of this test's own, removed when it ends however it ends.
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# Records a failed check and goes on, so one run shows every problem.
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Ends the test as skipped (ctest's SKIP_RETURN_CODE): only for a missing tool.
skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}

finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

# `cmake --install BUILD_DIR --prefix /usr` into $destdir, in this test's
# temporary folder: tests, and ctest runs sharing a build tree, never see
# each other's installs.
install_into_temp_destdir() {
  local log
  destdir=$tmp/destdir
  if ! log=$(DESTDIR=$destdir "$cmake" --install "$build" --prefix /usr 2>&1); then
    echo "$log" >&2
    fail "cmake --install failed"
    finish
  fi
}

# Every file an install under /usr holds, relative to the root and sorted.
expected_files() {
  {
    echo usr/bin/quorrel-split
    echo usr/share/bash-completion/completions/quorrel-split
    echo usr/share/doc/quorrel/changelog.gz
    echo usr/share/doc/quorrel/copyright
    echo usr/share/man/man1/quorrel-split.1.gz
    if [[ $gui == 1 ]]; then
      echo usr/bin/quorrel
      echo usr/share/applications/example.quorrel.Quorrel.desktop
      local size
      for size in 16 32 48 128; do
        echo "usr/share/icons/hicolor/${size}x${size}/apps/quorrel.png"
      done
      echo usr/share/man/man1/quorrel.1.gz
      echo usr/share/metainfo/example.quorrel.Quorrel.metainfo.xml
    fi
  } | LC_ALL=C sort
}

# The options quorrel-split --help lists, one a line: "-k --keyword",
# "--help"...
help_options() {
  "$1" --help | sed -nE 's/^ +((-[a-z]), )?(--[a-z-]+).*/\2 \3/p' | sed 's/^ //'
}
