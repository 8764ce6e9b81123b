#!/usr/bin/env bash
# Runs scripts/setup.sh against stub apt-get, dpkg and dpkg-query programs
# that replay a mirror's answers: an update that cannot fetch one index, an
# install refused without that index, an install that succeeds only with the
# fallback. Checks the calls made and the lines printed for each scenario.
# Touches none of the machine's packages.
set -uo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stubs=$work/stubs
mkdir -p "$stubs" "$work/cache/innosetup-6.4.1/bin"
touch "$work/cache/innosetup-6.4.1/bin/ISCC.exe"

bad_index=http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz

# apt-get: the first $UPDATE_FAILS updates and $INSTALL_FAILS installs fail.
cat >"$stubs/apt-get" <<STUB
#!/usr/bin/env bash
n=\$(( \$(grep -c "^\$1" "\$STUB_LOG" 2>/dev/null || true) + 1 ))
echo "\$*" >>"\$STUB_LOG"
for arg in "\$@"; do
  case \$arg in Dir::Etc::Preferences=*) sed 's/^/  pin: /' "\${arg#*=}" >>"\$STUB_LOG" ;; esac
done
case \$1 in
  update) if [ \$n -le \$UPDATE_FAILS ]; then
            echo "E: Failed to fetch $bad_index  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]" >&2
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
            exit 100
          fi ;;
  install) if [ \$n -le \$INSTALL_FAILS ]; then
             echo "E: Unable to correct problems, you have held broken packages." >&2
             exit 100
           fi ;;
esac
exit 0
STUB
cat >"$stubs/dpkg-query" <<'STUB'
#!/usr/bin/env bash
[ "$ALL_INSTALLED" = yes ] && printf 'install ok installed'
exit 0
STUB
cat >"$stubs/dpkg" <<'STUB'
#!/usr/bin/env bash
[ "$1" = --print-foreign-architectures ] && echo i386
exit 0
STUB
printf '#!/bin/sh\nexit 0\n' >"$stubs/npm"
printf '#!/bin/sh\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/*

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
failures=0
# scenario: updates that fail | installs that fail | all installed | exit | calls | printed lines
while IFS='|' read -r name update_fails install_fails all_installed want_rc want_calls want_lines; do
  [ -n "$name" ] || continue
  log=$work/$name.calls
  : >"$log"
  out=$(PATH="$stubs:$PATH" STUB_LOG=$log UPDATE_FAILS=$update_fails INSTALL_FAILS=$install_fails \
        ALL_INSTALLED=$all_installed QMIS_CACHE=$work/cache QMIS_WINE_LOADER=true \
        bash "$source_dir/scripts/setup.sh" 2>&1)
  rc=$?
  calls=$(sed -E 's/ (-y|-qq|--no-install-recommends)//g; s/install (.*) g\+\+-mingw-w64-i686-posix .*/install \1 PACKAGES/;
                  s/install g\+\+-mingw-w64-i686-posix .*/install PACKAGES/; s#Dir::Etc::Preferences=[^ ]*#PINS#' "$log" |
          tr '\n' ';')
  want_calls=${want_calls//CODENAME/$codename}
  problems=()
  [ "$rc" = "$want_rc" ] || problems+=("exit $rc, expected $want_rc")
  [ "$calls" = "$want_calls" ] || problems+=("calls '$calls', expected '$want_calls'")
  IFS=';' read -ra lines <<<"$want_lines"
  for line in "${lines[@]}"; do
    line=${line//CODENAME/$codename}
    grep -qF -- "$line" <<<"$out" || problems+=("no line '$line'")
  done
  if [ "$want_lines" = "" ] && grep -q 'could not fetch\|refused\|cannot install' <<<"$out"; then
    problems+=("a mirror message on a whole mirror")
  fi
  if [ ${#problems[@]} -gt 0 ]; then
    failures=$((failures + 1))
    echo "FAIL $name:"; printf '  %s\n' "${problems[@]}"; echo "  output:"; sed 's/^/    /' <<<"$out"
  else
    echo "ok   $name"
  fi
done <<ROWS
nothing_missing|0|0|yes|0||
whole_mirror|0|0|no|0|update;install PACKAGES;|
update_fails_once|1|0|no|0|update;update;install PACKAGES;|
broken_index_install_fine|2|0|no|0|update;update;install PACKAGES;|could not fetch $bad_index; going on
broken_index_fallback|2|1|no|0|update;update;install PACKAGES;install -t CODENAME -o PINS PACKAGES;  pin: Package: *;  pin: Pin: release n=bookworm-security;  pin: Pin-Priority: -1;  pin: ;|could not fetch $bad_index;trying again with CODENAME's versions preferred and bookworm-security left out
refused_on_whole_mirror|0|1|no|0|update;install PACKAGES;install -t CODENAME PACKAGES;|trying again with CODENAME's versions preferred
cannot_install|2|2|no|1|update;update;install PACKAGES;install -t CODENAME -o PINS PACKAGES;  pin: Package: *;  pin: Pin: release n=bookworm-security;  pin: Pin-Priority: -1;  pin: ;|held broken packages;setup: cannot install g++-mingw-w64-i686-posix;(the index of bookworm-security could not be fetched)
ROWS
exit $((failures > 0))
