#!/usr/bin/env bash
# The Debian package on this machine: installed with apt-get, used by an ordinary account,
# removed again without a file left behind. Needs root (it installs system-wide).
#   scripts/deb_test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "deb_test.sh installs a package: run it as root" >&2; exit 1; }
deb=$(scripts/make_deb.sh "${1:-build-release}" | tail -1)
deb=$(realpath "$deb")
echo "package: $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
dpkg -L gardivo | sort >/tmp/gardivo-files.txt
echo "installed $(grep -c . /tmp/gardivo-files.txt) paths"
# An ordinary account lists the sources of the installed copy (its sources.txt starts as the
# installed one) and watches the Test Pattern briefly.
home=$(mktemp -d)
chown 65534:65534 "$home"
setpriv --reuid=65534 --regid=65534 --clear-groups env -u TAVRIN_REGISTRY_DIR HOME="$home" \
    gardivo-monitor --list
setpriv --reuid=65534 --regid=65534 --clear-groups env -u TAVRIN_REGISTRY_DIR HOME="$home" \
    gardivo-monitor --start --seconds 8 | tail -3
ls "$home/.config/gardivo" "$home/.local/share/gardivo"
rm -rf "$home"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq gardivo >/dev/null
left=0
while read -r path; do
    # Folders the system shares with other packages stay; nothing of ours may.
    if [ -e "$path" ] && [ ! -d "$path" ]; then
        echo "left behind: $path" >&2
        left=1
    fi
done </tmp/gardivo-files.txt
[ -e /usr/lib/gardivo ] && { echo "left behind: /usr/lib/gardivo" >&2; left=1; }
[ "$left" -eq 0 ] && echo "removed: nothing left behind"
exit "$left"
