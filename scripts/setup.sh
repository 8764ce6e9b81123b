#!/usr/bin/env bash
# Installs what the build and the tests need, only where it is missing:
# the i386 architecture, the mingw-w64 posix cross compiler, Wine (with its
# 32-bit part, and wine64 for 64-bit prefixes, where the 32-bit programs run
# as on 64-bit Windows), GoogleTest's sources, CMake, make and NSIS (for the
# example installer), and for the release: zip, clang, lld and llvm (the
# other toolchains its consumers are built with), gdb (to check the debug
# link); for the Inno Setup example: Node's package manager, which fetches the
# Inno Setup compiler (scripts/fetch-innosetup.sh), and Xvfb, since a built
# setup needs a display even when very silent; clang-format, clang-tidy and
# gcovr for make lint and make coverage; locales, whose Japanese source the
# code page 932 runs generate. Quick when all is there.
#
# A mirror is sometimes caught half-synced: one package index fails to
# download ("File has unexpected size ... Mirror sync in progress?") while
# the rest are whole. The update is then tried once more, and the setup goes
# on with the indexes it has. Without the failed index, the i386 libraries
# exist only in the main suite's versions while their amd64 twins have newer
# candidates elsewhere, and "Multi-Arch: same" packages must be of one version
# on both architectures; so an install that fails is tried again with the
# main suite preferred and the failed suites left out of that one run.
#
# Some machines run a kernel that refuses 32-bit programs ("Exec format
# error"), and Wine's 32-bit side is one. There the 32-bit programs are handed
# to qemu's user-mode emulator through binfmt_misc, and a native 64-bit
# wineserver serves them. qemu comes from bookworm-backports: the 7.2 in
# bookworm spends about 50 s of CPU per Wine process start in its page-flag
# bookkeeping, 10.0 about a quarter of a second.
set -euo pipefail

# The Wine loader whose start tells whether this kernel runs 32-bit programs.
wine_loader=${QMIS_WINE_LOADER:-/usr/lib/wine/wine}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == *'install ok installed'* ]]
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The suites whose index the last update could not fetch, e.g. bookworm-security.
failed_suites=()
updated=no
apt_update() {
  [ $updated = no ] || return 0
  updated=yes
  export DEBIAN_FRONTEND=noninteractive
  local attempt
  for attempt in 1 2; do
    if as_root apt-get update -qq 2>"$work/update.log"; then
      failed_suites=()
      return 0
    fi
  done
  # "E: Failed to fetch http://host/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  ..."
  local urls
  urls=$(grep -oE 'Failed to fetch [^ ]+' "$work/update.log" | cut -d' ' -f4 | sort -u || true)
  mapfile -t failed_suites < <(sed -nE 's#.*/dists/([^/]+)/.*#\1#p' <<<"$urls" | sort -u)
  echo "setup: apt-get update could not fetch ${urls:-an index (see below)}; going on with the indexes it has"
  [ -n "$urls" ] || sed 's/^/setup:   /' "$work/update.log"
}

apt_install() {
  apt_update
  echo "setup: installing $*"
  if as_root apt-get install -y -qq --no-install-recommends "$@" >"$work/install.log" 2>&1; then
    return 0
  fi
  # Prefer the main suite's versions, and leave the suites whose index failed
  # out of this run, so that both architectures are offered one version.
  local codename release_args=() suite
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  release_args=(-t "$codename")
  if [ ${#failed_suites[@]} -gt 0 ]; then
    for suite in "${failed_suites[@]}"; do
      printf 'Package: *\nPin: release n=%s\nPin-Priority: -1\n\n' "$suite"
    done >"$work/preferences"
    release_args+=(-o "Dir::Etc::Preferences=$work/preferences")
  fi
  echo "setup: the install was refused ($(grep -m1 '^E:' "$work/install.log" || tail -n1 "$work/install.log"));" \
       "trying again with $codename's versions preferred${failed_suites[*]:+ and ${failed_suites[*]} left out}"
  if as_root apt-get install -y -qq --no-install-recommends "${release_args[@]}" "$@" \
       >"$work/install.log" 2>&1; then
    return 0
  fi
  sed 's/^/setup:   /' "$work/install.log" >&2
  echo "setup: cannot install $*${failed_suites[*]:+ (the index of ${failed_suites[*]} could not be fetched)};" \
       "nothing was built. Try again when the mirror is whole." >&2
  exit 1
}

if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
  echo "setup: adding the i386 architecture"
  as_root dpkg --add-architecture i386
fi

missing=()
for pkg in g++-mingw-w64-i686-posix wine wine32:i386 wine64 googletest cmake make nsis \
           zip clang lld llvm gdb git xvfb xauth clang-format clang-tidy gcovr locales python3; do
  installed "$pkg" || missing+=("$pkg")
done
# Debian's npm, unless Node and its npm came from elsewhere.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

bash "$(dirname "$0")/fetch-innosetup.sh" >/dev/null

# Can this kernel run Wine's 32-bit loader?
if "$wine_loader" --version >/dev/null 2>&1; then
  exit 0
fi

echo "setup: this kernel does not run 32-bit programs; using qemu user-mode emulation"
backports=/etc/apt/sources.list.d/qmis-bookworm-backports.sources
if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  as_root tee "$backports" >/dev/null <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  updated=no
fi
if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || echo 0)" ge 1:10; then
  apt_update
  echo "setup: installing qemu-user-static from bookworm-backports"
  if ! DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends \
         -t bookworm-backports qemu-user-static >"$work/install.log" 2>&1; then
    sed 's/^/setup:   /' "$work/install.log" >&2
    echo "setup: cannot install qemu-user-static from bookworm-backports;" \
         "32-bit Wine cannot run on this kernel without it" >&2
    exit 1
  fi
fi

binfmt=/proc/sys/fs/binfmt_misc
[ -e $binfmt/register ] || as_root mount -t binfmt_misc binfmt_misc $binfmt
qemu=$(readlink -f /usr/bin/qemu-i386-static)
if [ -e $binfmt/qemu-i386 ] && ! grep -qx "interpreter $qemu" $binfmt/qemu-i386 &&
   ! grep -qx "interpreter /usr/bin/qemu-i386-static" $binfmt/qemu-i386; then
  echo -1 | as_root tee $binfmt/qemu-i386 >/dev/null
fi
if [ ! -e $binfmt/qemu-i386 ]; then
  echo "setup: registering i386 programs with $qemu"
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$qemu:FP" | as_root tee $binfmt/register >/dev/null
fi
"$wine_loader" --version >/dev/null
echo "setup: 32-bit Wine runs through qemu"
