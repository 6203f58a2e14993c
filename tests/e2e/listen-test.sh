#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Listens to the real program: plays it headless at 150 bpm in 4/4 for ten seconds
# (on the audio server E2E_SERVER names, see scripts/e2e-session),
# worked through the keyboard, records what it sounds and checks from the audio alone
# that the clicks keep the beat and the bar, that Exit ends it at once and cleanly, and
# that the settings file is left as it was.
#
# Usage: listen-test.sh PULSEWERK ONSETS E2E_SESSION [WORKDIR]
#   PULSEWERK    the program; ONSETS the onset analyser (bench/onsets);
#   E2E_SESSION  scripts/e2e-session; WORKDIR is emptied and keeps the recording and logs.
set -euo pipefail
. "$(dirname "$0")/common.sh"

e2e_arguments 9,11 listen "$@"

tempo=150
period_ms=400     # 60000 / 150
tolerance_ms=2    # for every interval: the clicks are sample-exact, the rest is room for a busy machine
seconds=10
least_clicks=20   # in 4/4, from the first strong click on
most_before=4     # weak clicks of the start-up tempo and meter before the first bar
gap_db=3          # strong clicks are at least this much louder than weak ones

failures=0
check() { # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then
    echo "ok - $what"
  else
    echo "not ok - $what"
    failures=$((failures + 1))
  fi
}

# The work folder is emptied: only a new one, or one that a run of this test left.
if [ -n "$(ls -A "$work" 2>/dev/null)" ] && [ ! -e "$work/session.log" ]; then
  echo "listen-test: $work holds other files; give an empty or new folder" >&2
  exit 2
fi
rm -rf "$work"
mkdir -p "$work/config/Pulsewerk"

# The sound settings, as the options dialog stores them: the defaults, so the clicks
# are the known ones (channel 10, strong note 61 at velocity 80, weak note 60 at 50).
settings=$work/config/Pulsewerk/Pulsewerk.conf
printf '[Options]\nChannel=10\nStrongNote=61\nStrongVel=80\nWeakNote=60\nWeakVel=50\n' >"$settings"
settings_before=$(sha256sum <"$settings")

# One session: tempo 150 typed in, 4/4 chosen, ten seconds recorded, then Exit.
echo "# session: $session $pulsewerk $tempo 4/4 $seconds $work"
session_status=0
session_out=$("$session" "$pulsewerk" "$tempo" 4/4 "$seconds" "$work") || session_status=$?
while IFS= read -r line; do echo "# $line"; done <<<"$session_out"
check "the session ran to its end (status $session_status)" test "$session_status" -eq 0
recording=$work/out.wav
if [ ! -s "$recording" ]; then
  echo "not ok - nothing was recorded"
  exit 1
fi

# The clicks, from the audio alone.
"$onsets" "$recording" "$period_ms" >"$work/onsets.txt"
check_clicks "$work/onsets.txt" "$work/checks.txt" -v period="$period_ms" -v tol="$tolerance_ms" \
  -v least="$least_clicks" -v most_before="$most_before" -v gap_db="$gap_db" <<'AWK'
END {
  ok(n > 0, "the recording holds clicks (" n " found)")
  if (n == 0) exit 1

  widest = split_by_loudness(gap_db)
  ok(widest >= gap_db, sprintf("the strong clicks are louder than the weak ones (by %.1f dB, at least %.1f)", widest, gap_db))
  first = -1
  for (i = 0; i < n; i++) if (strong[i] && first < 0) first = i

  printf "#    n     t_ms  interval_ms  level_dbfs  beat\n"
  for (i = 0; i < n; i++) {
    kind = strong[i] ? "strong" : "weak"
    if (first >= 0 && i >= first) kind = kind " " ((i - first) % 4 + 1) "/4"
    if (i == 0) printf "# %4d %8.2f %12s %11.2f  %s\n", i, t[i], "", level[i], kind
    else printf "# %4d %8.2f %12.2f %11.2f  %s\n", i, t[i], t[i] - t[i - 1], level[i], kind
  }
  if (first < 0) { ok(0, "a strong click starts the bar"); exit 1 }

  # Before the first bar there may be weak clicks of the start-up meter "None" (the
  # first beat comes half a second after the window opens, about when the keys arrive);
  # the bar starts with the first beat after the choice.
  ok(first <= most_before, "the first bar starts at once after the meter is chosen (" first " weak clicks before it, at most " most_before ")")

  # The bar: strong, weak, weak, weak, over and over, every click on the beat.
  bars = n - first
  ok(bars >= least, "at least " least " clicks in 4/4 (" bars ")")
  pattern_ok = 1; worst = 0; sum2 = 0
  for (i = first; i < n; i++) {
    if (strong[i] != ((i - first) % 4 == 0)) { pattern_ok = 0; if (!wrong) wrong = sprintf("click %d at %.2f ms is %s", i, t[i], strong[i] ? "strong" : "weak") }
    if (i > first) { err = t[i] - t[i - 1] - period; sum2 += err * err; if (abs(err) > abs(worst)) worst = err }
  }
  ok(pattern_ok, "the bar is one strong click and three weak ones, repeated" (pattern_ok ? "" : ": " wrong))
  # For the record (not checked): the bar's clicks against a straight line fitted to them.
  sk = 0; st = 0; m = 0
  for (i = first; i < n; i++) { k[i] = int((t[i] - t[first]) / period + 0.5); sk += k[i]; st += t[i]; m++ }
  sk /= m; st /= m; sxy = 0; sxx = 0
  for (i = first; i < n; i++) { sxy += (k[i] - sk) * (t[i] - st); sxx += (k[i] - sk) ^ 2 }
  if (sxx > 0) {
    slope = sxy / sxx; dev = 0
    for (i = first; i < n; i++) { d = abs(t[i] - (st + (k[i] - sk) * slope)); if (d > dev) dev = d }
    printf "# in 4/4: fitted period %.3f ms, largest deviation from that grid %.2f ms\n", slope, dev
  }
  ok(abs(worst) <= tol, sprintf("every interval in 4/4 is %d ms within %d ms (worst %+.2f ms, rms %.2f ms)", period, tol, worst, bars > 1 ? sqrt(sum2 / (bars - 1)) : 0))
}
AWK
cat "$work/checks.txt"
failures=$((failures + $(grep -c '^not ok' "$work/checks.txt" || true)))
# The last check is there unless an earlier one failed and ended the analysis.
grep -q '^ok - every interval' "$work/checks.txt" || grep -q '^not ok' "$work/checks.txt" || {
  echo "not ok - the analysis of the clicks did not finish"
  failures=$((failures + 1))
}
grep -E '^# (dropout|resumed|quiet) ' "$work/onsets.txt" || true
summary=$(grep '^summary' "$work/onsets.txt" || true)
echo "# $summary"
clipped=$(sed -n 's/.* clipped_samples=\([0-9]*\).*/\1/p' <<<"$summary")
check "the sound never clips (${clipped:-unknown} samples at full scale)" test "${clipped:-1}" -eq 0

# Exit ends the program with status 0 within a second.
exit_line=$(echo "$session_out" | grep '^exit_status=' || true)
exit_status=$(echo "$exit_line" | sed -n 's/.*exit_status=\([0-9]*\).*/\1/p')
exit_ms=$(echo "$exit_line" | sed -n 's/.*exit_ms=\(-\{0,1\}[0-9]*\).*/\1/p')
check "Exit ends the program with status 0 (status ${exit_status:-unknown})" test "${exit_status:-x}" = 0
check "Exit ends it within a second (${exit_ms:-unknown} ms)" test "${exit_ms:-100000}" -le 1000

# On PipeWire the program plays a stream of its own in the graph, not one through the
# PulseAudio service (whose clients carry client.api "pipewire-pulse").
if [ "${E2E_SERVER:-pulse}" = pipewire ]; then
  check "the sound goes to PipeWire as a stream of its own" awk '/^Sink Input #/ { if (ours) exit; via = 0 }
    /application.name = "Pulsewerk"/ { ours = 1 } /client.api = "pipewire-pulse"/ { via = 1 }
    END { exit !(ours && !via) }' "$work/streams.txt"
fi

# Nothing was written to the settings.
check "the settings file is untouched" test "$(sha256sum <"$settings" 2>/dev/null)" = "$settings_before"

if [ "$failures" -ne 0 ]; then
  echo "e2e_listen: FAILED ($failures); recording and logs in $work"
  exit 1
fi
echo "e2e_listen: passed; recording in $recording"
