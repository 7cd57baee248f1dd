#!/usr/bin/env bash
# Installs the Debian packages Gardivo builds and tests with, when any is missing.
# Safe to run again: with everything present it only asks dpkg and returns.
set -euo pipefail

packages=(
    # build
    g++ cmake ninja-build pkg-config clang-format
    # desktop UI and skin pages
    qt6-base-dev qt6-webengine-dev qt6-webchannel-dev
    # media framework
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    # what real cameras send: H.264 and H.265 (parsers in -bad, decoders in -libav), RTSP in -good
    gstreamer1.0-plugins-bad gstreamer1.0-libav
    # history database, audio mixer
    libsqlite3-dev libasound2-dev
    # alert mail: TLS with the system's trust store, and the resolver for mail exchangers
    libssl-dev ca-certificates libc6-dev
    # tests
    libgtest-dev libgmock-dev xvfb xauth locales
    # a notification area for the tray tests
    trayer
    # the checks of an installed copy: desktop entries and AppStream metadata
    desktop-file-utils appstream
    # the Debian package: dpkg-shlibdeps reads the libraries off the programs
    dpkg-dev
    # the cameras the tests start: an RTSP server with an H.264 encoder
    libgstrtspserver-1.0-dev gstreamer1.0-plugins-ugly
    # benchmarks and their baselines; the alarm picture as a JPEG for MQTT
    libbenchmark-dev libturbojpeg0-dev libyuv-dev
    # what leaves the machine: MQTT (the tests start a broker) and off-site copies through rclone
    libmosquitto-dev mosquitto mosquitto-clients rclone openssl
    # the web view: its HTTPS server and the accounts' Argon2id password hashes
    libcpp-httplib-dev libsodium-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Gardivo needs these Debian packages: ${missing[*]}" >&2
    echo "Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
