#!/usr/bin/env bash
# Sets up what is missing, builds Gardivo and runs it without a window on the shipped "Test
# Pattern" source (a room a figure walks through now and then): the real capture pipeline and
# detector in real time, with the settings, evidence and history of build/Gardivo/. It prints each
# condition and mode change, then the evidence files and history rows of the run.
# Options are gardivo-monitor's (see --help); without --seconds it runs for 40 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DGARDIVO_BUILD_TESTS=OFF >/dev/null
cmake --build build --target gardivo-monitor email
args=("$@")
if [[ " ${args[*]:-} " != *" --seconds "* ]]; then
    args+=(--seconds 40)
fi
exec build/Gardivo/gardivo-monitor --start "${args[@]}"
