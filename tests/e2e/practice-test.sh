#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The practice tools, heard: the real program at 120 bpm in 4/4, worked by keys
# (practice-steps): Space stops the clicks; Space starts them again and four taps of T
# follow, all 400 ms apart in one go; then the speed trainer from 100 to 110 by 5 every
# bar (the values stored beforehand), started with Enter; PageDown to the first song of
# the setlist (120 in 4/4), Ctrl+1 for a count-in of a bar, Space and Space again after
# a silence; PageDown to the next song (150); Ctrl+Q ends it. From the recording:
# silence while stopped and the downbeat at once on start; clicks every 400 ms after the
# taps, the first a downbeat one period after the last tap; the trainer's intervals bar
# by bar; four count-in clicks alike then the downbeat on their 500 ms grid; the next
# song's downbeat at once and its 400 ms.
#
# Usage: practice-test.sh PULSEWERK ONSETS E2E_SESSION [WORKDIR]
set -euo pipefail
. "$(dirname "$0")/common.sh"

e2e_arguments 14 practice "$@"
tolerance_ms=3 # for every interval
heard_ms="10 60" # the time a key takes to be heard on a desktop server, at least and at most
gap_db=3       # strong clicks are at least this much louder than weak ones

rm -rf "$work"
mkdir -p "$work/config/Pulsewerk"
printf '[Options]\nChannel=10\nStrongNote=61\nStrongVel=80\nWeakNote=60\nWeakVel=50\n[Trainer]\nStart=100\nEnd=110\nStep=5\nBars=1\n' \
  >"$work/config/Pulsewerk/Pulsewerk.conf"
printf '[Song1]\nName=Practice\nTempo=120\nMeter=4/4\nMultiplier=1\nCountIn=0\n[Song2]\nName=Faster\nTempo=150\nMeter=4/4\nMultiplier=1\nCountIn=0\n' \
  >>"$work/config/Pulsewerk/Pulsewerk.conf"

status=0
session_out=$(PULSEWERK_E2E_KEYS=$(dirname "$0")/practice-steps "$session" "$pulsewerk" 120 4/4 2 "$work") || status=$?
while IFS= read -r line; do echo "# $line"; done <<<"$session_out"
[ "$status" -eq 0 ] && echo "ok - the session ran to its end, Ctrl+Q ending the program" ||
  { echo "not ok - the session failed (status $status)"; exit 1; }

# When each timed key call started, on the wall clock.
sent() { sed -n "s/.*keys --delay 400 $1 sent_ms=\([0-9]*\).*/\1/p" "$work/session.log"; }
start_ms=$(sent 'space t t t t')
return_ms=$(sent Return)
next_ms=$(sent Next | tail -n1)
countin_ms=$(sent space)

"$onsets" "$work/out.wav" >"$work/onsets.txt"
check_clicks "$work/onsets.txt" "$work/checks.txt" -v tol="$tolerance_ms" -v heard="$heard_ms" -v gap_db="$gap_db" \
  -v start_ms="$start_ms" -v return_ms="$return_ms" \
  -v next_ms="$next_ms" -v countin_ms="$countin_ms" <<'AWK'
# Every interval from click `i` on against `want` ms: the worst error, or "short" when
# there are fewer than `count` intervals.
function intervals(i, count, want) { return i + count >= n ? "short" : worst_error(i + 1, i + count + 1, want) }
END {
  if (n < 20) { ok(0, "the recording holds clicks (" n " found)"); exit 1 }
  # The first silence while stopped, which places the key calls in the recording: the
  # same way in and out for all, up to the tens of milliseconds by which two key calls'
  # ways into the program differ. The count-in starts at the last Space.
  r = -1
  for (i = 1; i < n; i++) if (t[i] - t[i - 1] > 1200) { r = i; break }
  if (r < 0) { ok(0, "a silence while stopped"); exit 1 }
  offset = t[r] - start_ms
  c = after(countin_ms + offset - 50)
  # Strong and weak by loudness, split on the clicks before the count-in's own sound.
  widest = split_by_loudness(gap_db, c)
  ok(widest >= gap_db, sprintf("strong clicks are louder than weak ones (by %.1f dB)", widest))
  for (i = 0; i < n; i++) printf "# %4d %9.2f %8.2f %s\n", i, t[i], i ? t[i] - t[i - 1] : 0, strong[i] ? "strong" : "weak"

  # Stop and start: the first long silence, and a downbeat right after it.
  ok(t[r] - t[r - 1] >= 1500, sprintf("no click while stopped (%.0f ms of silence)", t[r] - t[r - 1]))
  ok(strong[r], "the first click after Space is the downbeat")
  ok(t[r + 1] - t[r] >= 500 - tol && t[r + 1] - t[r] <= 500 + tol, sprintf("then the next beat 500 ms later (%.1f ms)", t[r + 1] - t[r]))

  # Space at 0, taps at 400, 800, 1200, 1600 ms, by one and the same key call, so the
  # keys' way into the program is the same for all. The start's downbeat is heard the
  # time a key takes to be heard after Space (and the loop's millisecond); the tapped
  # beat one period after the last tap as heard, that time earlier than 2001 ms after it.
  j = after(t[r] + 1700)
  split(heard, range, " ")
  ok(j < n && 2001 - (t[j] - t[r]) >= range[1] && 2001 - (t[j] - t[r]) <= range[2], sprintf("the first click after the taps falls one period after the last tap (%.1f ms after the start's downbeat: a key heard %.1f ms after it, %d to %d)", t[j] - t[r], 2001 - (t[j] - t[r]), range[1], range[2]))
  ok(strong[j], "and it is the downbeat")
  w = intervals(j, 6, 400)
  ok(w != "short" && abs(w) <= tol, "then every 400 ms (150 bpm) (worst " w " ms)")

  # The trainer: the downbeat when Start is pressed, then bars at 100, 105, 110, 110 bpm.
  k = after(return_ms + offset - 50)
  ok(k < n && abs(t[k] - (return_ms + offset)) <= 100, sprintf("the trainer starts at once, well within a period (%+.1f ms)", t[k] - (return_ms + offset)))
  split("600 571 545 545", period, " ")
  for (b = 1; b <= 4; b++) {
    first = k + 4 * (b - 1)
    ok(first < n && strong[first], "bar " b " starts with a downbeat")
    w = intervals(first, 4, period[b])
    ok(w != "short" && abs(w) <= tol, "bar " b ": every " period[b] " ms (worst " w " ms)")
  }

  # The first song at 120, then a count-in of a bar: after the second silence four
  # clicks alike (a side stick, not the beat's strong and weak notes), then the downbeat
  # on their 500 ms grid, and the bar's beats on it.
  ok(c < n && abs(t[c] - (countin_ms + offset)) <= 100, sprintf("Space starts the count-in at once (%+.1f ms)", t[c] - (countin_ms + offset)))
  if (c + 5 >= n) exit 1
  w = intervals(c, 7, 500)
  ok(w != "short" && abs(w) <= tol, "the count-in and the bar after it every 500 ms (worst " w " ms)")
  spread = 0
  for (i = c + 1; i < c + 4; i++) if (abs(level[i] - level[c]) > spread) spread = abs(level[i] - level[c])
  ok(spread <= 1, sprintf("the four count-in clicks sound alike (within %.1f dB)", spread))
  ok(abs(level[c + 4] - level[c]) > 1 || abs(level[c + 5] - level[c]) > 1, sprintf("and unlike the beat (%.1f and %.1f dB against %.1f)", level[c + 4], level[c + 5], level[c]))
  ok(strong[c + 4] && !strong[c + 5], "the beat starts on its downbeat after the count-in")

  # PageDown to the next song, 150: its downbeat at once, then every 400 ms.
  k = after(next_ms + offset - 50)
  ok(k < n && abs(t[k] - (next_ms + offset)) <= 100, sprintf("the next song starts at once (%+.1f ms)", t[k] - (next_ms + offset)))
  ok(strong[k], "on its downbeat")
  w = intervals(k, 6, 400)
  ok(w != "short" && abs(w) <= tol, "then every 400 ms, its tempo (worst " w " ms)")
}
AWK
cat "$work/checks.txt"
failures=$(grep -c '^not ok' "$work/checks.txt" || true)
grep -q '^ok - then every 400 ms, its tempo' "$work/checks.txt" || grep -q '^not ok' "$work/checks.txt" || failures=$((failures + 1))
[ "$failures" -eq 0 ] || { echo "e2e_practice: FAILED; recording and logs in $work"; exit 1; }
echo "e2e_practice: passed"
