# SPDX-License-Identifier: GPL-3.0-or-later
# bench/answer-bench's pairing: reads answer_probe's events.txt, then bench/onsets' lines
# for the same recording, and prints the figures of one scenario as key=value pairs.
# sink_ms (-v): what the sink adds after the monitor until a sample is played.
function median(a, n,    i, j, v, s) {
  if (n == 0) return "na"
  for (i = 0; i < n; i++) s[i] = a[i]
  for (i = 1; i < n; i++) { v = s[i]; for (j = i - 1; j >= 0 && s[j] > v; j--) s[j + 1] = s[j]; s[j + 1] = v }
  return sprintf("%.1f", n % 2 ? s[(n - 1) / 2] : (s[n / 2 - 1] + s[n / 2]) / 2)
}
function worst(a, n,    i, w) {
  if (n == 0) return "na"
  w = a[0]
  for (i = 1; i < n; i++) if ((a[i] < 0 ? -a[i] : a[i]) > (w < 0 ? -w : w)) w = a[i]
  return sprintf("%.1f", w)
}
BEGIN { nd = nl = nk = nc = nlamp = nall = ntail = j = late = lost = 0 }
FNR == NR {
  if ($1 == "rate") rate = $2
  else if ($1 == "heard_after_ms") heard = $2 + sink_ms
  else if ($1 == "recorder_lag_ms") lag = $2
  else if ($1 == "poll_max_ms") poll = $2
  else if ($1 == "dating") { ds[nd] = $2; dt[nd] = $3; nd++ }
  else if ($1 == "lamp") { lt[nl] = $2; lv[nl] = $3; lgap[nl] = $4; nl++ }
  else if ($1 == "key") { kb[nk] = $2; ka[nk] = $3; kind[nk] = $4; nk++ }
  else if ($1 == "mapped") mapped = $2
  next
}
# The recording's clicks, in order, on the monotonic clock: from the last dating at or
# before the click's sample, at the recording's rate.
$1 == "onset" {
  sample = $2 * rate / 1000
  while (j + 1 < nd && ds[j + 1] <= sample) j++
  c[nc++] = dt[j] + (sample - ds[j]) * 1000 / rate + heard
}
END {
  # A start session: from the window's mapping to the first click heard, alone.
  if (mapped != "") {
    for (k = 0; k < nc && c[k] <= mapped; k++) {}
    printf "%s\n", k < nc ? sprintf("%.1f", c[k] - mapped) : "na"
    exit
  }
  first_key = nk ? ka[0] : 1e300
  # Each lamp lighting (a rise of the pixel's level: the lamps are dark once stopped)
  # before the first key, with the click nearest to it (at 120 bpm they are 500 ms apart).
  # A change seen by a reading more than 2 ms after the one before is left out (late_reads).
  for (i = 1; i < nl; i++) {
    if (lv[i] <= lv[i - 1] || lt[i] >= first_key) continue
    if (lgap[i] > 2) { late++; continue }
    best = ""
    for (k = 0; k < nc; k++) {
      d = c[k] - lt[i]
      if (d > -250 && d <= 250 && (best == "" || (d < 0 ? -d : d) < (best < 0 ? -best : best))) best = d
    }
    if (best != "") lamp[nlamp++] = best
  }
  send = 0
  for (i = 0; i < nk; i++) {
    if (ka[i] - kb[i] > send) send = ka[i] - kb[i]
    next_key = i + 1 < nk ? ka[i + 1] : 1e300
    if (kind[i] == "start" || kind[i] == "close") {
      for (k = 0; k < nc && c[k] <= ka[i]; k++) {}
      if (k < nc && c[k] < next_key) {
        all[nall++] = c[k] - ka[i]
        by[kind[i], nby[kind[i]]++] = c[k] - ka[i]
      }
    }
    # A key that stops the lamps (Space, Alt+O) and did not: lit again 0.3 s to 1 s on,
    # before the next key.
    upto = ka[i] + 1000 < next_key ? ka[i] + 1000 : next_key
    if (kind[i] == "stop" || kind[i] == "open")
      for (k = 1; k < nl; k++)
        if (lv[k] > lv[k - 1] && lt[k] > ka[i] + 300 && lt[k] < upto) { lost++; break }
    if (kind[i] == "stop" || kind[i] == "mute" || kind[i] == "open") {
      tail = 0
      for (k = 0; k < nc; k++) if (c[k] > ka[i] && c[k] < next_key && c[k] - ka[i] > tail) tail = c[k] - ka[i]
      tails[ntail++] = tail
    }
  }
  split("start close", kinds, " ")
  for (n = 1; n <= 2; n++) {
    m = 0
    for (i = 0; i < nby[kinds[n]]; i++) one[m++] = by[kinds[n], i]
    per = per sprintf(" %s_ms=%s", kinds[n], median(one, m))
  }
  printf "lamp_to_click_ms=%s lamp_to_click_worst_ms=%s lamps=%d answer_ms=%s answer_worst_ms=%s answers=%d%s",
    median(lamp, nlamp), worst(lamp, nlamp), nlamp, median(all, nall), worst(all, nall), nall, per
  printf " stop_tail_ms=%s heard_after_ms=%.1f recorder_lag_ms=%.1f key_send_max_ms=%.1f poll_max_ms=%.1f",
    worst(tails, ntail), heard, lag, send, poll
  printf " late_reads=%d keys_lost=%d\n", late, lost
}
