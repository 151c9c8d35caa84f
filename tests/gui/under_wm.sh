#!/bin/sh
# Runs a test program on a virtual X server with a window manager (twm), so that windows get
# a real frame. Skips (exit 0 with a note) when Xvfb or twm is missing.
#   under_wm.sh PROGRAM [ARGUMENTS...]
for tool in xvfb-run twm; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "under_wm: $tool is not installed; skipped"
    exit 0
  fi
done
# twm places a new window only when clicked, unless told to place it by itself; and the
# virtual server has only its built-in "fixed" font.
rc=$(mktemp)
trap 'rm -f "$rc"' EXIT
for font in TitleFont ResizeFont MenuFont IconFont IconManagerFont; do
  printf '%s "fixed"\n' "$font"
done >"$rc"
printf 'RandomPlacement\nUsePPosition "on"\n' >>"$rc"
export ORVANE_TWMRC="$rc"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  twm -f "$ORVANE_TWMRC" >/dev/null 2>&1 &
  wm=$!
  sleep 1
  QT_QPA_PLATFORM=xcb "$@"
  status=$?
  kill $wm 2>/dev/null
  exit $status' under_wm "$@"
