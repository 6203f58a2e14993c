#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch prefix and checks that a desktop finds what it
# needs there, in the standard places, named by the component id: the launcher and
# metadata validate, every icon has its folder's size, and the manual page renders
# without a warning.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
id=io.github.pulsewerk.Pulsewerk
sizes=(16 22 24 32 48 64 96 128 256 512)
expected=(
  "$prefix/bin/pulsewerk"
  "$share/applications/$id.desktop"
  "$share/metainfo/$id.metainfo.xml"
  "$share/icons/hicolor/scalable/apps/$id.svg"
  "$share/icons/hicolor/symbolic/apps/$id-symbolic.svg"
  "$share/man/man1/pulsewerk.1.gz"
)
for size in "${sizes[@]}"; do
  expected+=("$share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for file in "${expected[@]}"; do
  [ -s "$file" ] || { echo "missing after install: ${file#"$prefix"/}"; exit 1; }
done
[ -x "$prefix/bin/pulsewerk" ] || { echo "bin/pulsewerk is not executable"; exit 1; }

for size in "${sizes[@]}"; do
  file "$share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "PNG image data, $size x $size," ||
    { echo "the ${size}x${size} icon is not $size pixels square"; exit 1; }
done
for svg in "$share/icons/hicolor/scalable/apps/$id.svg" "$share/icons/hicolor/symbolic/apps/$id-symbolic.svg"; do
  grep -q '<svg xmlns="http://www.w3.org/2000/svg"' "$svg" || { echo "not an SVG: $svg"; exit 1; }
done

desktop-file-validate "$share/applications/$id.desktop"
appstreamcli validate --pedantic --no-net "$share/metainfo/$id.metainfo.xml"
grep -q "^Icon=$id\$" "$share/applications/$id.desktop"
grep -q '^Categories=.*Audio;.*Midi;.*Music;' "$share/applications/$id.desktop"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$share/metainfo/$id.metainfo.xml"

# The manual page renders without a warning, and covers the options and exit statuses.
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$share/man/man1/pulsewerk.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "the manual page renders with warnings: $warnings"; exit 1; }
page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$share/man/man1/pulsewerk.1.gz" 2>/dev/null)
for word in --tempo --meter --multiplier --mute --help --version 'EXIT STATUS' Pulsewerk.conf SoundFont xvfb-run; do
  grep -q -- "$word" <<<"$page" || { echo "the manual page does not mention $word"; exit 1; }
done
echo "installed and valid: ${#expected[@]} files"
