#!/usr/bin/env bash
# One update by the Windows command-line updater under Wine against the Linux simulated
# receiver: the receiver's pseudo-terminal is the Windows program's COM port.
#
#   update_under_wine.sh --run RUN --prefix PREFIX --exe CLI.exe --bootsim BOOTSIM --com N
#                        --expect-exit CODE
#                        [--expect-complete] [--expect-output TEXT]... [--expect-no-blocks]
#                        [--interrupt-after SECONDS] [--file-limit BLOCKS] [--sim ARG]...
#                        [-- CLI-ARGS...]
#
# --file-limit lets the Windows program write no file beyond that many 512-byte blocks, as a
# full disk would (Wine's own server is not limited).
#
# --interrupt-after sends SIGINT to the Windows program after that time, which Wine hands it
# as Ctrl+C.
#
# RUN is tests/wine/run, which makes the prefix on first use. Wine's own helper processes keep
# inherited pipes open, so everything the program prints goes to files, never to a pipe.
set -euo pipefail

file_limit="" run="" WINEPREFIX="" exe="" bootsim="" com="" expect_exit="" interrupt_after="" expect_complete=0 expect_no_blocks=0
expect_output=() sim_args=() cli_args=()
while (($#)); do
  case "$1" in
    --run) run="$2"; shift 2 ;;
    --prefix) WINEPREFIX="$2"; shift 2 ;;
    --exe) exe="$2"; shift 2 ;;
    --bootsim) bootsim="$2"; shift 2 ;;
    --com) com="$2"; shift 2 ;;
    --expect-exit) expect_exit="$2"; shift 2 ;;
    --expect-complete) expect_complete=1; shift ;;
    --expect-no-blocks) expect_no_blocks=1; shift ;;
    --expect-output) expect_output+=("$2"); shift 2 ;;
    --sim) sim_args+=("$2"); shift 2 ;;
    --interrupt-after) interrupt_after="$2"; shift 2 ;;
    --file-limit) file_limit="$2"; shift 2 ;;
    --) shift; cli_args=("$@"); break ;;
    *) echo "update_under_wine: unknown argument $1" >&2; exit 64 ;;
  esac
done
: "${run:?--run names tests/wine/run}" "${WINEPREFIX:?--prefix names the Wine prefix of the tests}"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$com"
  rm -rf "$work"
}
trap cleanup EXIT

"$bootsim" "${sim_args[@]}" --report "$work/receiver.json" >"$work/bootsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^port: ' "$work/bootsim.out" 2>/dev/null && break
  sleep 0.05
done
pty="$(sed -n 's/^port: //p' "$work/bootsim.out" | head -n1)"
[ -n "$pty" ] || { echo "the simulated receiver printed no port:"; cat "$work/bootsim.out"; exit 1; }
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com$com"

set +e
ORVANE_FILE_LIMIT="$file_limit" \
  timeout 180 "$run" "$WINEPREFIX" "$exe" --port "COM$com" --no-progress "${cli_args[@]}" \
  >"$work/cli.out" 2>"$work/cli.err" </dev/null &
updater=$!
if [ -n "$interrupt_after" ]; then
  sleep "$interrupt_after"
  # The program itself, under the loader Wine started it with.
  pkill -INT -f -- "$(basename "$exe").*--port COM$com( |$)" || echo "no program to interrupt"
fi
wait "$updater"
code=$?
set -e
kill -INT "$sim_pid" 2>/dev/null || true
for _ in $(seq 100); do
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
sim_pid=""

show() {
  echo "--- updater output"; cat "$work/cli.out"
  echo "--- updater errors"; cat "$work/cli.err"
  echo "--- receiver"; cat "$work/bootsim.out"
  [ -f "$work/receiver.json" ] && { echo "--- receiver report"; head -c 2000 "$work/receiver.json"; echo; }
}
fail() { echo "FAIL: $*"; show; exit 1; }

[ "$code" = "$expect_exit" ] || fail "exit code $code, expected $expect_exit"
# Windows programs write CR LF; the texts are compared without the CR.
all="$(tr -d '\r' <"$work/cli.out"; tr -d '\r' <"$work/cli.err")"
for text in "${expect_output[@]}"; do
  grep -qF -- "$text" <<<"$all" || fail "the updater did not say: $text"
done
if ((expect_complete)); then
  grep -q '"completed": true' "$work/receiver.json" || fail "the receiver did not complete"
  grep -q '"errors": \[\s*\]' <(tr -d '\n' <"$work/receiver.json") || fail "the receiver saw errors"
fi
if ((expect_no_blocks)); then
  grep -q '"blocksAccepted": 0' "$work/receiver.json" || fail "blocks reached the receiver"
fi
echo "ok: exit $code"
tr -d '\r' <"$work/cli.out" | tail -n 3
