#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel in build/run/ with the images, the icon
# and the sample settings file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
mkdir -p build/run
cp -n assets/* build/run/ 2>/dev/null || true
cd build/run
exec ../bin/KOVEXFuel
