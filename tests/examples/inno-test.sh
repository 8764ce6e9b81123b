#!/usr/bin/env bash
# The Inno Setup example as an author ships it: compiled by the real Inno
# Setup 6 compiler with the release's inno/QMIS.iss, installed and
# uninstalled silently, and the registry checked with the system's reg.exe
# after each step. A built setup needs a display even when very silent, and
# fails beside a display-less Wine of the same prefix: the round trip runs in
# a prefix of its own, under one Xvfb display and one server session (a new
# session would carry out the pending-rename list it checks).
set -uo pipefail
source_dir=$1
build=$2
if [ -z "${QMIS_UNDER_XVFB:-}" ]; then
  exec env QMIS_UNDER_XVFB=1 xvfb-run -a bash "$0" "$@"
fi
iscc_dir=$(bash "$source_dir/scripts/fetch-innosetup.sh") || exit 1
export WINEDEBUG=-all
work=$build/examples/inno
mkdir -p "$work"
bash "$source_dir/scripts/wine-session.sh" start "$build" inno >/dev/null || exit 1
trap 'bash "$source_dir/scripts/wine-session.sh" stop "$build" inno >/dev/null' EXIT
export WINEPREFIX=$build/wine/inno
source "$source_dir/tests/examples/checks.sh"
# The DLL's keys as the 32-bit DLL sees them: in a 64-bit prefix, the
# 32-bit view (WOW6432Node).
[ "${QMIS_WINEARCH:-win32}" = win64 ] && view=(/reg:32)
winpath() { winepath -w "$1" 2>/dev/null; }

# Compiled as an author compiles it: with the DLL and QMIS.iss of the release.
release=$(bash "$source_dir/tests/support/unpack-release.sh" "$build" "$work/release")
check "the release ships inno/QMIS.iss" test -f "$release/inno/QMIS.iss"
# The reference pages' declarations are the include's own lines.
docs_lines=0
while IFS= read -r line; do
  check "docs line in QMIS.iss: $line" grep -qxF -- "$line" "$source_dir/include/QMIS.iss"
  docs_lines=$((docs_lines + 1))
done < <(sed -n '/^```pascal/,/^```/p' "$source_dir"/docs/reference/*.md | grep -E '^(function|procedure|  external) ')
check "the reference pages hold Inno Setup declarations ($docs_lines lines)" test "$docs_lines" -gt 0
start=$(date +%s%N)
wine "$iscc_dir/ISCC.exe" /Q "/I$(winpath "$release/inno")" "/DQMIS_DLL=$(winpath "$release/bin/QMIS.dll")" \
  /DFailOnPurpose "/O$(winpath "$work")" /Fqmis-sample-setup \
  "$(winpath "$source_dir/examples/inno/qmis-sample.iss")" \
  || { echo "ISCC failed on examples/inno/qmis-sample.iss"; exit 1; }
compiled=$(date +%s%N)
# A second product of the maker from the same script, taking the same
# AutoPlay default and extension.
wine "$iscc_dir/ISCC.exe" /Q "/I$(winpath "$release/inno")" "/DQMIS_DLL=$(winpath "$release/bin/QMIS.dll")" \
  "/DProduct=QMIS Inno Sample B" /DHandlerName=QuillmoorQMISInnoSampleB /DBits=2 \
  "/O$(winpath "$work")" /Fqmis-sample-b-setup "$(winpath "$source_dir/examples/inno/qmis-sample.iss")" \
  || { echo "ISCC failed on the second product"; exit 1; }

uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QMIS Inno Sample'
# A folder named outside the ANSI code page (1252 here).
folder='Ünïcode-Τεστ-測試-Inno'
app="C:\\$folder"
unix_app="$WINEPREFIX/drive_c/$folder"
# What stood before the setup: an AutoPlay verb, a file type, and a rename
# scheduled by someone else (a path that does not exist).
wine reg add 'HKCR\AudioCD\shell' "${view[@]}" /ve /d play /f >/dev/null
wine reg add 'HKCR\.qminno' "${view[@]}" /ve /d txtfile /f >/dev/null
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' "${view[@]}" \
  /v PendingFileRenameOperations /t REG_MULTI_SZ /d '\??\C:\qmis-inno-missing\0\0' /f >/dev/null
before=$(renames)

QMIS_LOG='C:\qmis-inno.log' wine "$work/qmis-sample-setup.exe" /VERYSILENT /SUPPRESSMSGBOXES \
  /NORESTART '/LOG=C:\qmis-setup.log' "/DIR=$app"
check "setup exits 0" test $? -eq 0
check "the setup's log says why the failing call failed" \
  grep -q 'QMIS: QmUninstall_KeyClean failed; last error 87: ' "$WINEPREFIX/drive_c/qmis-setup.log"
check "the library's log holds the failing call's line" \
  grep -q 'QmUninstall_KeyClean(HKCU, null) = 87; argument check: error 87' "$WINEPREFIX/drive_c/qmis-inno.log"
cp "$WINEPREFIX/drive_c/qmis-inno.log" "$work/qmis-inno.log" 2>/dev/null
check "data folder renamed in the product's folder" test -f "$unix_app/data/data.bin"
check "no working name left" test ! -e "$unix_app/data.new"
installed=$(date +%s%N)
for key in Engine Fonts; do
  check "shared key $key claimed with bit 1" has 0x1 "HKLM\\SOFTWARE\\Quillmoor\\Shared\\$key" /v Refcount
  check "claim on $key recorded" has 0x1 "$uninstall_key\\RefcountList" /v "Shared\\$key"
done
check "both claims returned 1" has 0x2 "$uninstall_key" /v ClaimResult
check "AutoPlay default taken" has QuillmoorQMISInnoSample 'HKCR\AudioCD\shell' /ve
check "AutoPlay default saved" has play 'HKCR\AudioCD\shell' /v QmPrevious
check "extension taken, earlier type saved" has txtfile 'HKCR\.qminno' /v QmPrevious
check "helper in the product's folder run, exit code 3010" has 0xbc2 "$uninstall_key" /v HelperExitCode
check "version text from the buffer helper" has 2.0.0.60 "$uninstall_key" /v Version
check "size of the data folder" has 'REG_DWORD *0xa$' "$uninstall_key" /v DataBytes
check "the parked rename list is back: '$(renames)'" test "$(renames)" = "$before"

is() { has "REG_[A-Z_]* *$1\$" "${@:2}"; }  # the value is exactly $1
install_b() {
  wine "$work/qmis-sample-b-setup.exe" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART '/DIR=C:\QmisInnoB'
  check "second setup exits 0" test $? -eq 0
}
uninstall() {  # uninstall APP-FOLDER LOG-NAME
  local log="$WINEPREFIX/drive_c/$2"
  rm -f "$log"
  wine "$1\\unins000.exe" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART "/LOG=C:\\$2"
  check "uninstaller exits 0" test $? -eq 0
  # It copies itself to a temporary file, starts that and exits: its log
  # closes when the uninstall is done.
  for _ in $(seq 300); do grep -qs "Log closed" "$log" && break; sleep 0.1; done
  check "uninstall finished" grep -qs "Log closed" "$log"
}

install_b
check "second product holds AutoPlay" is QuillmoorQMISInnoSampleB 'HKCR\AudioCD\shell' /ve
check "the machine's verb still saved" is play 'HKCR\AudioCD\shell' /v QmPrevious
check "the machine's type still saved" is txtfile 'HKCR\.qminno' /v QmPrevious

uninstall "$app" qmis-uninstall.log
uninstalled=$(date +%s%N)
check "first removed: the second still holds AutoPlay" is QuillmoorQMISInnoSampleB 'HKCR\AudioCD\shell' /ve
check "first removed: the machine's verb still saved" is play 'HKCR\AudioCD\shell' /v QmPrevious
check "first removed: the shared keys stay for the second" has 0x2 'HKLM\SOFTWARE\Quillmoor\Shared\Engine' /v Refcount
check "claim list deleted" missing "$uninstall_key\\RefcountList"
check "QMIS.dll unloaded and deleted" test ! -e "$(winepath -u "$app\\QMIS.dll" 2>/dev/null)"
uninstall 'C:\QmisInnoB' qmis-uninstall-b.log
handed_back() {  # what both removals leave, in either order
  check "$1: shared keys released and deleted" missing 'HKLM\SOFTWARE\Quillmoor\Shared'
  check "$1: AutoPlay default handed back" is play 'HKCR\AudioCD\shell' /ve
  check "$1: AutoPlay saved verb removed" missing 'HKCR\AudioCD\shell' /v QmPrevious
  check "$1: AutoPlay verb keys removed" missing 'HKCR\AudioCD\shell\QuillmoorQMISInnoSample'
  check "$1: AutoPlay verb keys removed" missing 'HKCR\AudioCD\shell\QuillmoorQMISInnoSampleB'
  check "$1: extension handed back" is txtfile 'HKCR\.qminno' /ve
  check "$1: extension's saved type removed" missing 'HKCR\.qminno' /v QmPrevious
  check "$1: product's file types removed" missing 'HKCR\QuillmoorQMISInnoSampleFile.qminno'
  check "$1: product's file types removed" missing 'HKCR\QuillmoorQMISInnoSampleBFile.qminno'
  check "$1: product's uninstall key removed" missing "$uninstall_key"
}
handed_back "first, then second"
# The uninstaller appends its own clean-up entries behind the list.
check "the earlier rename list still leads: '$(renames)'" test "${before}" = "$(renames | cut -c1-${#before})"

# The other order.
wine "$work/qmis-sample-setup.exe" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART "/DIR=$app"
check "setup exits 0" test $? -eq 0
install_b
uninstall 'C:\QmisInnoB' qmis-uninstall-b2.log
check "second removed: AutoPlay back to the machine's verb" is play 'HKCR\AudioCD\shell' /ve
uninstall "$app" qmis-uninstall2.log
handed_back "second, then first"

ms() { echo $((($2 - $1) / 1000000)); }
echo "inno round trip (${QMIS_WINEARCH:-win32}): compile $(ms "$start" "$compiled") ms," \
     "install $(ms "$compiled" "$installed") ms, uninstall $(ms "$installed" "$uninstalled") ms"
finish "Inno Setup example"
