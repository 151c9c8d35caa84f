#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests run in (once; about 12 s), or does nothing when it
# is there. Usage: prefix.sh DIR
set -euo pipefail
prefix="$1"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot --init >"$prefix.log" 2>&1
  wineserver -w
fi
mkdir -p "$prefix/dosdevices"
