#!/usr/bin/env bash
# The release as an installer author takes it: `make dist`'s archive is
# unpacked, the shipped DLL's header checked, and the consumer program built
# against the unpacked tree by three toolchains, then run under Wine:
#   1. mingw-w64 GCC, through find_package(qmis 2.0) (C and C++);
#   2. clang for i686-w64-windows-gnu with lld, as llvm-mingw builds,
#      linking lib/libQMIS.dll.a (C and C++);
#   3. clang for i686-pc-windows-msvc (Microsoft's ABI, _MSC_VER defined),
#      linked by lld-link against lib/QMIS.lib, with no C runtime and no
#      Windows SDK (C and C++).
set -euo pipefail
source_dir=$1
build=$2
out=$build/consumer
: "${WINEPREFIX:?run it through CTest, which sets WINEPREFIX}"
export WINEDEBUG=-all

rm -rf "$out"
release=$(bash "$source_dir/tests/support/unpack-release.sh" "$build" "$out/unpacked")
mkdir -p "$out/run"
echo "unpacked: ${release#"$out/unpacked/"}"

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The shipped DLL: small, versioned, hardened, and the build's exports and
# imports exactly.
dll=$release/bin/QMIS.dll
headers=$(i686-w64-mingw32-objdump -p "$dll")
size=$(stat -c %s "$dll")
[ "$size" -le 65536 ] || fail "QMIS.dll is $size bytes, over 64 KiB"
for flag in DYNAMIC_BASE NX_COMPAT NO_SEH; do
  grep -qw "$flag" <<<"$headers" || fail "QMIS.dll lacks $flag"
done
grep -qw .rsrc <<<"$(i686-w64-mingw32-objdump -h "$dll")" || fail "QMIS.dll has no resource section"
names() { i686-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '{print $NF}' | sort; }
imports() { i686-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {print tolower($3)}' | sort; }
[ "$(names "$dll")" = "$(names "$build/bin/QMIS.dll")" ] || fail "exports differ from the build's"
[ "$(names "$dll" | grep -c .)" -eq 29 ] || fail "export table does not hold the 28 names"
[ "$(imports "$dll")" = "$(printf 'advapi32.dll\nkernel32.dll\nmsvcrt.dll\nuser32.dll')" ] || fail "imports: $(imports "$dll" | tr '\n' ' ')"
[ "$(ls "$release/bin")" = QMIS.dll ] || fail "bin/ holds more than QMIS.dll: $(ls "$release/bin" | tr '\n' ' ')"
debug=$release/debug/QMIS.dll.debug
grep -q "directory_size.cpp" <<<"$(gdb -batch -ex "file $dll" -ex "symbol-file $debug" -ex "info line qmis::GetCopyFileSize" 2>&1)" ||
  fail "gdb finds no debug information in debug/QMIS.dll.debug"
mkdir -p "$out/beside"
cp "$dll" "$debug" "$out/beside/"
grep -q "directory_size.cpp" <<<"$(gdb -batch -ex "file $out/beside/QMIS.dll" -ex "info line qmis::GetCopyFileSize" 2>&1)" ||
  fail "gdb finds no debug information through the debug link beside the DLL"

# The pages speak of the release: none names a make target, the project's
# scripts/ or .ci/, or a source file under qmis/ (none of which ship).
while IFS=: read -r file line text; do
  fail "${file#"$release/"}:$line names what the release does not hold: $text"
done < <(grep -rnE '\bmake (all|setup|configure|build|test|test-win64|demo|bench|dist|lint|coverage|clean)\b|(^|[^/[:alnum:]_.-])(scripts|\.ci)/|(^|[^/[:alnum:]_.-])qmis/[[:alnum:]_/]*\.(cpp|h|def)\b|`qmis/`' \
  "$release/README" "$release/docs" "$release/examples" "$release/nsis" "$release/inno" "$release/include")
[ -d "$release/docs/dev" ] && fail "docs/dev/ is in the archive"

# docs/exports.md numbers each export as the DLL and lib/QMIS.def do, and
# links a page that names it.
ordinals() { i686-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  awk '/^\t\[/ {gsub(/[][]/, ""); print $1 + 1, $2}' | sort -n; }
listed=$(sed -nE 's/^\| ([0-9]+) \| `([^`]+)` \| \[[^]]*\]\(([^)#]+)\) \|$/\1 \2 \3/p' "$release/docs/exports.md")
[ "$(cut -d' ' -f1,2 <<<"$listed" | sort -n)" = "$(ordinals "$dll")" ] ||
  fail "docs/exports.md: the ordinals and names differ from the DLL's: $(diff <(cut -d' ' -f1,2 <<<"$listed" | sort -n) <(ordinals "$dll") | tr '\n' ' ')"
[ "$(sed -nE 's/^  ([^?][^ ]*)@[0-9]+ @([0-9]+)$/\2 \1/p; s/^  ([?][^ ]+) @([0-9]+)$/\2 \1/p' "$release/lib/QMIS.def" | sort -n)" = \
  "$(ordinals "$dll" | grep -v ' _DllMain@12$')" ] || fail "lib/QMIS.def: the ordinals differ from the DLL's"
while read -r number name page; do
  grep -qF -- "$name" "$release/docs/$page" || fail "docs/exports.md: ordinal $number links $page, which does not name $name"
done <<<"$listed"
cp "$dll" "$out/run/"

# 1. GCC, with find_package.
cmake -S "$source_dir/tests/consumer" -B "$out/gcc" \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" -DCMAKE_PREFIX_PATH="$release" >/dev/null
cmake --build "$out/gcc" >/dev/null
cp "$out/gcc/consumer_c.exe" "$out/run/gcc_c.exe"
cp "$out/gcc/consumer_cpp.exe" "$out/run/gcc_cpp.exe"

# 2. clang, GNU ABI. Debian's clang does not find the posix-threaded mingw
#    GCC's own folder (libgcc) by itself.
libgcc=$(dirname "$(i686-w64-mingw32-gcc-posix -print-libgcc-file-name)")
gnu=(--target=i686-w64-windows-gnu -fuse-ld=lld -static -L"$libgcc" -Wall -Wextra -Werror -I"$release/include")
clang "${gnu[@]}" -std=c99 "$source_dir/tests/consumer/consumer.c" "$release/lib/libQMIS.dll.a" -o "$out/run/clang_gnu_c.exe"
clang++ "${gnu[@]}" -std=c++20 "$source_dir/tests/consumer/consumer.cpp" "$release/lib/libQMIS.dll.a" -o "$out/run/clang_gnu_cpp.exe"

# 3. clang, Microsoft's ABI, and lld-link.
msvc=(--target=i686-pc-windows-msvc -fms-extensions -fms-compatibility -Wall -Wextra -Werror
      -DQMIS_NO_WINDOWS_H -DQMIS_CONSUMER_ENTRY=ConsumerStart -I"$release/include" -I"$source_dir/tests/consumer" -c)
clang "${msvc[@]}" -x c "$source_dir/tests/consumer/consumer.c" -o "$out/msvc_c.obj"
clang "${msvc[@]}" -x c++ -std=c++20 "$source_dir/tests/consumer/consumer.cpp" -o "$out/msvc_cpp.obj"
for variant in c cpp; do
  # Read whole first: grep -q ends at its match, and under pipefail the
  # reader it cut off would count as a failure.
  symbols=$(llvm-nm "$out/msvc_$variant.obj")
  for symbol in _QMSetup_GetVersionNum@4 _QMSetup_GetCopyFileSizeW@4; do
    grep -q " U $symbol" <<<"$symbols" || fail "the Microsoft-ABI object does not name $symbol"
  done
  lld-link /nologo /safeseh:no /nodefaultlib /entry:ConsumerStart /subsystem:console \
    /out:"$out/run/msvc_$variant.exe" "$out/msvc_$variant.obj" "$release/lib/QMIS.lib" \
    /usr/i686-w64-mingw32/lib/libkernel32.a /usr/i686-w64-mingw32/lib/libadvapi32.a
done
grep -q " U ?RegisterAutoInsertTag@@YGXPAD@Z" <<<"$(llvm-nm "$out/msvc_cpp.obj")" ||
  fail "Microsoft's C++ decoration of RegisterAutoInsertTag is not its export name"

for program in gcc_c gcc_cpp clang_gnu_c clang_gnu_cpp msvc_c msvc_cpp; do
  echo -n "$program: "
  wine "$out/run/$program.exe" </dev/null || fail "$program"
done

# The tools find the DLL in ..\bin, as the release lays them out.
wine "$release/tools/qmis-inspect.exe" --product "No Such Product" </dev/null >"$out/inspect.txt" || true
grep -q "Registry view:" "$out/inspect.txt" || fail "qmis-inspect from the release: $(head -c 200 "$out/inspect.txt")"

[ $failures -eq 0 ] && echo "release consumers: all passed" || echo "release consumers: $failures failed"
[ $failures -eq 0 ]
