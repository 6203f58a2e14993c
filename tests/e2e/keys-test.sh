#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Keyboard only, heard: the real program at 150 bpm in 4/4, typed in and chosen by keys,
# then x2 by Alt+2, Options opened by Alt+O and closed by Alt+C, muted and unmuted by
# Alt+M, ended by Alt+X (keys-steps). From the recording alone: the clicks keep the x2
# beat in each stretch of sound, and fall silent while the dialog is open and while muted.
#
# Usage: keys-test.sh PULSEWERK ONSETS E2E_SESSION [WORKDIR]
set -euo pipefail
. "$(dirname "$0")/common.sh"

e2e_arguments 8 keys "$@"
period_ms=200 # 60000 / 150 / 2
tolerance_ms=3

rm -rf "$work"
mkdir -p "$work/config/Pulsewerk"
settings=$work/config/Pulsewerk/Pulsewerk.conf
printf '[Options]\nChannel=10\nStrongNote=61\nStrongVel=80\nWeakNote=60\nWeakVel=50\n' >"$settings"
settings_before=$(sha256sum <"$settings")

status=0
session_out=$(PULSEWERK_E2E_KEYS=$(dirname "$0")/keys-steps "$session" "$pulsewerk" 150 4/4 2 "$work") || status=$?
while IFS= read -r line; do echo "# $line"; done <<<"$session_out"
[ "$status" -eq 0 ] && echo "ok - the session ran to its end, Alt+X ending the program" ||
  { echo "not ok - the session failed (status $status)"; exit 1; }

"$onsets" "$work/out.wav" "$period_ms" >"$work/onsets.txt"
check_clicks "$work/onsets.txt" "$work/checks.txt" -v period="$period_ms" -v tol="$tolerance_ms" <<'AWK'
END {
  # Stretches of sound, split where no click came for three periods.
  s = 0; start[0] = 0
  for (i = 1; i < n; i++) if (t[i] - t[i - 1] > 3 * period) { gap[s] = t[i] - t[i - 1]; start[++s] = i }
  start[s + 1] = n
  ok(s == 2, "three stretches of sound: before Options, after it, after unmuting (" s + 1 " found)")
  if (s != 2) exit 1
  ok(gap[0] >= 800, sprintf("silence while the options dialog is open (%.0f ms)", gap[0]))
  ok(gap[1] >= 1500, sprintf("silence while muted (%.0f ms)", gap[1]))
  for (k = 0; k <= 2; k++) {
    # Before Options: the last ten, at x2. After a stretch of silence: from the second
    # click on, since the first beat after the dialog comes at once, off the grid.
    from = k == 0 ? start[1] - 10 : start[k] + 2
    worst = worst_error(from, start[k + 1], period)
    ok(start[k + 1] - from >= 9 && abs(worst) <= tol,
       sprintf("stretch %d: %d intervals of %d ms within %d ms (worst %+.2f ms)", k + 1, start[k + 1] - from, period, tol, worst))
  }
}
AWK
cat "$work/checks.txt"
failures=$(grep -c '^not ok' "$work/checks.txt" || true)
grep -q '^ok - stretch 3' "$work/checks.txt" || failures=$((failures + 1))
if [ "$(sha256sum <"$settings")" = "$settings_before" ]; then echo "ok - Cancel left the settings untouched"; else
  echo "not ok - the settings file changed"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || { echo "e2e_keys: FAILED; recording and logs in $work"; exit 1; }
echo "e2e_keys: passed"
