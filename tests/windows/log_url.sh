#!/bin/sh
# The web browser of the wine prefix in platform_test.cpp: records the
# address it is handed where the test reads it, C:\ of the prefix.
printf '%s\n' "$1" >>"$WINEPREFIX/drive_c/quorrel-opened-urls.txt"
