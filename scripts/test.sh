#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test. Exits non-zero on any failure.
#   scripts/test.sh             the normal build in build/
#   GARDIVO_SANITIZE=1 scripts/test.sh   the same under AddressSanitizer and UBSan, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

build_dir=build
sanitize=OFF
if [ "${GARDIVO_SANITIZE:-0}" = "1" ]; then
    build_dir=build-asan
    sanitize=ON
    export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
fi

# The house style is checked before anything is built.
mapfile -t sources < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.c')
if [ ${#sources[@]} -gt 0 ]; then
    if ! clang-format --dry-run --Werror "${sources[@]}"; then
        echo "Formatting differs from .clang-format (run: clang-format -i on the files above)." >&2
        exit 1
    fi
fi

cmake -S . -B "$build_dir" -G Ninja -DGARDIVO_BUILD_TESTS=ON -DGARDIVO_SANITIZE="$sanitize"
cmake --build "$build_dir"

# Window tests need a display; without one, a private Xvfb serves them.
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
    . scripts/private_xvfb.sh
    start_private_xvfb 1280x1024x24
fi

# Tests must never touch the user's own registry.
registry_dir=$(mktemp -d)
export TAVRIN_REGISTRY_DIR="$registry_dir"
trap 'cleanup; rm -rf "$registry_dir"' EXIT

ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
