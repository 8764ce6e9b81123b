#!/usr/bin/env bash
# The NSIS example as an installer author ships it: built with makensis,
# installed and uninstalled silently under Wine, and the registry checked
# with the system's reg.exe (an independent reader) after each step.
set -uo pipefail
source_dir=$1
build=$2
: "${WINEPREFIX:?run it through CTest, which sets WINEPREFIX}"
export WINEDEBUG=-all
setup=$build/examples/qmis-sample-setup.exe
mkdir -p "$build/examples"
source "$source_dir/tests/examples/checks.sh"

# Built as an author builds it: with the DLL and QMIS.nsh of the release.
release=$(bash "$source_dir/tests/support/unpack-release.sh" "$build" "$build/examples/release")
nsis() {  # nsis [DEFINES...] SCRIPT OUT
  local out=${*: -1} script=${*: -2:1}
  makensis -V2 "-X!addincludedir $release/nsis" -DQMIS_DLL="$release/bin/QMIS.dll" -DOUT_FILE="$out" \
    "${@:1:$#-2}" "$script" || { echo "makensis failed on $script"; exit 1; }
}
nsis "$source_dir/examples/nsis/qmis-sample.nsi" "$setup"
# A second product of the maker from the same script, taking the same
# AutoPlay default and extension.
setup_b=$build/examples/qmis-sample-b-setup.exe
nsis "-DPRODUCT=QMIS Sample B" -DHANDLER_NAME=QuillmoorQMISSampleB -DBITS=2 \
  "$source_dir/examples/nsis/qmis-sample.nsi" "$setup_b"
nsis "$source_dir/tests/examples/qmis-nsh-test.nsi" "$build/examples/qmis-nsh-test.exe"

uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QMIS Sample'
# What stood before the installer: an AutoPlay verb and a file type.
wine reg add 'HKCR\AudioCD\shell' /ve /d play /f >/dev/null
wine reg add 'HKCR\.qmsample' /ve /d txtfile /f >/dev/null

before=$(renames)

# A folder named outside the ANSI code page (1252 here), without spaces:
# Wine re-quotes arguments that hold spaces, and the uninstaller only runs
# in place (and so only waits for its own work) when its "_?=" argument
# arrives unquoted.
folder='Ünïcode-Τεστ-測試'
unix_dir="$WINEPREFIX/drive_c/$folder"
wine "$setup" /S "/D=C:\\$folder"
check "installer exits 0" test $? -eq 0
check "data folder renamed in the product's folder" test -f "$unix_dir/data/data.bin"
check "no working name left" test ! -e "$unix_dir/data.new"
size=$(find "$unix_dir" -type f -not -name '.*' -printf '%s\n' | awk '{ s += $1 } END { printf "0x%x", s }')
check "size of the product's folder: $size" has "$size" "$uninstall_key" /v InstalledBytes
check "shared key claimed with bit 1" has 0x1 'HKLM\SOFTWARE\Quillmoor\Shared\Sample' /v Refcount
check "claim recorded" has 0x1 "$uninstall_key\\RefcountList" /v 'Shared\Sample'
check "claim result 1" has 0x1 "$uninstall_key" /v ClaimResult
check "AutoPlay default taken" has QuillmoorQMISSample 'HKCR\AudioCD\shell' /ve
check "AutoPlay default saved" has play 'HKCR\AudioCD\shell' /v QmPrevious
check "extension taken, earlier type saved" has txtfile 'HKCR\.qmsample' /v QmPrevious
check "helper in the product's folder run, exit code 3010" has 0xbc2 "$uninstall_key" /v HelperExitCode
check "size estimate made" has EstimatedBytes "$uninstall_key" /v EstimatedBytes
# QMIS.dll was let go of, so NSIS deleted its plug-ins folder at once.
check "no pending rename of the installer's own: '$(renames)'" test "$(renames)" = "$before"

# The second product takes the same defaults over: what was saved stays.
is() { has "REG_[A-Z_]* *$1\$" "${@:2}"; }  # the value is exactly $1
install_b() { wine "$setup_b" /S '/D=C:\QmisSampleB' && check "second installer exits 0" true; }
uninstall_a() {
  wine "C:\\$folder\\uninstall.exe" /S "_?=C:\\$folder"
  check "uninstaller exits 0" test $? -eq 0
}
uninstall_b() {
  wine 'C:\QmisSampleB\uninstall.exe' /S '_?=C:\QmisSampleB'
  check "second uninstaller exits 0" test $? -eq 0
}
install_b
check "second product holds AutoPlay" is QuillmoorQMISSampleB 'HKCR\AudioCD\shell' /ve
check "the machine's verb still saved" is play 'HKCR\AudioCD\shell' /v QmPrevious
check "second product holds the extension" is QuillmoorQMISSampleBFile.qmsample 'HKCR\.qmsample' /ve
check "the machine's type still saved" is txtfile 'HKCR\.qmsample' /v QmPrevious

uninstall_a
# Run in place, the uninstaller cannot delete its own file: it is left behind.
check "uninstaller ran in place, so its work is done" test -e "$unix_dir/uninstall.exe"
check "the product's files are gone" test ! -e "$unix_dir/data"
rm -rf "$unix_dir"
check "first removed: the second still holds AutoPlay" is QuillmoorQMISSampleB 'HKCR\AudioCD\shell' /ve
check "first removed: the machine's verb still saved" is play 'HKCR\AudioCD\shell' /v QmPrevious
check "first removed: the shared key stays for the second" has 0x2 'HKLM\SOFTWARE\Quillmoor\Shared\Sample' /v Refcount
uninstall_b
rm -rf "$WINEPREFIX/drive_c/QmisSampleB"
handed_back() {  # what both removals leave, in either order
  check "$1: shared key released" missing 'HKLM\SOFTWARE\Quillmoor\Shared\Sample'
  check "$1: AutoPlay default handed back" is play 'HKCR\AudioCD\shell' /ve
  check "$1: no saved AutoPlay verb left" missing 'HKCR\AudioCD\shell' /v QmPrevious
  check "$1: extension handed back" is txtfile 'HKCR\.qmsample' /ve
  check "$1: no saved type left" missing 'HKCR\.qmsample' /v QmPrevious
  check "$1: product file types deleted" missing 'HKCR\QuillmoorQMISSampleFile.qmsample'
  check "$1: product file types deleted" missing 'HKCR\QuillmoorQMISSampleBFile.qmsample'
  check "$1: AutoPlay verbs deleted" missing 'HKCR\AudioCD\shell\QuillmoorQMISSample'
  check "$1: AutoPlay verbs deleted" missing 'HKCR\AudioCD\shell\QuillmoorQMISSampleB'
  check "$1: uninstall entry gone" missing "$uninstall_key"
}
handed_back "first, then second"

# The other order.
wine "$setup" /S "/D=C:\\$folder"
install_b
uninstall_b
check "second removed: AutoPlay back to the machine's verb" is play 'HKCR\AudioCD\shell' /ve
uninstall_a
rm -rf "$unix_dir" "$WINEPREFIX/drive_c/QmisSampleB"
handed_back "second, then first"

# Every macro of QMIS.nsh, each once, with the library's log on.
export QMIS_LOG='C:\qmis-nsh-test.log'
wine "$build/examples/qmis-nsh-test.exe"
unset QMIS_LOG
check "macro test exits 0" test $? -eq 0
out='HKLM\SOFTWARE\QmisNshTest'
recorded() { query "$out" /v "$1" | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
expect() {  # expect VALUE EXPECTED
  local got
  got=$(recorded "$1")
  check "QMIS.nsh $1: '$got', expected '$2'" test "$got" = "$2"
}
expect Numbers "1 60 2 0"
expect Version "2.0.0.60 60"
expect RemoveSpaces "abc"
expect Claims "1 1 0"
expect AutoPlay "QuillmoorQMISNshTest play"
expect Extensions "txtfile []"
expect Run "5 text"
expect Files "10 0 moved"
expect Hive "1 1 0 swept, hive written"
renames=$(recorded Renames)
check "QMIS.nsh renames: '$renames'" test "${renames% *}" = "${renames#* }"
expect Hooks "0 0"
expect Registers "kept kept kept"
expect Loaded "0 0"
expect Missing "[] error flag error flag"
failure=$(recorded Failure)
check "a failing call says why in the details: '$failure'" \
  grep -q '^87 QMIS: QmUninstall_KeyClean gave 87; last error 87: .' <<<"$failure"
log="$WINEPREFIX/drive_c/qmis-nsh-test.log"
check "the log holds the failing call's line" \
  grep -q 'QmUninstall_KeyClean(HKCU, "") = 87; argument check: error 87 (' "$log"
check "the log holds a line for each call" test "$(grep -c ' pid ' "$log")" -gt 20
cp "$log" "$build/examples/qmis-nsh-test.log" 2>/dev/null
wine reg delete "$out" /f >/dev/null 2>&1

wine reg delete 'HKCR\.qmsample' /f >/dev/null 2>&1
wine reg delete 'HKCR\AudioCD' /f >/dev/null 2>&1
finish "NSIS example"
