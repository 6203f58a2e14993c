#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package, checks its control fields, its stripped binary and its
# lintian report, and, as root, installs it with apt as a user would, starts the
# installed program and removes the package again.
# Usage: package-check.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$1
build=$2

deb=$("$source/scripts/package" "$build" | tail -n 1)
echo "built: $deb"
field() { dpkg-deb --field "$deb" "$1"; }
dpkg-deb --info "$deb"

[ "$(field Section)" = sound ] || { echo "section is not sound"; exit 1; }
depends=$(field Depends)
for needed in 'timgm6mb-soundfont | fluid-soundfont-gm' libfluidsynth3 libqt6widgets6; do
  [[ $depends == *"$needed"* ]] || { echo "Depends lacks $needed: $depends"; exit 1; }
done

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb --extract "$deb" "$contents"
file "$contents/usr/bin/pulsewerk" | grep -q ', stripped' || { echo "the binary is not stripped"; exit 1; }
for doc in copyright changelog.Debian.gz; do
  [ -s "$contents/usr/share/doc/pulsewerk/$doc" ] || { echo "missing /usr/share/doc/pulsewerk/$doc"; exit 1; }
done

# No errors and no warnings (the informational tags are shown too, for the log).
lintian --display-info --fail-on error,warning "$deb"
echo "lintian: no errors, no warnings"

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: installing the package is left out"
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
(cd "$(dirname "$deb")" && apt-get install -y -q -o DPkg::Lock::Timeout=600 "./$(basename "$deb")")
trap 'apt-get purge -y -q -o DPkg::Lock::Timeout=600 pulsewerk >/dev/null; rm -rf "$contents"' EXIT
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM pulsewerk --version)
echo "$version"
[[ $version == "Pulsewerk $(field Version | cut -d- -f1)"* ]] || { echo "unexpected version"; exit 1; }
man -w pulsewerk
echo "installed and started: $(command -v pulsewerk)"
