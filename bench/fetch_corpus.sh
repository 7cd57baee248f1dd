#!/usr/bin/env bash
# The natural pictures bench_trv2 codes: the photographs Debian's python3-skimage ships in its
# data folder, taken from the package without installing it or anything it depends on.
#   bench/fetch_corpus.sh DIRECTORY
# Leaves DIRECTORY/skimage/data/*.png|jpg; does nothing when they are there already. Without
# network or apt the benchmark runs on its synthetic scene alone and says so.
set -euo pipefail
target=${1:?usage: fetch_corpus.sh DIRECTORY}
data="$target/skimage/data"
if [ -f "$data/astronaut.png" ]; then
    exit 0
fi
mkdir -p "$target"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && apt-get download python3-skimage >/dev/null 2>&1); then
    echo "fetch_corpus: cannot download python3-skimage (no network or apt lists?); run apt-get update" >&2
    exit 0
fi
dpkg -x "$work"/python3-skimage_*.deb "$work/x"
mkdir -p "$data"
cp "$work"/x/usr/lib/python3/dist-packages/skimage/data/{astronaut.png,coffee.png,chelsea.png,motorcycle_left.png,rocket.jpg,hubble_deep_field.jpg,retina.jpg} "$data/"
echo "fetch_corpus: photographs in $data"
