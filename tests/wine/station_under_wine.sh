#!/usr/bin/env bash
# Station mode of the Windows updater under Wine: one Linux simulated receiver per COM port,
# every receiver updated at once by its own updater process; every one must complete and have
# its report.
#
#   station_under_wine.sh --run RUN --prefix PREFIX --exe CLI.exe --bootsim BOOTSIM --com N...
set -euo pipefail
run="" WINEPREFIX="" exe="" bootsim="" coms=()
while (($#)); do
  case "$1" in
    --run) run="$2"; shift 2 ;;
    --prefix) WINEPREFIX="$2"; shift 2 ;;
    --exe) exe="$2"; shift 2 ;;
    --bootsim) bootsim="$2"; shift 2 ;;
    --com) coms+=("$2"); shift 2 ;;
    *) echo "station_under_wine: unknown argument $1" >&2; exit 64 ;;
  esac
done
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for c in "${coms[@]}"; do rm -f "$WINEPREFIX/dosdevices/com$c"; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX/dosdevices"
ports=()
for c in "${coms[@]}"; do
  "$bootsim" --id K64E --report "$work/receiver$c.json" >"$work/bootsim$c.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^port: ' "$work/bootsim$c.out" && break; sleep 0.05; done
  ln -sfn "$(sed -n 's/^port: //p' "$work/bootsim$c.out" | head -n1)" "$WINEPREFIX/dosdevices/com$c"
  ports+=(--port "COM$c")
done
set +e
(cd "$work" && timeout 240 "$run" "$WINEPREFIX" "$exe" "${ports[@]}" --report-dir reports \
  --allow-placeholder-firmware --timeout 60 >"$work/station.out" 2>"$work/station.err" </dev/null)
code=$?
set -e
for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
sleep 0.5
fail() {
  echo "FAIL: $*"
  cat "$work/station.out" "$work/station.err"
  ls -la "$work/reports" 2>/dev/null || true
  exit 1
}
[ "$code" = 0 ] || fail "station exit code $code"
for c in "${coms[@]}"; do
  grep -q '"completed": true' "$work/receiver$c.json" || fail "COM$c's receiver did not complete"
  [ -f "$work/reports/COM$c.json" ] || fail "no report for COM$c"
  grep -q '"result": *"complete"' "$work/reports/COM$c.json" || fail "COM$c's report: $(cat "$work/reports/COM$c.json")"
done
echo "ok: ${#coms[@]} receivers"
tr -d '\r' <"$work/station.out" | tail -n 6
