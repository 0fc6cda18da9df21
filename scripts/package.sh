#!/usr/bin/env bash
# Builds release programs and writes the packages into dist/: kovexfuel_<version>_amd64.deb for
# Debian and Ubuntu (install it with "sudo apt install ./dist/kovexfuel_<version>_amd64.deb"), and for
# Windows, cross-built with MinGW-w64, KOVEXFuel-<version>-win64.zip and the setup program
# KOVEXFuel-<version>-setup.exe made with NSIS. The version is the one in the project() line of
# CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Debian's own compiler and linker flags (hardening included), as a package built by the archive.
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

# Only the shipped programs are built; the packers must not wait for the tests and benchmarks.
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DKOVEX_PACKAGE=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build build-pkg -j "$(nproc)" --target KOVEXFuel kovex-server kovex-simulator kovex_package_files
rm -f build-pkg/kovexfuel_*.deb
(cd build-pkg && cpack -G DEB >/dev/null)

cmake -S . -B build-pkg-win -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
rm -f build-pkg-win/KOVEXFuel-*-setup.exe
cmake --build build-pkg-win -j "$(nproc)" --target KOVEXFuel kovex-server kovex_setup
rm -f build-pkg-win/KOVEXFuel-*-win64.zip
(cd build-pkg-win && cpack -G ZIP >/dev/null)

mkdir -p dist
rm -f dist/kovexfuel_*.deb dist/KOVEXFuel-*-win64.zip dist/KOVEXFuel-*-setup.exe
cp build-pkg/kovexfuel_*.deb build-pkg-win/KOVEXFuel-*-win64.zip build-pkg-win/KOVEXFuel-*-setup.exe dist/
ls -1 dist/kovexfuel_*.deb dist/KOVEXFuel-*-win64.zip dist/KOVEXFuel-*-setup.exe
