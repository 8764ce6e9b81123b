#!/usr/bin/env bash
# The NSIS example as an installer author ships it: built with makensis,
# installed and uninstalled silently under Wine, and the registry checked
# with the system's reg.exe (an independent reader) after each step.
set -uo pipefail
source_dir=$1
build=$2
export WINEDEBUG=-all
setup=$build/examples/qmis-sample-setup.exe
mkdir -p "$build/examples"
failures=0
passes=0

check() {  # check DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    echo "FAILED: $description"
    failures=$((failures + 1))
  fi
}
query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
has() { query "${@:2}" | grep -q -- "$1"; }
missing() { ! wine reg query "$@" >/dev/null 2>&1; }

makensis -V2 -DQMIS_DLL="$build/bin/QMIS.dll" -DOUT_FILE="$setup" \
  "$source_dir/examples/nsis/qmis-sample.nsi" || { echo "makensis failed"; exit 1; }

uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QMIS Sample'
# What stood before the installer: an AutoPlay verb and a file type.
wine reg add 'HKCR\AudioCD\shell' /ve /d play /f >/dev/null
wine reg add 'HKCR\.qmsample' /ve /d txtfile /f >/dev/null

# A folder without spaces: Wine re-quotes arguments that hold spaces, and
# the uninstaller only runs in place (and so only waits for its own work)
# when its "_?=" argument arrives unquoted.
wine "$setup" /S '/D=C:\QmisSample'
check "installer exits 0" test $? -eq 0
check "shared key claimed with bit 1" has 0x1 'HKLM\SOFTWARE\Quillmoor\Shared\Sample' /v Refcount
check "claim recorded" has 0x1 "$uninstall_key\\RefcountList" /v 'Shared\Sample'
check "claim result 1" has 0x1 "$uninstall_key" /v ClaimResult
check "AutoPlay default taken" has QuillmoorQMISSample 'HKCR\AudioCD\shell' /ve
check "AutoPlay default saved" has play 'HKCR\AudioCD\shell' /v QmPrevious
check "extension taken, earlier type saved" has txtfile 'HKCR\.qmsample' /v QmPrevious
check "helper exit code 3010" has 0xbc2 "$uninstall_key" /v HelperExitCode
check "size estimate made" has EstimatedBytes "$uninstall_key" /v EstimatedBytes

wine 'C:\QmisSample\uninstall.exe' /S '_?=C:\QmisSample'
check "uninstaller exits 0" test $? -eq 0
# Run in place, the uninstaller cannot delete its own file: it is left behind.
check "uninstaller ran in place, so its work is done" test -e "$WINEPREFIX/drive_c/QmisSample/uninstall.exe"
rm -rf "$WINEPREFIX/drive_c/QmisSample"
check "shared key released" missing 'HKLM\SOFTWARE\Quillmoor\Shared\Sample'
check "AutoPlay default handed back" has play 'HKCR\AudioCD\shell' /ve
check "no saved AutoPlay verb left" missing 'HKCR\AudioCD\shell' /v QmPrevious
check "extension handed back" has txtfile 'HKCR\.qmsample' /ve
check "no saved type left" missing 'HKCR\.qmsample' /v QmPrevious
check "product file type deleted" missing 'HKCR\QuillmoorQMISSampleFile.qmsample'
check "AutoPlay verb deleted" missing 'HKCR\AudioCD\shell\QuillmoorQMISSample'
check "uninstall entry gone" missing "$uninstall_key"

wine reg delete 'HKCR\.qmsample' /f >/dev/null 2>&1
wine reg delete 'HKCR\AudioCD' /f >/dev/null 2>&1
echo "NSIS example: $passes passed, $failures failed"
[ $failures -eq 0 ]
