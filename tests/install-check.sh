#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that a desktop finds what it
# needs there, in the standard places, and that the launcher and metadata validate.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
expected=(
  "$prefix/bin/pulsewerk"
  "$share/applications/pulsewerk.desktop"
  "$share/metainfo/io.github.pulsewerk.Pulsewerk.metainfo.xml"
)
for size in 16 32 48 64 128 256; do
  expected+=("$share/icons/hicolor/${size}x${size}/apps/pulsewerk.png")
done
for file in "${expected[@]}"; do
  [ -s "$file" ] || { echo "missing after install: ${file#"$prefix"/}"; exit 1; }
done
[ -x "$prefix/bin/pulsewerk" ] || { echo "bin/pulsewerk is not executable"; exit 1; }

desktop-file-validate "$share/applications/pulsewerk.desktop"
appstreamcli validate --no-net "$share/metainfo/io.github.pulsewerk.Pulsewerk.metainfo.xml"
grep -q '^Icon=pulsewerk$' "$share/applications/pulsewerk.desktop"
grep -q '^Categories=.*Audio;.*Midi;.*Music;' "$share/applications/pulsewerk.desktop"
echo "installed and valid: ${#expected[@]} files"
