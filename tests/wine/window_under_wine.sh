#!/usr/bin/env bash
# The Windows window updater under Wine, on a display of its own (Xvfb), against the Linux
# simulated receiver on a COM port: the window runs an update from its own Update command and
# the receiver must report it completed.
#
#   window_under_wine.sh --run RUN --prefix PREFIX --exe WINDOW.exe --bootsim BOOTSIM --com N
#                        [--id ID] [--language en|zh] [--screenshot OUT.png]
#                        [--timeout SECONDS]
#   window_under_wine.sh ... --choose-language en|zh
#   window_under_wine.sh ... --fresh-profile --probe WINDOW_PROBE.exe
#
# --language stores the interface language in the profile (HKCU\Software\Selvane Works\
# Orvane Update, section "Selvane Works", value "UI") before the start: en is 1, zh is 0, which
# loads the Chinese resource library beside the program; Wine's dialog and menu fonts are then
# linked to a CJK font of the system (Debian fonts-noto-cjk) so that the texts can be read.
#
# --choose-language runs the window's language command instead of an update (the window starts
# in the other language) and checks that the choice reached the registry, where the next start
# reads it.
#
# --fresh-profile starts from a new prefix whose registry holds nothing of the updater, as a
# new Windows user has it, on a Chinese system: the first start is Chinese; Language > English
# must store the choice (the restart request, not the box saying it could not be stored), a
# document opened then is in the recent-file list at the next start, and the next start is
# English. The prefix is made anew on every run. WINDOW_PROBE.exe reads the window's texts.
#
# --screenshot saves a picture of the window during the transfer, as the Linux one is taken
# (the window takes it itself, as a BMP; bmp2png.py next to this script makes the PNG).
#
# The prefix is the window tests' own: its Wine server and desktop belong to this display, so
# they are ended with it.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
run="" WINEPREFIX="" exe="" bootsim="" com="" id=K64U language="" choose="" screenshot="" timeout=240
fresh=0 probe=""
while (($#)); do
  case "$1" in
    --run) run="$2"; shift 2 ;;
    --prefix) WINEPREFIX="$2"; shift 2 ;;
    --exe) exe="$2"; shift 2 ;;
    --bootsim) bootsim="$2"; shift 2 ;;
    --com) com="$2"; shift 2 ;;
    --id) id="$2"; shift 2 ;;
    --language) language="$2"; shift 2 ;;
    --choose-language) choose="$2"; shift 2 ;;
    --screenshot) screenshot="$2"; shift 2 ;;
    --timeout) timeout="$2"; shift 2 ;;
    --fresh-profile) fresh=1; shift ;;
    --probe) probe="$2"; shift 2 ;;
    *) echo "window_under_wine: unknown argument $1" >&2; exit 64 ;;
  esac
done
: "${run:?}" "${WINEPREFIX:?}" "${exe:?}" "${bootsim:?}" "${com:?}"
export WINEPREFIX

if ((fresh)); then
  : "${probe:?--fresh-profile needs --probe}"
  # Nothing left of an earlier run: no key, no value, no server.
  WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$WINEPREFIX" timeout 30 wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.dosdevices"
  # Wine takes the system's language from the locale its server starts in.
  export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8 2>/dev/null
fi

work="$(mktemp -d)"
sim_pid="" window_pid="" xvfb_pid=""
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  # This prefix's server and desktop were started for this display: end them with it.
  # It is gone only when -w returns: the next test would otherwise reach the dying server.
  WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$WINEPREFIX" timeout 30 wineserver -w >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$com"
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; Xvfb names the free display number it took.
exec 8>"$work/display"
Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.05
done
[ -s "$work/display" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

"$bootsim" --id "$id" --exit-after-complete --report "$work/receiver.json" >"$work/bootsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^port: ' "$work/bootsim.out" 2>/dev/null && break
  sleep 0.05
done
pty="$(sed -n 's/^port: //p' "$work/bootsim.out" | head -n1)"
[ -n "$pty" ] || { echo "the simulated receiver printed no port:"; cat "$work/bootsim.out"; exit 1; }
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com$com"

reg() { "$run" "$WINEPREFIX" reg "$@" >>"$work/reg.out" 2>&1 || { cat "$work/reg.out"; exit 1; }; }
profile='HKCU\Software\Selvane Works\Orvane Update\Selvane Works'
case "$language" in
  "") ;;
  en) reg add "$profile" /v UI /t REG_DWORD /d 1 /f ;;
  zh)
    reg add "$profile" /v UI /t REG_DWORD /d 0 /f
    cjk="$(fc-match -f '%{file}' 'Noto Sans CJK SC' 2>/dev/null || true)"
    if [ -f "$cjk" ]; then
      link="HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
      for face in "MS Shell Dlg" "MS Shell Dlg 2" Tahoma "Microsoft Sans Serif" "Segoe UI" \
                  "Courier New" "DejaVu Sans Mono" "Liberation Mono"; do
        reg add "$link" /v "$face" /t REG_MULTI_SZ /d "$(basename "$cjk"),Noto Sans CJK SC" /f
      done
      # Wine finds the font among the system's through fontconfig.
    fi
    ;;
  *) echo "window_under_wine: --language takes en or zh" >&2; exit 64 ;;
esac

shot_args=()
if [ -n "$screenshot" ]; then
  # Wine sees the work folder as drive Z:.
  # During the transfer; for the language command, once the restart request is up.
  delay=8000
  [ -n "$choose" ] && delay=2500
  shot_args=(--screenshot "Z:${work//\//\\}\\window.bmp" --screenshot-after "$delay")
fi
show() {
  echo "--- window"; cat "$work/window.out"
  echo "--- receiver"; cat "$work/bootsim.out"
  [ -f "$work/receiver.json" ] && { echo "--- receiver report"; head -c 2000 "$work/receiver.json"; echo; }
}
fail() { echo "FAIL: $*"; show; exit 1; }

if ((fresh)); then
  wrun() { "$run" "$WINEPREFIX" "$@"; }
  # The probe's view of the window: waits until the list holds a line matching $1.
  wait_for() {
    for _ in $(seq $((timeout * 2))); do
      wrun "$probe" list >"$work/probe.out" 2>/dev/null || true
      grep -Eq "$1" "$work/probe.out" && return 0
      kill -0 "$window_pid" 2>/dev/null || fail "the window ended (waiting for: $1)"
      sleep 0.5
    done
    cat "$work/probe.out"
    fail "the window never showed: $1"
  }
  ended() {
    for _ in $(seq $((timeout * 2))); do
      kill -0 "$window_pid" 2>/dev/null || return 0
      wrun "$probe" close-boxes >/dev/null 2>&1 || true
      sleep 0.5
    done
    fail "the window did not close"
  }
  # Nothing of the updater in the registry (this first call makes the prefix).
  if wrun reg query 'HKCU\Software\Selvane Works' >"$work/before.out" 2>&1; then
    cat "$work/before.out"
    fail "the new profile already has the updater's key"
  fi
  : >"$work/document.txt"
  document="Z:${work//\//\\}\\document.txt"
  # 1. The first start: nothing stored, a Chinese system, so Chinese. English is chosen.
  wrun "$exe" --port "COM$com" --allow-placeholder-firmware --command 32820 "$document" \
    >"$work/window.out" 2>&1 </dev/null &
  window_pid=$!
  wait_for '^box '
  cp "$work/probe.out" "$work/first.out"
  grep -q '^  Static 信息:' "$work/first.out" || { cat "$work/first.out"; fail "not Chinese at first"; }
  grep -q 'could not be stored' "$work/first.out" && { cat "$work/first.out"; fail "the choice was not stored"; }
  grep -q 'must re-start' "$work/first.out" || { cat "$work/first.out"; fail "no restart request"; }
  wrun "$probe" close-boxes
  wrun "$probe" close
  ended
  window_pid=""
  wrun reg query "$profile" /v UI >"$work/ui.out" 2>&1 || true
  grep -Eq 'REG_DWORD\s+0x1\b' "$work/ui.out" || { cat "$work/ui.out"; fail "UI is not 1"; }
  wrun reg query 'HKCU\Software\Selvane Works\Orvane Update\Recent File List' /v File1 \
    >"$work/recent.out" 2>&1 || true
  grep -q 'document.txt' "$work/recent.out" || { cat "$work/recent.out"; fail "no recent file"; }
  # 2. The next start: English, and nothing to tell.
  wrun "$exe" --port "COM$com" --allow-placeholder-firmware >"$work/window.out" 2>&1 </dev/null &
  window_pid=$!
  wait_for '^  Static Messages:'
  sleep 1 # a box that comes right after the window
  wrun "$probe" list >"$work/second.out"
  grep -q '^box ' "$work/second.out" && { cat "$work/second.out"; fail "a box at the next start"; }
  echo "ok: a new profile stored the language and the recent file"
  exit 0
fi

if [ -n "$choose" ]; then
  # The language commands (32820 English, 32821 Chinese) store 1 or 0 and ask for a restart.
  case "$choose" in
    en) command=32820 want=0x1 start=0 ;;
    zh) command=32821 want=0x0 start=1 ;;
    *) echo "window_under_wine: --choose-language takes en or zh" >&2; exit 64 ;;
  esac
  reg add "$profile" /v UI /t REG_DWORD /d "$start" /f
  # (The port is the simulated receiver's: without the bench override the window would start
  # with the box that refuses this build's test images on a serial line.)
  "$run" "$WINEPREFIX" "$exe" --port "COM$com" --allow-placeholder-firmware \
    --command "$command" "${shot_args[@]}" \
    >"$work/window.out" 2>&1 </dev/null &
  window_pid=$!
  for _ in $(seq $((timeout * 2))); do
    "$run" "$WINEPREFIX" reg query "$profile" /v UI >"$work/ui.out" 2>&1 || true
    grep -Eq "REG_DWORD\s+$want\b" "$work/ui.out" && break
    kill -0 "$window_pid" 2>/dev/null || fail "the window ended"
    sleep 0.5
  done
  grep -Eq "REG_DWORD\s+$want\b" "$work/ui.out" || { cat "$work/ui.out"; fail "UI is not $want"; }
  kill -0 "$window_pid" 2>/dev/null || fail "the window ended before it was closed"
  if [ -n "$screenshot" ]; then
    for _ in $(seq 60); do
      [ -s "$work/window.bmp" ] && break
      sleep 0.25
    done
    sleep 0.5 # written whole
    [ -s "$work/window.bmp" ] || fail "the window took no picture"
    python3 "$here/bmp2png.py" "$work/window.bmp" "$screenshot"
  fi
  echo "ok: the window stored language $choose"
  exit 0
fi

"$run" "$WINEPREFIX" "$exe" --port "COM$com" --allow-placeholder-firmware --start-update \
  "${shot_args[@]}" >"$work/window.out" 2>&1 </dev/null &
window_pid=$!

completed=0
for _ in $(seq $((timeout * 10))); do
  if ! kill -0 "$sim_pid" 2>/dev/null; then completed=1; break; fi
  if ! kill -0 "$window_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
((completed)) || fail "the receiver did not finish within $timeout s (or the window ended)"
sim_pid=""
grep -q '"completed": true' "$work/receiver.json" || fail "the receiver did not complete"
grep -q '"errors": \[\s*\]' <(tr -d '\n' <"$work/receiver.json") || fail "the receiver saw errors"
grep -q '"identifier": "'"$id"'"' "$work/receiver.json" || fail "the receiver was not $id"
kill -0 "$window_pid" 2>/dev/null || fail "the window ended before it was closed"
if [ -n "$screenshot" ]; then
  [ -s "$work/window.bmp" ] || fail "the window took no picture"
  python3 "$here/bmp2png.py" "$work/window.bmp" "$screenshot"
fi
echo "ok: the window updated $id"
