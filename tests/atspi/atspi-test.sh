#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program as a screen reader meets it: on a private X display, with a private session
# bus and accessibility bus, atspi-check.py walks its AT-SPI tree and works it through the
# press actions alone; the program must then end by its Exit button with status 0.
#
# Usage: atspi-test.sh PULSEWERK
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: atspi-test.sh PULSEWERK" >&2; exit 2; }
pulsewerk=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)

# Everything inside one private session bus, which ends with it.
if [ -z "${PULSEWERK_ATSPI_INNER:-}" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/pulsewerk-atspi.XXXXXX")
  chmod 700 "$work"
  status=0
  PULSEWERK_ATSPI_INNER=$work timeout 120 dbus-run-session -- "$0" "$pulsewerk" || status=$?
  [ "$status" -eq 0 ] || { for f in "$work"/*.log; do echo "--- $f"; tail -n 20 "$f"; done; }
  rm -rf "$work"
  exit "$status"
fi

work=$PULSEWERK_ATSPI_INNER
export XDG_RUNTIME_DIR=$work HOME=$work XDG_CONFIG_HOME=$work/config
unset WAYLAND_DISPLAY
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# -noreset: a helper that connects and leaves before the program does would otherwise reset
# the server and cut off the program's connection under way.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$work/display" </dev/null >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 150); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)

# Qt joins the accessibility bus when asked to, without a desktop's setting.
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$pulsewerk" </dev/null >"$work/program.log" 2>&1 &
program=$!
pids+=("$program")

checked=0
/usr/bin/python3 "$here/atspi-check.py" || checked=$?
# Exit was pressed last: the program ends by itself.
program_status=0
for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program" 2>/dev/null; then
  echo "not ok - the program still runs 5 s after Exit was pressed"
  exit 1
fi
wait "$program" || program_status=$?
if [ "$program_status" -eq 0 ]; then echo "ok - pressing Exit ended the program with status 0"; else
  echo "not ok - the program ended with status $program_status"
  exit 1
fi
exit "$checked"
