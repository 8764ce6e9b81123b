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
# gcovr for make lint and make coverage. Quick when all is there.
#
# Some machines run a kernel that refuses 32-bit programs ("Exec format
# error"), and Wine's 32-bit side is one. There the 32-bit programs are handed
# to qemu's user-mode emulator through binfmt_misc, and a native 64-bit
# wineserver serves them. qemu comes from bookworm-backports: the 7.2 in
# bookworm spends about 50 s of CPU per Wine process start in its page-flag
# bookkeeping, 10.0 about a quarter of a second.
set -euo pipefail

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

updated=no
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  if [ $updated = no ]; then
    as_root apt-get update -qq
    updated=yes
  fi
  echo "setup: installing $*"
  as_root apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  as_root dpkg --add-architecture i386
fi

missing=()
for pkg in g++-mingw-w64-i686-posix wine wine32:i386 wine64 googletest cmake make nsis \
           zip clang lld llvm gdb git xvfb xauth clang-format clang-tidy gcovr; do
  installed "$pkg" || missing+=("$pkg")
done
# Debian's npm, unless Node and its npm came from elsewhere.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

bash "$(dirname "$0")/fetch-innosetup.sh" >/dev/null

# Can this kernel run Wine's 32-bit loader?
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
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
  if [ $updated = no ]; then as_root apt-get update -qq; updated=yes; fi
  echo "setup: installing qemu-user-static from bookworm-backports"
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends \
    -t bookworm-backports qemu-user-static >/dev/null
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
/usr/lib/wine/wine --version >/dev/null
echo "setup: 32-bit Wine runs through qemu"
