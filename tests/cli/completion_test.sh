#!/usr/bin/env bash
# The bash completion of orvane-update-cli, run as bash runs it after a Tab, against the
# program's real help and a port table of our own making.
#   completion_test.sh CLI COMPLETION-SCRIPT
set -euo pipefail
cli="$1" script="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The program as the completion sees it: the real help and catalogue, and two adapters (the
# console is never in the table; the completion must not add it).
cat >"$work/orvane-update-cli" <<STUB
#!/usr/bin/env bash
case "\$1" in
--list-ports)
  echo "COM   PATH          BY-ID                                 VID:PID    SERIAL    PRODUCT"
  echo "COM3  /dev/ttyUSB0  usb-FTDI_FT232R_A10K5XYZ-if00-port0  0403:6001  A10K5XYZ  FT232R"
  echo "COM7  /dev/ttyACM0  -                                     -          -         -"
  echo "/dev/ttyS0 is the system console: it is not listed and gets no number."
  ;;
*) exec "$cli" "\$@" ;;
esac
STUB
chmod +x "$work/orvane-update-cli"

# Completes the words (the last one is the word under the cursor) and prints the offers.
offers() {
  bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    _orvane_update_cli
    printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
  ' _ "$script" "$work/orvane-update-cli" "$@"
}

failures=0
check() { # words... -- expected offers (sorted, blank-separated)
  local -a words=()
  while [ "$1" != -- ]; do words+=("$1"); shift; done
  shift
  local got expected="$*"
  got="$(offers "${words[@]}")"
  got="${got% }"
  if [ "$got" != "$expected" ]; then
    echo "FAIL: ${words[*]}<Tab>: offered [$got], expected [$expected]"
    failures=$((failures + 1))
  fi
}

check --ti -- --timeout
check --timeout "" --                   # a number is the user's to type
check -t "" --
check --stall-timeout "" --
check --port "" -- /dev/serial/by-id/usb-FTDI_FT232R_A10K5XYZ-if00-port0 /dev/ttyACM0 /dev/ttyUSB0 COM3 COM7
check -p /dev/tty -- /dev/ttyACM0 /dev/ttyUSB0
check --port COM -- COM3 COM7
check --simulate K64 -- K64E K64G K64H K64J K64P K64U K64Y
check --qu -- --quiet
check -V --version --rep -- --repeat --report-dir
[ "$failures" = 0 ] && echo "completion: every case offered what it should"
exit "$failures"
