# SPDX-License-Identifier: GPL-3.0-or-later
# What the listening end-to-end scripts share, sourced by each: their arguments, and the
# awk functions that read the clicks the onset analyser found in a recording.

# e2e_arguments USAGE_LINES NAME ARGS...: PULSEWERK ONSETS E2E_SESSION [WORKDIR] into
# $pulsewerk, $onsets, $session and $work (a new folder when none is given); a wrong
# count prints the script's usage lines (a sed address) and ends it with status 2.
e2e_arguments() {
  local usage=$1 name=$2
  shift 2
  if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    sed -n "${usage}p" "$0" >&2
    exit 2
  fi
  pulsewerk=$1
  onsets=$2
  session=$3
  work=${4:-$(mktemp -d "${TMPDIR:-/tmp}/pulsewerk-$name.XXXXXX")}
}

# The onsets as t[0..n-1] (ms) and level[0..n-1] (dBFS), and the checks' helpers.
read -r -d '' e2e_clicks_awk <<'AWK' || true
function ok(cond, what) { print (cond ? "ok - " : "not ok - ") what }
function abs(x) { return x < 0 ? -x : x }
# The first click from recording time `from` on.
function after(from,   i) { for (i = 0; i < n; i++) if (t[i] >= from) return i; return n }
# The largest error, with its sign, of the intervals ending at clicks from..to-1 against `want` ms.
function worst_error(from, to, want,   i, err, worst) {
  worst = 0
  for (i = from; i < to; i++) { err = t[i] - t[i - 1] - want; if (abs(err) > abs(worst)) worst = err }
  return worst
}
# Strong and weak clicks by loudness: the widest gap between the sorted levels of the
# first `upto` clicks (all when not given) splits them, when it is at least gap_db wide;
# strong[i] says which. Returns that gap in dB.
function split_by_loudness(gap_db, upto,   i, j, x, sorted, widest, split_at) {
  if (!upto) upto = n
  for (i = 0; i < upto; i++) sorted[i] = level[i]
  for (i = 1; i < upto; i++) for (j = i; j > 0 && sorted[j - 1] > sorted[j]; j--) { x = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = x }
  widest = 0; split_at = sorted[upto - 1] + 1
  for (i = 1; i < upto; i++) if (sorted[i] - sorted[i - 1] > widest) { widest = sorted[i] - sorted[i - 1]; split_at = (sorted[i] + sorted[i - 1]) / 2 }
  for (i = 0; i < n; i++) strong[i] = widest >= gap_db && level[i] > split_at
  return widest
}
BEGIN { n = 0 }
$1 == "onset" { t[n] = $2; level[n] = $3; n++ }
AWK

# check_clicks ONSETS_FILE CHECKS_FILE [AWK_OPTIONS...] <PROGRAM: runs the awk program on
# standard input over the onsets, after the functions above; its lines go to CHECKS_FILE.
check_clicks() {
  local input=$1 output=$2
  shift 2
  awk "$@" -f <(printf '%s\n' "$e2e_clicks_awk") -f - "$input" >"$output" || true
}
