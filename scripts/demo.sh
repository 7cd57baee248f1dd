#!/usr/bin/env bash
# Sets up what is missing, builds Gardivo and runs its monitoring core on the built-in synthetic
# scene (a still background, then a moving object) on virtual time: it prints each condition and
# mode change, then the evidence files and the history rows the run produced.
# Options: --seconds N, --tracing-mode 0|1|2, --stop-rule 0|1|2, --condition-limit N.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DGARDIVO_BUILD_TESTS=OFF >/dev/null
cmake --build build --target gardivo-demo deinterlace email
exec build/bin/gardivo-demo "$@"
