#!/usr/bin/env bash
# Start-up time and memory of the desktop program, offscreen, on the virtual
# radio. Runs the program several times with --report-startup and prints a
# table: time from main() to the main window shown, resident memory then,
# and time and memory once a tuning window is open (tuner mode entered).
#
#   bench/startup.sh [BUILD_DIR] [RUNS]      (defaults: build, 7)
#
# Limits: main window shown in under 300 ms; under 80 MB resident with a
# tuning window open. The script exits 1 when a median breaks a limit.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$repo/build}"
runs="${2:-7}"
program="$build/varnel-tuner"
[[ -x "$program" ]] || { echo "no program at $program (build with -DVARNEL_GUI=ON)" >&2; exit 2; }

export QT_QPA_PLATFORM=offscreen QT_FONT_DPI=96
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

median() { sort -n | awk '{a[NR]=$1} END {print (NR ? a[int((NR+1)/2)] : "-")}'; }

shown_ms=() shown_kb=() tuning_ms=() tuning_kb=()
for ((i = 1; i <= runs; ++i)); do
  # Main window only.
  out="$("$program" --virtual-radio --report-startup 2>/dev/null)"
  shown_ms+=("$(sed -n 's/^main window shown: \([0-9]*\) ms.*/\1/p' <<<"$out")")
  shown_kb+=("$(sed -n 's/^main window shown: .*memory \([0-9-]*\) kB/\1/p' <<<"$out")")
  # Tuner mode entered on the large model: the tuning window with its tree.
  out="$("$program" --virtual-radio=large --enter-tuner-mode --report-startup 2>/dev/null)"
  tuning_ms+=("$(sed -n 's/^tuning window open: \([0-9]*\) ms.*/\1/p' <<<"$out")")
  tuning_kb+=("$(sed -n 's/^tuning window open: .*memory \([0-9-]*\) kB/\1/p' <<<"$out")")
done

row() {  # name values...
  local name="$1"; shift
  local sorted; sorted="$(printf '%s\n' "$@" | sort -n)"
  printf '%-34s %8s %8s %8s\n' "$name" "$(head -1 <<<"$sorted")" "$(printf '%s\n' "$@" | median)" \
    "$(tail -1 <<<"$sorted")"
}

printf 'varnel-tuner start-up, %d runs, offscreen, virtual radio\n' "$runs"
printf '%-34s %8s %8s %8s\n' "" "min" "median" "max"
row "main window shown (ms)" "${shown_ms[@]}"
row "resident memory then (kB)" "${shown_kb[@]}"
row "tuning window open (ms)" "${tuning_ms[@]}"
row "resident memory with it (kB)" "${tuning_kb[@]}"

status=0
m_shown="$(printf '%s\n' "${shown_ms[@]}" | median)"
m_kb="$(printf '%s\n' "${tuning_kb[@]}" | median)"
if ((m_shown >= 300)); then echo "LIMIT: main window shown after ${m_shown} ms (limit 300 ms)"; status=1; fi
if ((m_kb >= 80 * 1024)); then echo "LIMIT: ${m_kb} kB resident with a tuning window (limit 80 MB)"; status=1; fi
((status == 0)) && echo "within limits (300 ms to the main window, 80 MB with a tuning window)"
exit "$status"
