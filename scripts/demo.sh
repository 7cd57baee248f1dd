#!/usr/bin/env bash
# Sets up what is missing, builds Gardivo and runs the motion detector on its built-in synthetic
# scene (a still background, then a moving object), printing each tick's decision.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DGARDIVO_BUILD_TESTS=OFF >/dev/null
cmake --build build --target gardivo-demo deinterlace
exec build/bin/gardivo-demo "$@"
