# Shared by the example tests (sourced): counted checks, and the system's
# reg.exe as an independent reader of the registry. Set `view=(/reg:32)` to
# read the 32-bit view of a 64-bit prefix, where a 32-bit DLL's keys live.
failures=0
passes=0
view=()

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
query() { wine reg query "$1" "${view[@]}" "${@:2}" 2>/dev/null | tr -d '\r'; }
# Read whole first: grep -q ends at its match, and under pipefail the
# reader it cut off would count as a failure.
has() { grep -q -- "$1" <<<"$(query "${@:2}")"; }
missing() { ! wine reg query "$1" "${view[@]}" "${@:2}" >/dev/null 2>&1; }
renames() {
  query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations |
    sed -n 's/.*REG_MULTI_SZ *//p'
}
# The closing line, and the exit status.
finish() {
  echo "$1: $passes passed, $failures failed"
  [ "$failures" -eq 0 ]
}
