#!/usr/bin/env bash
# Builds the Debian package of Gardivo from a build folder (Release unless it was configured
# otherwise) and prints its file name. Install it with apt-get install ./gardivo_*.deb.
#   scripts/make_deb.sh [BUILD_DIR]
# Needs dpkg-dev for dpkg-shlibdeps (installed when missing and run as root).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
if ! command -v dpkg-shlibdeps >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends dpkg-dev >/dev/null
    else
        echo "make_deb.sh needs dpkg-dev: sudo apt-get install dpkg-dev" >&2
        exit 1
    fi
fi
scripts/bootstrap.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGARDIVO_BUILD_TESTS=OFF
fi
cmake --build "$build"
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/gardivo_*.deb
