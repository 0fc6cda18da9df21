#!/usr/bin/env bash
# Checks the packages scripts/package.sh wrote: lintian finds no error in the Debian package, its
# files are exactly the layout in expected_files.txt with owner root and the right modes, it needs
# SDL and GL, the Windows zip holds the programs, the Windows setup program is there and made for
# 64-bit Windows, and all carry the version of CMakeLists.txt.
# Usage: check_package.sh <dist folder> <source folder>
set -u
dist=$1
source=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

version=$(sed -n 's/^project(KOVEXFuel VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
[ -n "$version" ] || { echo "FAIL: no version in $source/CMakeLists.txt"; exit 1; }
deb=$dist/kovexfuel_${version}_amd64.deb
zip=$dist/KOVEXFuel-$version-win64.zip
[ -f "$deb" ] || { echo "FAIL: $deb was not made (dist holds: $(ls "$dist"))"; exit 1; }
[ -f "$zip" ] || fail "$zip was not made (dist holds: $(ls "$dist"))"
setup=$dist/KOVEXFuel-$version-setup.exe
[ -f "$setup" ] || fail "$setup was not made (dist holds: $(ls "$dist"))"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's Version is $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libsdl2-2.0-0 libgl1 libglu1 libc6; do
  grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

# lintian exits non-zero on errors only; its warnings are shown all the same.
report=$(lintian --tag-display-limit 0 "$deb" 2>&1) || fail "lintian reports errors"
grep -v '^running with root privileges' <<<"$report" || true

listing=$(dpkg-deb -c "$deb")
diff -u "$(dirname "$0")/expected_files.txt" \
  <(awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' <<<"$listing" | sort) ||
  fail "the package's files differ from the layout (- expected, + packed)"
awk '$2 != "root/root" { print "not owned by root: " $6; bad = 1 }
     $1 ~ /^d/ && $1 != "drwxr-xr-x" { print "folder mode " $1 ": " $6; bad = 1 }
     $1 ~ /^-/ && $6 ~ /^\.\/usr\/(bin\/|lib\/kovexfuel\/)/ && $1 != "-rwxr-xr-x" { print "program mode " $1 ": " $6; bad = 1 }
     $1 ~ /^-/ && $6 !~ /^\.\/usr\/(bin\/|lib\/kovexfuel\/)/ && $1 != "-rw-r--r--" { print "file mode " $1 ": " $6; bad = 1 }
     END { exit bad }' <<<"$listing" || fail "owners or modes are wrong"

if [ -f "$zip" ]; then
  entries=$(cmake -E tar tf "$zip")
  for file in KOVEXFuel.exe kovex-server.exe KOVEXFuel.INI lcd.bmp plane2.ico README.txt; do
    grep -qx "KOVEXFuel-$version-win64/$file" <<<"$entries" || fail "the zip lacks KOVEXFuel-$version-win64/$file"
  done
fi

if [ -f "$setup" ]; then
  # The PE signature and the x86-64 machine type, at the offset the DOS header gives.
  pe_at=$(od -An -tu4 -j60 -N4 "$setup" | tr -d ' ')
  [ "$(od -An -tx1 -j"${pe_at:-0}" -N6 "$setup" | tr -d ' ')" = 504500006486 ] ||
    fail "$setup is not a 64-bit Windows program"
  # Its version resource names the version, in UTF-16 as Windows shows it in the file's properties.
  python3 -c 'import sys; sys.exit(("KOVEXFuel %s setup" % sys.argv[2]).encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
    "$setup" "$version" || fail "$setup does not carry version $version"
fi

if [ "$failures" -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
