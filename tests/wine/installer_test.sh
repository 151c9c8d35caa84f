#!/usr/bin/env bash
# The Windows installer under Wine: a silent install into a folder of the test's own, the
# programs run from there, the Start-menu entries and the uninstall entry (with its icon and
# size) exist, the source tree's notes are not installed; then the silent uninstall leaves
# neither files, entries nor the folder behind. A folder given quoted, as cmd.exe users write a
# path with spaces (/D="C:\Some Folder"), is the one installed into.
#   installer_test.sh RUN PREFIX SETUP.exe [window]
# "window": the build has the window updater, which is then installed with its Chinese resource
# library and its menu entry.
set -euo pipefail
run="$1" prefix="$2" setup="$3" window="${4:-}"
# Wine's menu builder would copy the Start-menu entries into the desktop's own menus.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
drive="$prefix/drive_c"
target="OrvaneInstallTest"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Orvane Update"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaneUpdate'
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; ls -R "$drive/$target" 2>/dev/null | head -30; exit 1; }

quoted="Orvane Install Test Quoted"
rm -rf "${drive:?}/$target" "${drive:?}/$quoted" "${drive:?}/Program Files/Selvane Works"
trap 'rm -rf "$work" "${drive:?}/$quoted"' EXIT

# The quoted folder, from a batch file: the installer gets the command line exactly as written.
printf '@"%s" /S /D="C:\\%s"\r\n' "Z:${setup//\//\\}" "$quoted" >"$work/install.bat"
"$run" "$prefix" cmd /c "Z:${work//\//\\}\\install.bat" >"$work/quoted.out" 2>&1 ||
  fail "the installer failed with a quoted folder"
[ -f "$drive/$quoted/bin/orvane-update-cli.exe" ] || fail "the quoted folder was not installed into"
[ ! -e "$drive/Program Files/Selvane Works" ] || fail "installed into Program Files instead"

"$run" "$prefix" "$setup" /S "/D=C:\\$target" >"$work/install.out" 2>&1 || fail "the installer failed"
[ -f "$drive/$target/bin/orvane-update-cli.exe" ] || fail "no orvane-update-cli.exe"
[ -d "$drive/$target/share/orvane-update/keys" ] || fail "no keys folder"
[ ! -e "$drive/$target/share/orvane-update/keys/README.md" ] || fail "the source tree's notes installed"
[ -f "$drive/$target/uninstall.exe" ] || fail "no uninstaller"
[ -f "$menu/Orvane Update (command line).lnk" ] || fail "no Start-menu entry"
if [ -n "$window" ]; then
  [ -f "$drive/$target/bin/orvane-update.exe" ] || fail "no orvane-update.exe"
  [ -f "$drive/$target/bin/OrvaneUpdateChs.dll" ] || fail "no Chinese resource library"
  [ -f "$menu/Orvane Update.lnk" ] || fail "no Start-menu entry for the window"
fi
"$run" "$prefix" "$drive/$target/bin/orvane-update-cli.exe" --version >"$work/version.out" 2>&1
grep -q "orvane-update-cli" "$work/version.out" || fail "the installed program does not run"
"$run" "$prefix" reg query "$key" >"$work/reg.out" 2>&1 || fail "no uninstall entry"
grep -q "DisplayVersion" "$work/reg.out" || fail "no uninstall entry"
# The icon the list of programs shows, and the size it gives (in KiB).
grep -Eq "DisplayIcon\s+REG_SZ\s+C:\\\\$target\\\\" "$work/reg.out" ||
  { cat "$work/reg.out"; fail "no icon for the uninstall entry"; }
grep -Eq "EstimatedSize\s+REG_DWORD\s+0x[0-9a-f]*[1-9a-f]" "$work/reg.out" ||
  { cat "$work/reg.out"; fail "no size for the uninstall entry"; }

# The uninstaller copies itself away and returns at once: wait for all of its work (the folder
# goes before the Start-menu entries do, so waiting for the folder alone raced with the rest).
"$run" "$prefix" "$drive/$target/uninstall.exe" /S >"$work/uninstall.out" 2>&1 || true
for _ in $(seq 300); do
  [ -e "$drive/$target" ] || [ -e "$menu" ] || break
  sleep 0.2
done
[ ! -e "$drive/$target" ] || fail "the folder is still there after the uninstall"
[ ! -e "$menu" ] || fail "the Start-menu entries are still there"
if "$run" "$prefix" reg query "$key" >"$work/reg2.out" 2>&1; then
  fail "the uninstall entry is still there"
fi
echo "ok: installed, ran, uninstalled"
